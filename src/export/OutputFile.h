#pragma once

#include <QByteArray>
#include <QString>

#include "platform/files/BinaryFile.h"
#include "platform/files/Folder.h"

namespace qm {

// The file an export writes: made under a temporary name of its own in the output's folder
// (exclusively, never through a link) and given its name only once it is complete, so a
// failed or cancelled export leaves the folder as it was. An existing file of that name is
// refused unless it may be replaced. Throws ExportError.
class OutputFile {
 public:
  // Checks the name: its folder exists, nothing stands there (unless replace, and then a
  // regular file), and it is not input.
  OutputFile(const QString& path, const QString& input, bool replace);
  // Removes the temporary file unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Makes the temporary file.
  void Create();
  int Descriptor() const { return file_.Descriptor(); }
  QString TemporaryPath() const;
  Folder& Place() { return folder_; }
  // The output's folder.
  QString FolderPath() const { return folderPath_; }

  // Brings the file to the disk and gives it its name.
  void Commit();

 private:
  QString path_;
  QString folderPath_;
  QByteArray name_;
  QByteArray temporary_;
  Folder folder_;
  BinaryFile file_;
  BinaryFile replaced_;
  bool replace_;
  bool committed_ = false;
};

}  // namespace qm
