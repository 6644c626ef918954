#include "platform/portal/RestoreTokenFile.h"

#include <QFile>
#include <QSaveFile>

namespace qm {

namespace {

constexpr qsizetype kMaxToken = 256;

bool TokenCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == ':';
}

}  // namespace

QString ParseRestoreToken(const QByteArray& contents) {
  const qsizetype end = contents.indexOf('\n');
  const QByteArray line = (end < 0 ? contents : contents.left(end)).trimmed();
  if (line.isEmpty() || line.size() > kMaxToken) return {};
  for (const char c : line)
    if (!TokenCharacter(c)) return {};
  return QString::fromLatin1(line);
}

QString ReadRestoreToken(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  // A token is short: more than a few lines' worth is no token file.
  return ParseRestoreToken(file.read(4 * kMaxToken));
}

bool WriteRestoreToken(const QString& path, const QString& token) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(token.toLatin1() + '\n');
  return file.commit();
}

}  // namespace qm
