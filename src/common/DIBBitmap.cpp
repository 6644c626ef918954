#include "common/DIBBitmap.h"

#include <QString>

#include <atomic>
#include <cstring>
#include <limits>
#include <utility>

#include "common/BitmapInfoHeader.h"
#include "common/ErrorReport.h"
#include "common/LittleEndian.h"

namespace qm {

namespace {

// The largest pixel block we agree to hold: its size must fit the header's 32-bit image size
// field, and a frame beyond 1 GiB is a mistake rather than a screen.
constexpr uint64_t kMaxImageSize = uint64_t(1) << 30;

}  // namespace

DIBBitmap::DIBBitmap() {
  SetFormat(480, 320, PixelFormat::Bits24);
}

DIBBitmap::DIBBitmap(const DIBBitmap& other)
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      stride_(other.stride_),
      header_(other.header_),
      own_(other.pixels_, other.pixels_ + other.own_.size()),
      pixels_(own_.data()),
      changes_(other.changes_) {}

DIBBitmap& DIBBitmap::operator=(const DIBBitmap& other) {
  if (this != &other) *this = DIBBitmap(other);
  return *this;
}

DIBBitmap::DIBBitmap(DIBBitmap&& other) noexcept
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      stride_(other.stride_),
      header_(std::move(other.header_)),
      own_(std::move(other.own_)),
      pixels_(std::exchange(other.pixels_, nullptr)),
      pixelsKeeper_(std::move(other.pixelsKeeper_)),
      next_(std::exchange(other.next_, nullptr)),
      nextKeeper_(std::move(other.nextKeeper_)),
      changes_(std::exchange(other.changes_, {})) {
  // A moved vector keeps its block, so pixels in the own block stay where they are.
  other.own_.clear();
  other.width_ = other.height_ = 0;
}

DIBBitmap& DIBBitmap::operator=(DIBBitmap&& other) noexcept {
  if (this == &other) return *this;
  width_ = other.width_;
  height_ = other.height_;
  format_ = other.format_;
  stride_ = other.stride_;
  header_ = std::move(other.header_);
  own_ = std::move(other.own_);
  pixels_ = std::exchange(other.pixels_, nullptr);
  pixelsKeeper_ = std::move(other.pixelsKeeper_);
  next_ = std::exchange(other.next_, nullptr);
  nextKeeper_ = std::move(other.nextKeeper_);
  changes_ = std::exchange(other.changes_, {});
  other.own_.clear();
  other.width_ = other.height_ = 0;
  return *this;
}

int DIBBitmap::BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::Bits1:
      return 1;
    case PixelFormat::Bits4:
      return 4;
    case PixelFormat::Bits8:
      return 8;
    case PixelFormat::Bits16:
      return 16;
    case PixelFormat::Bits24:
      return 24;
    case PixelFormat::Bits32:
      return 32;
    case PixelFormat::Device:
    case PixelFormat::Bits15:
    case PixelFormat::Custom:
      return 0;
  }
  return 0;
}

uint32_t DIBBitmap::StrideFor(int32_t width, int bits) {
  return uint32_t(((uint64_t(width) * uint64_t(bits) + 31) & ~uint64_t(31)) / 8);
}

uint32_t DIBBitmap::HeaderSizeFor(int bits) {
  return bits <= 8 ? kBitmapInfoHeaderSize + 4 * (uint32_t(1) << bits) : kBitmapInfoHeaderSize;
}

bool DIBBitmap::TakesSize(int32_t width, int32_t height) {
  return width > 0 && height > 0 && uint64_t(width) * 4 * uint64_t(height) <= kMaxImageSize;
}

bool DIBBitmap::SetFormat(int32_t width, int32_t height, PixelFormat format) {
  // Everything is checked before anything changes: the pixel block is the drawing surface,
  // so a shape that does not match its buffer would let the grabber write past its end.
  if (!TakesSize(width, height)) ShowErrorReport(QStringLiteral("Invalid bitmap"));
  const int bits = BitsPerPixel(format);
  if (bits == 0) ShowErrorReport(QStringLiteral("Invalid pixel format"));

  const uint32_t stride = StrideFor(width, bits);
  header_.resize(HeaderSizeFor(bits));
  own_.assign(size_t(stride) * size_t(height), 0);
  pixels_ = own_.data();
  changes_ = {};
  pixelsKeeper_.reset();
  next_ = nullptr;
  nextKeeper_.reset();
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = stride;
  return RefreshBits();
}

bool DIBBitmap::RefreshBits() {
  if (width_ <= 0 || height_ <= 0) ShowErrorReport(QStringLiteral("Invalid bitmap"));
  const int bits = BitsPerPixel(format_);
  if (bits == 0) ShowErrorReport(QStringLiteral("Invalid pixel format"));

  // The surface has no resolution or colour counts of its own.
  BitmapInfoHeader{.Width = width_,
                   .Height = height_,
                   .BitCount = uint16_t(bits),
                   .SizeImage = stride_ * uint32_t(height_)}
      .Write(header_.data());

  if (bits <= 8) {
    const uint32_t entries = uint32_t(1) << bits;
    uint8_t* table = header_.data() + kBitmapInfoHeaderSize;
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t level = uint8_t(i * 255 / (entries - 1));
      table[4 * i + 0] = level;  // blue
      table[4 * i + 1] = level;  // green
      table[4 * i + 2] = level;  // red
      table[4 * i + 3] = 0;
    }
  }
  return height_ > 0 && !own_.empty();
}

void DIBBitmap::PlaceNext(uint8_t* place, std::shared_ptr<void> keeper) {
  next_ = place;
  nextKeeper_ = place ? std::move(keeper) : nullptr;
}

void DIBBitmap::Drawn() {
  static std::atomic<uint64_t> pictures{0};
  changes_ = FrameChanges{++pictures, 0, {}};
  if (!next_) return;
  pixels_ = std::exchange(next_, nullptr);
  pixelsKeeper_ = std::move(nextKeeper_);
  nextKeeper_.reset();
}

void DIBBitmap::ChangedSince(uint64_t since, std::vector<Rect> rects) {
  changes_.Since = since;
  changes_.Rects = std::move(rects);
}

void DIBBitmap::ReturnHome() {
  if (pixels_ != own_.data()) std::memcpy(own_.data(), pixels_, own_.size());
  pixels_ = own_.data();
  pixelsKeeper_.reset();
  next_ = nullptr;
  nextKeeper_.reset();
}

}  // namespace qm
