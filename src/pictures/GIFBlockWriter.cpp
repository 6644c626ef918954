#include "pictures/GIFBlockWriter.h"

#include <QIODevice>

#include "pictures/GIFError.h"

namespace qm {

void GIFBlockWriter::WriteBlock() {
  block_[0] = uint8_t(count_);
  const qint64 size = count_ + 1;
  count_ = 0;
  if (out_.write(reinterpret_cast<const char*>(block_.data()), size) != size)
    throw GIFError("Can not write GIF data: " + out_.errorString().toStdString());
}

void GIFBlockWriter::Finish() {
  if (count_ > 0) WriteBlock();
  if (!out_.putChar('\0'))
    throw GIFError("Can not write GIF data: " + out_.errorString().toStdString());
}

}  // namespace qm
