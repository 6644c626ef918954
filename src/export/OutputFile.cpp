#include "export/OutputFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include "export/ExportError.h"

namespace qm {

namespace {

[[noreturn]] void Refuse(const QString& message) {
  throw ExportError(message.toStdString());
}

}  // namespace

OutputFile::OutputFile(const QString& path, const QString& input, bool replace)
    : path_(path), replace_(replace) {
  const QFileInfo info(path);
  folderPath_ = info.absolutePath();
  name_ = QFile::encodeName(info.fileName());
  if (!folder_.Open(folderPath_))
    Refuse(QStringLiteral("Can not write in the folder ") + folderPath_);
  if (QFileInfo(input).exists() && info.exists() &&
      QFileInfo(input).canonicalFilePath() == info.canonicalFilePath())
    Refuse(path + QStringLiteral(" is the recording itself"));
  if (!folder_.Has(name_)) return;
  if (!replace) Refuse(path + QStringLiteral(" exists; --force replaces it"));
  if (!folder_.OpenRead(name_, replaced_))
    Refuse(path + QStringLiteral(" is not a regular file; it is left alone"));
}

OutputFile::~OutputFile() {
  if (!committed_ && !temporary_.isEmpty()) folder_.RemoveIfHolds(temporary_, file_);
}

void OutputFile::Create() {
  temporary_ = folder_.CreateUnique("." + name_ + ".", ".part", file_, 0666);
  if (temporary_.isEmpty())
    Refuse(QStringLiteral("Can not create a file in ") + folderPath_ + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno)));
}

QString OutputFile::TemporaryPath() const {
  return QDir(folderPath_).filePath(QFile::decodeName(temporary_));
}

void OutputFile::Commit() {
  if (!file_.SyncData())
    Refuse(QStringLiteral("Can not write ") + path_ + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno)));
  switch (folder_.Rename(temporary_, name_, file_,
                         replace_ && replaced_.IsOpen() ? &replaced_ : nullptr)) {
    case Folder::Renamed::Done:
      committed_ = true;
      return;
    case Folder::Renamed::Taken:
      Refuse(path_ + QStringLiteral(" appeared meanwhile; it is left alone"));
    case Folder::Renamed::Failed:
      break;
  }
  Refuse(QStringLiteral("Can not name the file ") + path_);
}

}  // namespace qm
