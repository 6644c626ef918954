#include "export/RecordingSource.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "export/ExportError.h"
#include "platform/files/Folder.h"
#include "video/AviRepair.h"

namespace qm {

namespace {

[[noreturn]] void Refuse(const QString& message) {
  throw ExportError(message.toStdString());
}

}  // namespace

RecordingSource::RecordingSource(const QString& input, Folder& place, const QString& placePath)
    : path_(input), place_(place), placePath_(placePath) {
  BinaryFile file;
  if (!file.OpenRead(input))
    Refuse(QStringLiteral("Can not read ") + input + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno)));
  uint8_t head[12];
  const int64_t size = file.Size();
  if (size < int64_t(sizeof head) || !file.ReadAt(0, head, sizeof head) ||
      GetLE32(head) != MakeFourCC("RIFF") || GetLE32(head + 8) != MakeFourCC("AVI "))
    Refuse(input + QStringLiteral(" is not an AVI file"));
  if (file.TryLock() == BinaryFile::LockResult::Busy)
    Refuse(QStringLiteral("The file ") + input + QStringLiteral(" is being recorded."));
  if (Complete(file, size)) return;
  try {
    RepairCopy(file, input);
  } catch (...) {
    // The destructor does not run for an object that was never made.
    if (!copyName_.isEmpty()) place_.RemoveIfHolds(copyName_, copy_);
    throw;
  }
}

RecordingSource::~RecordingSource() {
  if (!copyName_.isEmpty()) place_.RemoveIfHolds(copyName_, copy_);
}

bool RecordingSource::Complete(const BinaryFile& file, int64_t size) {
  int64_t at = 0;
  while (at < size) {
    uint8_t head[12];
    if (!file.ReadAt(at, head, sizeof head) || GetLE32(head) != MakeFourCC("RIFF")) return false;
    at += 8 + int64_t(GetLE32(head + 4)) + (GetLE32(head + 4) & 1);
  }
  return at == size;
}

void RecordingSource::RepairCopy(const BinaryFile& input, const QString& name) {
  copyName_ = place_.CreateUnique(".quillmark-export-", ".avi", copy_, 0600);
  if (copyName_.isEmpty())
    Refuse(QStringLiteral("Can not create a file in ") + placePath_ + QStringLiteral(": ") +
           QString::fromLocal8Bit(std::strerror(errno)));
  // The kernel copies (or shares the blocks, where the file system can).
  loff_t from = 0;
  for (;;) {
    const ssize_t copied = ::copy_file_range(input.Descriptor(), &from, copy_.Descriptor(), nullptr,
                                             size_t(1) << 30, 0);
    if (copied == 0) break;
    if (copied < 0)
      Refuse(QStringLiteral("Can not copy ") + name + QStringLiteral(" to complete it: ") +
             QString::fromLocal8Bit(std::strerror(errno)));
  }
  path_ = QDir(placePath_).filePath(QFile::decodeName(copyName_));
  const RepairResult result = AviRepair::Repair(path_);
  if (result.Result == RepairResult::Outcome::Refused)
    Refuse(name + QStringLiteral(" is damaged and can not be read"));
}

}  // namespace qm
