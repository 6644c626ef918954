#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace qm {

// Address that error reports and "E-mail support" are mailed to, set by the packager's
// option QM_SUPPORT_EMAIL.
extern const char kSupportEmail[];

// Shows the "Error encountered" report (whose receiver opens the pre-filled e-mail when the
// user asks for it), then ends the current operation with SilentAbort. Never returns.
[[noreturn]] void ShowErrorReport(const QString& message);

// The "mailto:" address of an error report about message (only line ends are encoded).
QString ErrorReportMailUrl(const QString& message);

// A new braced, upper-case GUID (38 characters); empty when none can be made.
QString NewGuidString();

// Days since 30 December 1899 (time of day as fraction) times 1000000, rounded.
QString TimeStampDigits();
QString TimeStampDigits(const QDateTime& localTime);

// a + b*2^8 + c*2^16 + d*2^24: "MP42" gives 0x3234504D.
constexpr uint32_t MakeFourCC(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}
constexpr uint32_t MakeFourCC(const char (&code)[5]) {
  return MakeFourCC(uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), uint8_t(code[3]));
}
// The four characters of a code, lowest byte first.
QString FourCCText(uint32_t code);

// The first width characters of text, padded with spaces to exactly width characters,
// on the left when padLeft is set, else on the right.
QString FixedWidth(const QString& text, int width, bool padLeft);

}  // namespace qm
