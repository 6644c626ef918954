#include "platform/files/RestoreTokenFile.h"

#include <algorithm>

#include "platform/files/BinaryFile.h"
#include "platform/files/OutputName.h"

namespace qm {

namespace {

constexpr qsizetype kMaxToken = 256;

bool TokenCharacter(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':';
}

}  // namespace

bool IsRestoreToken(const QString& token) {
  return !token.isEmpty() && token.size() <= kMaxToken &&
         std::all_of(token.begin(), token.end(),
                     [](QChar c) { return TokenCharacter(c.unicode()); });
}

QString ParseRestoreToken(const QByteArray& contents) {
  const qsizetype end = contents.indexOf('\n');
  const QByteArray line = (end < 0 ? contents : contents.left(end)).trimmed();
  if (line.size() > kMaxToken) return {};
  const QString token = QString::fromLatin1(line);
  return IsRestoreToken(token) ? token : QString();
}

QString ReadRestoreToken(const QString& path, QString* problem) {
  BinaryFile file;
  QString refused;
  const bool open = OpenOutputRead(path, file, refused);
  if (problem) *problem = refused;
  if (!open) return {};
  // A token is short: more than a few lines' worth is no token file.
  QByteArray bytes(std::clamp<int64_t>(file.Size(), 0, 4 * kMaxToken), '\0');
  if (!file.ReadAt(0, bytes.data(), size_t(bytes.size()))) return {};
  return ParseRestoreToken(bytes);
}

QString WriteRestoreToken(const QString& path, const QString& token) {
  if (!IsRestoreToken(token))
    return QStringLiteral(
        "The desktop's restore token is not kept: it is not one it could have "
        "made");
  return ReplaceOutput(path, token.toLatin1() + '\n', 0600);
}

}  // namespace qm
