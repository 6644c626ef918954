#pragma once

#include <QString>

namespace qm {

// Address that error reports and "E-mail support" are mailed to, set by the packager's
// option QM_SUPPORT_EMAIL.
extern const char kSupportEmail[];

// Shows the "Error encountered" report (whose receiver opens the pre-filled e-mail when the
// user asks for it), then ends the current operation with SilentAbort. Never returns.
[[noreturn]] void ShowErrorReport(const QString& message);

// The "mailto:" address of an error report about message (only line ends are encoded).
QString ErrorReportMailUrl(const QString& message);

}  // namespace qm
