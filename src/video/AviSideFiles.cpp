#include "video/AviSideFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace qm {

namespace {

constexpr int kRandomDigits = 12;

// name is the prefix, the random digits and suffix.
bool IsSideName(const QByteArray& name, const QByteArray& prefix, const char* suffix) {
  const QByteArray tail(suffix);
  if (name.size() != prefix.size() + kRandomDigits + tail.size() || !name.startsWith(prefix) ||
      !name.endsWith(tail))
    return false;
  for (qsizetype i = prefix.size(); i < prefix.size() + kRandomDigits; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

AviSideFiles::Prefix AviSideFiles::PrefixOf(const QString& fileName) {
  const QFileInfo info(fileName);
  QString folder = QDir(info.absolutePath()).canonicalPath();
  if (folder.isEmpty()) folder = info.absolutePath();
  const QString full = folder + QLatin1Char('/') + info.fileName();
  const QByteArray hash =
      QCryptographicHash::hash(QFile::encodeName(full), QCryptographicHash::Sha1).toHex().left(16);
  return {folder, ".~" + hash + '-'};
}

QString AviSideFiles::SpoolPathFor(const QString& fileName) {
  const Prefix side = PrefixOf(fileName);
  const quint64 random = QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFFFull;
  return side.Folder + QLatin1Char('/') + QFile::decodeName(side.Start) +
         QString::number(random, 16).rightJustified(kRandomDigits, QLatin1Char('0')) +
         QStringLiteral(".idx");
}

bool AviSideFiles::IsSpoolOf(const QString& spoolPath, const QString& fileName) {
  const Prefix side = PrefixOf(fileName);
  const QFileInfo spool(spoolPath);
  QString folder = QDir(spool.absolutePath()).canonicalPath();
  return !folder.isEmpty() && folder == side.Folder &&
         IsSideName(QFile::encodeName(spool.fileName()), side.Start, ".idx");
}

QStringList AviSideFiles::SpoolsOf(const QString& fileName) {
  const Prefix side = PrefixOf(fileName);
  QStringList spools;
  const QDir folder(side.Folder);
  for (const QString& name :
       folder.entryList({QFile::decodeName(side.Start) + QLatin1Char('*')},
                        QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
    if (IsSideName(QFile::encodeName(name), side.Start, ".idx")) spools << folder.filePath(name);
  }
  return spools;
}

}  // namespace qm
