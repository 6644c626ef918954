#pragma once

#include <QByteArray>
#include <QString>

#include "platform/files/BinaryFile.h"

namespace qm {

class Folder;

// The file an export reads: the recording itself when it is a complete AVI file; for a
// recording that was cut off (a crash, a power cut: its RIFF lists do not reach the end of
// the file), a private copy made beside the output and completed as "repair" completes the
// recording, so the recording itself stays as it is. Throws ExportError for a file that is
// no AVI file or that a recorder still writes.
class RecordingSource {
 public:
  RecordingSource(const QString& input, Folder& place, const QString& placePath);
  // Removes the private copy.
  ~RecordingSource();
  RecordingSource(const RecordingSource&) = delete;
  RecordingSource& operator=(const RecordingSource&) = delete;

  QString Path() const { return path_; }
  bool Repaired() const { return !copyName_.isEmpty(); }

 private:
  // The RIFF lists follow each other up to the file's end.
  static bool Complete(const BinaryFile& file, int64_t size);
  void RepairCopy(const BinaryFile& input, const QString& name);

  QString path_;
  Folder& place_;
  QString placePath_;
  QByteArray copyName_;
  BinaryFile copy_;
};

}  // namespace qm
