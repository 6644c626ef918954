#pragma once

#include <QIODevice>

namespace qm::test {

// A device that takes the first limit bytes and refuses the rest, like a disk that fills up;
// with no limit it refuses every write.
class FullDevice : public QIODevice {
 public:
  explicit FullDevice(qint64 limit = 0) : limit_(limit) { open(QIODevice::WriteOnly); }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char*, qint64 size) override {
    if (written_ + size > limit_) {
      setErrorString(QStringLiteral("No space left on device"));
      return -1;
    }
    written_ += size;
    return size;
  }

 private:
  qint64 limit_;
  qint64 written_ = 0;
};

}  // namespace qm::test
