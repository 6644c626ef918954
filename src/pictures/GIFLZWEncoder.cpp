#include "pictures/GIFLZWEncoder.h"

#include <QIODevice>

#include "pictures/GIFError.h"

namespace qm {

namespace {

[[noreturn]] void ColorNotInTable() {
  throw GIFError("Color not in color table");
}

}  // namespace

GIFLZWEncoder::GIFLZWEncoder(QIODevice& out)
    : out_(out), blocks_(out), bits_(blocks_), table_(std::make_unique<GIFStringTable>()) {}

void GIFLZWEncoder::Reset() {
  width_ = minCodeSize_ + 1;
  maxCode_ = (1u << width_) - 1;
  nextFree_ = clearCode_ + 2;
  table_->Clear();
}

void GIFLZWEncoder::Widen() {
  ++width_;
  // At 12 bits the limit lies beyond the last code, so the width never passes 12.
  maxCode_ = width_ == kMaxWidth ? (1u << kMaxWidth) : (1u << width_) - 1;
}

void GIFLZWEncoder::Encode(const uint8_t* pixels, size_t count, uint32_t colourCount,
                           int minCodeSize) {
  minCodeSize_ = minCodeSize < 2 ? 2 : minCodeSize;
  clearCode_ = 1u << minCodeSize_;
  const uint32_t endCode = clearCode_ + 1;
  if (!out_.putChar(char(minCodeSize_)))
    throw GIFError("Can not write GIF data: " + out_.errorString().toStdString());

  Reset();
  Emit(clearCode_);
  if (count > 0) {
    uint32_t prefix = pixels[0];
    if (prefix >= colourCount) ColorNotInTable();
    for (size_t i = 1; i < count; ++i) {
      const uint32_t pixel = pixels[i];
      if (pixel >= colourCount) ColorNotInTable();
      uint32_t slot;
      const int code = table_->Find(prefix, pixel, slot);
      if (code >= 0) {
        prefix = uint32_t(code);
        continue;
      }
      Emit(prefix);
      if (nextFree_ >= kTableLimit) {
        Emit(clearCode_);  // the string is not added; the table starts afresh
      } else {
        table_->Insert(slot, prefix, pixel, nextFree_++);
      }
      prefix = pixel;
    }
    Emit(prefix);
  }
  Emit(endCode);
  bits_.Flush();
  blocks_.Finish();
}

}  // namespace qm
