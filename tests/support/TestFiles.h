#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace qm::test {

// The whole content of a file; empty when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace qm::test
