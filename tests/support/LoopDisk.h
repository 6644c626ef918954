#pragma once

#include <QString>
#include <QTemporaryDir>

namespace qm::test {

// A small ext4 file system of its own, made in an image file and mounted through a loop device
// for as long as the object lives: a real disk that fills up. Needs root (the tests run as
// root in CI); Ready() tells whether it could be made.
class LoopDisk {
 public:
  explicit LoopDisk(int megabytes);
  ~LoopDisk();
  LoopDisk(const LoopDisk&) = delete;
  LoopDisk& operator=(const LoopDisk&) = delete;

  bool Ready() const { return mounted_; }
  // The mounted file system's root folder.
  QString Folder() const { return folder_; }

 private:
  QTemporaryDir dir_;
  QString folder_;
  bool mounted_ = false;
};

}  // namespace qm::test
