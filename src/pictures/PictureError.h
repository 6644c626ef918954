#pragma once

#include <QString>

#include <stdexcept>

namespace qm {

// A picture file that could not be created or written. The message names the file and the
// reason; no part of the file is left behind.
class PictureError : public std::runtime_error {
 public:
  PictureError(const QString& path, const QString& message)
      : std::runtime_error(message.toStdString()), path_(path) {}

  const QString& Path() const { return path_; }

 private:
  QString path_;
};

}  // namespace qm
