#include "platform/screen/CursorSource.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>

#include "platform/screen/PixelRows.h"
#include "platform/screen/XConnection.h"

namespace qm {

namespace {

struct XFreeDeleter {
  void operator()(XFixesCursorImage* image) const {
    if (image) XFree(image);
  }
};

}  // namespace

CursorSource::CursorSource() = default;

CursorSource::~CursorSource() = default;

bool CursorSource::Query(uint64_t& serial, Point& position) {
  serial = 0;
  position = Point();
  if (!connection_ || connection_->Broken()) connection_ = XConnection::Shared();
  if (!connection_ || !connection_->HasXFixes()) return false;

  XConnection::Lock lock(*connection_);
  Display* display = connection_->Display();
  Window root = 0, child = 0;
  int x = 0, y = 0, windowX = 0, windowY = 0;
  unsigned buttons = 0;
  if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY,
                     &buttons)) {
    return false;  // the pointer is on another screen of the display
  }
  // The round trip above has brought in every cursor change announced before it.
  const uint64_t announced = connection_->AnnouncedCursorSerial();
  if (announced == 0 || announced != serial_) {
    std::unique_ptr<XFixesCursorImage, XFreeDeleter> image(XFixesGetCursorImage(display));
    if (!image || image->cursor_serial == 0) return false;
    connection_->NoteCursorSerial(image->cursor_serial);
    // Xlib hands the 32-bit pixels over as unsigned long, 8 bytes each on 64-bit systems.
    width_ = image->width;
    height_ = image->height;
    hotSpot_ = Point{int32_t(image->xhot), int32_t(image->yhot)};
    pixels_.resize(size_t(width_) * size_t(height_));
    for (size_t i = 0; i < pixels_.size(); ++i) pixels_[i] = uint32_t(image->pixels[i]);
    serial_ = image->cursor_serial;
  }
  serial = serial_;
  position = Point{int32_t(x), int32_t(y)};
  return true;
}

bool CursorSource::HotSpot(uint64_t serial, Point& hotSpot) const {
  if (serial == 0 || serial != serial_) return false;
  hotSpot = hotSpot_;
  return true;
}

void CursorSource::Draw(uint64_t serial, const PixelTarget& target, int32_t left,
                        int32_t top) const {
  if (serial == 0 || serial != serial_ || !target.Bits) return;
  if (target.BitsPerPixel != 24 && target.BitsPerPixel != 32) return;
  const int bytes = target.BitsPerPixel / 8;
  const int64_t x0 = std::max<int64_t>(left, 0);
  const int64_t y0 = std::max<int64_t>(top, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(left) + width_, target.Width);
  const int64_t y1 = std::min<int64_t>(int64_t(top) + height_, target.Height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int64_t y = y0; y < y1; ++y) {
    const uint32_t* source = pixels_.data() + size_t(y - top) * width_ + size_t(x0 - left);
    BlendPremultiplied(source, target.Row(int32_t(y)) + size_t(x0) * bytes, int32_t(x1 - x0),
                       bytes);
  }
}

}  // namespace qm
