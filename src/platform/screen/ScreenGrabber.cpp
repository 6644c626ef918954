#include "platform/screen/ScreenGrabber.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "common/RectBoxes.h"
#include "platform/screen/PixelRows.h"
#include "platform/screen/XConnection.h"

namespace qm {

namespace {

struct ImageDeleter {
  void operator()(XImage* image) const {
    if (image) XDestroyImage(image);
  }
};
using ImagePtr = std::unique_ptr<XImage, ImageDeleter>;

// The channel layout of an image, for the slow road of unusual server formats.
struct ChannelMask {
  unsigned long Mask = 0;
  int Shift = 0;  // of the channel's lowest bit
  int Bits = 0;   // width of the channel

  explicit ChannelMask(unsigned long mask) : Mask(mask) {
    if (!mask) return;
    while (!((mask >> Shift) & 1)) ++Shift;
    while ((mask >> (Shift + Bits)) & 1) ++Bits;
  }
  uint8_t Level(unsigned long pixel) const {
    if (!Bits) return 0;
    const unsigned long v = (pixel & Mask) >> Shift;
    return uint8_t(Bits >= 8 ? v >> (Bits - 8) : v * 255 / ((1ul << Bits) - 1));
  }
};

bool IsBgrx(const XImage& image) {
  return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && image.red_mask == 0xFF0000 &&
         image.green_mask == 0xFF00 && image.blue_mask == 0xFF;
}

// Writes the whole target in one pass: the rows and columns of the copied image (which
// covers columns dx .. dx + image width - 1 and rows dy .. dy + image height - 1, counted
// from the top) converted, everything else black.
void Compose(XImage* image, int32_t dx, int32_t dy, const PixelTarget& target) {
  const int bytes = target.BitsPerPixel / 8;
  const int32_t w = image ? image->width : 0;
  const int32_t h = image ? image->height : 0;
  const bool bgrx = image && IsBgrx(*image);
  const ChannelMask red(image ? image->red_mask : 0), green(image ? image->green_mask : 0),
      blue(image ? image->blue_mask : 0);
  const size_t rowBytes = size_t(target.Width) * bytes;
  const bool stream = WorthStreaming(size_t(target.Stride) * size_t(target.Height));

  for (int32_t y = 0; y < target.Height; ++y) {
    uint8_t* row = target.Row(y);
    const int32_t sy = y - dy;
    if (sy < 0 || sy >= h) {
      std::memset(row, 0, rowBytes);
      continue;
    }
    std::memset(row, 0, size_t(dx) * bytes);
    uint8_t* out = row + size_t(dx) * bytes;
    if (bgrx) {
      const uint8_t* in =
          reinterpret_cast<const uint8_t*>(image->data) + size_t(sy) * image->bytes_per_line;
      BgrxToPixels(in, out, w, bytes, stream);
    } else {
      for (int32_t sx = 0; sx < w; ++sx, out += bytes) {
        const unsigned long pixel = XGetPixel(image, sx, sy);
        out[0] = blue.Level(pixel);
        out[1] = green.Level(pixel);
        out[2] = red.Level(pixel);
        if (bytes == 4) out[3] = 0;
      }
    }
    const size_t done = size_t(dx + w) * bytes;
    std::memset(row + done, 0, rowBytes - done);
  }
  // The padding of each row too: the target may be memory that held anything before.
  if (target.Stride > rowBytes) {
    for (int32_t y = 0; y < target.Height; ++y)
      std::memset(target.Row(y) + rowBytes, 0, target.Stride - rowBytes);
  }
  if (stream) StreamFence();
}

// Converts only the pixels of a BGRX image inside the rectangles (of the target), each once:
// row by row, the rectangles' spans on the row joined. The rest of the target, black included,
// is left as it is.
void ComposeParts(const XImage& image, int32_t dx, int32_t dy, const PixelTarget& target,
                  const std::vector<Rect>& rects) {
  const int bytes = target.BitsPerPixel / 8;
  const int32_t top = std::max(dy, 0), bottom = std::min(dy + image.height, target.Height);
  const int32_t left = std::max(dx, 0), right = std::min(dx + image.width, target.Width);
  std::vector<std::pair<int32_t, int32_t>> spans;
  for (int32_t y = top; y < bottom; ++y) {
    spans.clear();
    for (const Rect& r : rects)
      if (r.Top <= y && y < r.Bottom && r.Left < right && left < r.Right)
        spans.emplace_back(std::max(r.Left, left), std::min(r.Right, right));
    if (spans.empty()) continue;
    std::sort(spans.begin(), spans.end());
    const uint8_t* in =
        reinterpret_cast<const uint8_t*>(image.data) + size_t(y - dy) * image.bytes_per_line;
    uint8_t* out = target.Row(y);
    for (size_t i = 0; i < spans.size();) {
      const int32_t from = spans[i].first;
      int32_t to = spans[i].second;
      for (++i; i < spans.size() && spans[i].first <= to; ++i) to = std::max(to, spans[i].second);
      const uint8_t* source = in + size_t(from - dx) * 4;
      uint8_t* destination = out + size_t(from) * size_t(bytes);
      BgrxToPixels(source, destination, to - from, bytes);
    }
  }
}

}  // namespace

// A shared-memory segment with the image header that describes the area copied into it.
// The segment is removed as soon as both sides have attached it, so it cannot outlive the
// process; it is detached and unmapped here. Destroyed under the connection's lock.
struct ScreenGrabber::ShmImage {
  std::shared_ptr<XConnection> Connection;
  XShmSegmentInfo Info{};
  size_t Capacity = 0;
  bool Attached = false;
  ImagePtr Header;

  ShmImage() {
    Info.shmid = -1;
    Info.shmaddr = reinterpret_cast<char*>(-1);
  }
  ~ShmImage() {
    if (Header) Header->data = nullptr;  // the pixels are the segment's, not Xlib's
    Header.reset();
    if (Attached && Connection && !Connection->Broken()) {
      XShmDetach(Connection->Display(), &Info);
      XSync(Connection->Display(), False);
    }
    if (Info.shmaddr != reinterpret_cast<char*>(-1)) shmdt(Info.shmaddr);
    if (Info.shmid != -1 && !Attached) shmctl(Info.shmid, IPC_RMID, nullptr);
  }
};

ScreenGrabber::ScreenGrabber(bool useSharedMemory) : allowShm_(useSharedMemory) {}

ScreenGrabber::~ScreenGrabber() {
  if (shm_ && connection_) {
    XConnection::Lock lock(*connection_);
    shm_.reset();
  }
}

Rect ScreenGrabber::ScreenBounds() {
  std::shared_ptr<XConnection> connection = XConnection::Shared();
  if (!connection) return Rect();
  XConnection::Lock lock(*connection);
  Display* display = connection->Display();
  Window root = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  if (!XGetGeometry(display, DefaultRootWindow(display), &root, &x, &y, &width, &height, &border,
                    &depth)) {
    return Rect();
  }
  return Rect{0, 0, int32_t(width), int32_t(height)};
}

bool ScreenGrabber::RefreshScreenSize() {
  const Rect before = screen_;
  screen_ = ScreenBounds();
  return !(screen_ == before);
}

bool ScreenGrabber::SamePlacement(const Placement& placed) {
  if (placed == placed_) return true;
  placed_ = placed;
  ++layout_;
  return false;
}

ScreenGrabber::GrabResult ScreenGrabber::Grab(int32_t x, int32_t y, const PixelTarget& target) {
  return Grab(x, y, target, Partial());
}

ScreenGrabber::GrabResult ScreenGrabber::Grab(int32_t x, int32_t y, const PixelTarget& target,
                                              const Partial& partial) {
  if (!connection_ || connection_->Broken()) {
    shm_.reset();
    connection_ = XConnection::Shared();
    screen_ = Rect();
  }
  if (!connection_) return GrabResult::NoScreen;
  if (!target.Bits || target.Width <= 0 || target.Height <= 0 ||
      (target.BitsPerPixel != 24 && target.BitsPerPixel != 32)) {
    return GrabResult::Failed;
  }
  // The size is learnt once and again only when a copy fails, which is what a smaller
  // screen causes; a larger one shows in the grabbers made after the change.
  if (screen_.Width() <= 0 || screen_.Height() <= 0) {
    RefreshScreenSize();
    if (screen_.Width() <= 0 || screen_.Height() <= 0) return GrabResult::Failed;
  }

  // X refuses any request that reaches outside the root window, so only the part of the
  // area on the screen is asked for; a changed screen size gets one more try.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int32_t left = std::max(x, screen_.Left);
    const int32_t top = std::max(y, screen_.Top);
    const int32_t right = int32_t(std::min<int64_t>(int64_t(x) + target.Width, screen_.Right));
    const int32_t bottom = int32_t(std::min<int64_t>(int64_t(y) + target.Height, screen_.Bottom));
    Placement placed{
        0, 0, 0, 0, 0, target.Width, target.Height, target.Stride, target.BitsPerPixel};
    if (left >= right || top >= bottom) {
      SamePlacement(placed);
      Compose(nullptr, 0, 0, target);  // wholly off the screen: all black
      return GrabResult::Ok;
    }
    const int32_t w = right - left, h = bottom - top;
    placed.Dx = left - x;
    placed.Dy = top - y;
    placed.Width = w;
    placed.Height = h;
    if (allowShm_ && !shmBroken_ && connection_->HasShm()) {
      placed.Road = 1;
      // The target holds the copy before, laid out alike: only the rectangles are new.
      const bool partly = partial.Rects && partial.Since == layout_ && placed == placed_ && shm_ &&
                          shm_->Header && shm_->Header->width == w && shm_->Header->height == h &&
                          IsBgrx(*shm_->Header);
      if (partly &&
          GrabShmChanges(x, y, Rect{left - x, top - y, right - x, bottom - y}, partial, target)) {
        usedShm_ = true;
        return GrabResult::Ok;
      }
      if (GrabShm(left, top, w, h)) {
        usedShm_ = true;
        if (SamePlacement(placed) && partly) {
          if (partial.Fetched) partial.Fetched();
          ComposeParts(*shm_->Header, left - x, top - y, target, *partial.Rects);
        } else {
          Compose(shm_->Header.get(), left - x, top - y, target);
        }
        return GrabResult::Ok;
      }
    }
    if (GrabPlain(left, top, w, h, target, left - x, top - y)) {
      usedShm_ = false;
      placed.Road = 2;
      SamePlacement(placed);
      return GrabResult::Ok;
    }
    if (connection_->Broken() || !RefreshScreenSize()) break;
  }
  return GrabResult::Failed;
}

bool ScreenGrabber::GrabShm(int32_t x, int32_t y, int32_t width, int32_t height) {
  XConnection::Lock lock(*connection_);
  Display* display = connection_->Display();
  const int screen = DefaultScreen(display);

  if (!shm_ || !shm_->Header || shm_->Header->width != width || shm_->Header->height != height) {
    // The header alone tells how many bytes the server will write.
    XShmSegmentInfo probe{};
    ImagePtr header(XShmCreateImage(display, DefaultVisual(display, screen),
                                    unsigned(DefaultDepth(display, screen)), ZPixmap, nullptr,
                                    &probe, unsigned(width), unsigned(height)));
    if (!header) return false;
    const size_t needed = size_t(header->bytes_per_line) * size_t(height);
    header.reset();

    if (!shm_ || shm_->Capacity < needed) {
      shm_.reset();
      auto fresh = std::make_unique<ShmImage>();
      fresh->Connection = connection_;
      fresh->Info.shmid = shmget(IPC_PRIVATE, needed, IPC_CREAT | 0600);
      if (fresh->Info.shmid == -1) {
        shmBroken_ = true;
        return false;
      }
      fresh->Info.shmaddr = static_cast<char*>(shmat(fresh->Info.shmid, nullptr, 0));
      if (fresh->Info.shmaddr == reinterpret_cast<char*>(-1)) {
        shmBroken_ = true;
        return false;
      }
      fresh->Info.readOnly = False;
      fresh->Capacity = needed;
      const uint64_t errors = connection_->ErrorCount();
      const bool attached = XShmAttach(display, &fresh->Info) != 0;
      XSync(display, False);
      if (!attached || connection_->ErrorCount() != errors) {
        // A server that cannot see our memory (another machine, another namespace).
        shmBroken_ = true;
        return false;
      }
      fresh->Attached = true;
      shmctl(fresh->Info.shmid, IPC_RMID, nullptr);
      shm_ = std::move(fresh);
    }
    if (shm_->Header) shm_->Header->data = nullptr;
    shm_->Header.reset(XShmCreateImage(
        display, DefaultVisual(display, screen), unsigned(DefaultDepth(display, screen)), ZPixmap,
        shm_->Info.shmaddr, &shm_->Info, unsigned(width), unsigned(height)));
    if (!shm_->Header) return false;
  }
  return XShmGetImage(display, DefaultRootWindow(display), shm_->Header.get(), x, y, AllPlanes) !=
         0;
}

bool ScreenGrabber::GrabShmChanges(int32_t x, int32_t y, const Rect& onScreen,
                                   const Partial& partial, const PixelTarget& target) {
  // What the server reports drawn after the copy was asked for may have been drawn before the
  // copy was made: where it lies outside the boxes, the boxes of every rectangle known then
  // are asked for again, as one later moment. A screen drawn on that busily is copied whole.
  constexpr int kRounds = 3;
  std::vector<Rect> boxes;
  for (int round = 0; round < kRounds; ++round) {
    boxes = BoxesAround(*partial.Rects, onScreen);
    if (!FetchBoxes(x, y, boxes)) return false;
    const size_t known = partial.Rects->size();
    if (partial.Fetched) partial.Fetched();
    const bool covered = std::all_of(
        partial.Rects->begin() + std::ptrdiff_t(known), partial.Rects->end(), [&](const Rect& r) {
          const Rect part = r.Intersected(onScreen);
          return part.Empty() || std::any_of(boxes.begin(), boxes.end(),
                                             [&](const Rect& box) { return box.Contains(part); });
        });
    if (covered) break;
    if (round + 1 == kRounds) return false;
  }
  // The boxes lie one after the other in the segment, each in rows of its own width.
  const int pixel = target.BitsPerPixel / 8;
  const auto* from = reinterpret_cast<const uint8_t*>(shm_->Info.shmaddr);
  for (const Rect& box : boxes) {
    const size_t stride = BoxRowBytes(box.Width());
    for (int32_t row = box.Top; row < box.Bottom; ++row, from += stride)
      BgrxToPixels(from, target.Row(row) + size_t(box.Left) * size_t(pixel), box.Width(), pixel);
  }
  return true;
}

size_t ScreenGrabber::BoxRowBytes(int32_t width) const {
  // Rows of the shared image's pixels, padded as the server pads them.
  const size_t pad = size_t(std::max(shm_->Header->bitmap_pad, 8));
  return (size_t(width) * size_t(shm_->Header->bits_per_pixel) + pad - 1) / pad * pad / 8;
}

bool ScreenGrabber::FetchBoxes(int32_t x, int32_t y, const std::vector<Rect>& boxes) {
  if (boxes.empty()) return false;
  XConnection::Lock lock(*connection_);
  Display* display = connection_->Display();
  xcb_connection_t* xcb = XGetXCBConnection(display);
  // All the requests go out before any answer is awaited, so that the server takes them one
  // after another, as one picture: between round trips a program would draw, and the boxes of
  // one frame would show two moments. Each box lands after the one before.
  std::vector<xcb_shm_get_image_cookie_t> cookies;
  cookies.reserve(boxes.size());
  size_t offset = 0;
  for (const Rect& box : boxes) {
    const size_t bytes = BoxRowBytes(box.Width()) * size_t(box.Height());
    if (offset + bytes > shm_->Capacity) break;
    cookies.push_back(xcb_shm_get_image(
        xcb, xcb_window_t(DefaultRootWindow(display)), int16_t(x + box.Left), int16_t(y + box.Top),
        uint16_t(box.Width()), uint16_t(box.Height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
        xcb_shm_seg_t(shm_->Info.shmseg), uint32_t(offset)));
    offset += bytes;
  }
  // Every answer is taken, even after a refusal, so that none is left behind.
  bool fetched = cookies.size() == boxes.size();
  for (const xcb_shm_get_image_cookie_t& cookie : cookies) {
    xcb_generic_error_t* error = nullptr;
    std::free(xcb_shm_get_image_reply(xcb, cookie, &error));
    if (error) fetched = false;
    std::free(error);
  }
  return fetched;
}

bool ScreenGrabber::GrabPlain(int32_t x, int32_t y, int32_t width, int32_t height,
                              const PixelTarget& target, int32_t dx, int32_t dy) {
  ImagePtr image;
  {
    XConnection::Lock lock(*connection_);
    Display* display = connection_->Display();
    image.reset(XGetImage(display, DefaultRootWindow(display), x, y, unsigned(width),
                          unsigned(height), AllPlanes, ZPixmap));
  }
  if (!image) return false;
  Compose(image.get(), dx, dy, target);
  return true;
}

}  // namespace qm
