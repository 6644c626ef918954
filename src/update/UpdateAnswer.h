#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace qm {

// The update service's answer: the product name, the latest version, the service's new base
// address, the download page and release notes, one per line.
struct UpdateAnswer {
  QString version;
  std::optional<QString> website;      // only an http:// or https:// address
  std::optional<QString> downloadUrl;  // likewise
  QStringList notes;                   // lines 5 and on, as they are
};

// Bodies larger than this are no answer.
inline constexpr qsizetype kMaxAnswerBytes = 64 * 1024;

// Reads an untrusted body: nothing when it is too large, has fewer than 4 lines (ended by CR,
// LF or CR LF; a final line break adds no line) or its first line is not the product's name
// (letter case aside). An address that is not http:// or https:// is left out.
std::optional<UpdateAnswer> ParseUpdateAnswer(const QByteArray& body, const QString& product);

// Whether text is an absolute http:// or https:// address with a host.
bool IsWebAddress(const QString& text);

// What the update window shows: "Version " and the version, an empty line, the notes, with
// no empty lines at the end.
QString UpdateMemoText(const UpdateAnswer& answer);

}  // namespace qm
