#include "pictures/GIFColorMap.h"

#include <QIODevice>

#include "pictures/GIFError.h"

namespace qm {

bool GIFColorMap::Add(uint8_t red, uint8_t green, uint8_t blue) {
  if (count_ >= kMaxEntries) return false;
  uint8_t* entry = &entries_[size_t(count_) * 3];
  entry[0] = red;
  entry[1] = green;
  entry[2] = blue;
  ++count_;
  return true;
}

int GIFColorMap::BitsPerPixel() const {
  if (count_ == 0) return 0;
  int bits = 1;
  while ((1 << bits) < count_) ++bits;
  return bits;
}

void GIFColorMap::Write(QIODevice& out) const {
  const int bits = BitsPerPixel();
  if (bits == 0) return;
  // entries_ beyond count_ stay black, so the padding is already in place.
  const qint64 size = qint64(3) << bits;
  if (out.write(reinterpret_cast<const char*>(entries_.data()), size) != size)
    throw GIFError("Can not write GIF data: " + out.errorString().toStdString());
}

}  // namespace qm
