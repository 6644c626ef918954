#include "capture/Grabber.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "common/PictureArea.h"
#include "platform/screen/CursorSource.h"
#include "platform/screen/DamageWatch.h"
#include "platform/screen/MonitorList.h"
#include "platform/screen/PixelRows.h"
#include "platform/screen/ScreenGrabber.h"

namespace qm {

namespace {

// Past this many rectangles drawn on a kept frame it is copied whole again: joining them
// would cost about what copying saves.
constexpr size_t kMaxDrawn = 128;

// Adds the rectangles of the screen (inside area) to into, as rectangles of the area.
void AddDrawn(std::vector<Rect>& into, const Rect& area, const Rect* from, const Rect* to) {
  for (; from != to; ++from)
    into.push_back(Rect{from->Left - area.Left, from->Top - area.Top, from->Right - area.Left,
                        from->Bottom - area.Top});
}

PixelTarget TargetOf(DIBBitmap& bitmap) {
  PixelTarget target;
  target.Bits = bitmap.DrawTarget();
  target.Width = bitmap.Width();
  target.Height = bitmap.Height();
  target.Stride = bitmap.Stride();
  target.BitsPerPixel = DIBBitmap::BitsPerPixel(bitmap.Format());
  return target;
}

// Copies the part of picture that area covers into target; the rest of the target is black.
void CopyFromPicture(const SourcePicture& picture, const Rect& area, const PixelTarget& target) {
  const int bytes = target.BitsPerPixel / 8;
  const int32_t left = std::max(area.Left, 0), right = std::min(area.Right, picture.Width);
  const bool stream = WorthStreaming(size_t(target.Stride) * size_t(target.Height));
  for (int32_t y = 0; y < target.Height; ++y) {
    uint8_t* row = target.Row(y);
    const int32_t sy = area.Top + y;
    if (sy < 0 || sy >= picture.Height || left >= right) {
      std::memset(row, 0, target.Stride);
      continue;
    }
    // Black left and right of the picture, and in the row's padding.
    const size_t before = size_t(left - area.Left) * size_t(bytes);
    const int32_t count = right - left;
    const size_t after = before + size_t(count) * size_t(bytes);
    std::memset(row, 0, before);
    std::memset(row + after, 0, target.Stride - after);
    const uint8_t* from = picture.Bits + size_t(sy) * picture.Stride + size_t(left) * 4;
    uint8_t* to = row + before;
    BgrxToPixels(from, to, count, bytes, stream);
  }
  if (stream) StreamFence();
}

// Lays the cursor's shape over the target with its hot spot at (x, y) of the target.
void DrawSourceCursor(const SourceCursor& cursor, const PixelTarget& target, int32_t x, int32_t y) {
  const int bytes = target.BitsPerPixel / 8;
  // A stream may report any hot spot: the sums are taken in 64 bits.
  const int64_t left = int64_t(x) - cursor.HotSpot.X, top = int64_t(y) - cursor.HotSpot.Y;
  for (int32_t cy = 0; cy < cursor.Height; ++cy) {
    const int64_t ty = top + cy;
    if (ty < 0 || ty >= target.Height) continue;
    uint8_t* row = target.Row(int32_t(ty));
    const uint8_t* from = cursor.Pixels.data() + size_t(cy) * size_t(cursor.Width) * 4;
    for (int32_t cx = 0; cx < cursor.Width; ++cx, from += 4) {
      const int64_t tx = left + cx;
      if (tx < 0 || tx >= target.Width) continue;
      uint8_t* to = row + size_t(tx) * size_t(bytes);
      const unsigned alpha = from[3];
      for (int c = 0; c < 3; ++c)
        to[c] = uint8_t((from[c] * alpha + to[c] * (255u - alpha) + 127u) / 255u);
    }
  }
}

bool Touches(const SourcePicture& picture, const Rect& area) {
  if (picture.WhollyChanged) return true;
  for (const Rect& part : picture.Changed)
    if (part.Overlaps(area)) return true;
  return false;
}

}  // namespace

Grabber::Grabber(bool damageReports, bool partialCopies)
    : screenRect_(ScreenBounds()),
      monitors_(ReadMonitors()),
      useDamage_(damageReports),
      partialCopies_(partialCopies) {}

Grabber::~Grabber() = default;

Rect Grabber::ScreenBounds() {
  return ScreenGrabber::ScreenBounds();
}

std::vector<Monitor> Grabber::Monitors() {
  std::vector<Monitor> monitors = ReadMonitors();
  const Rect screen = ScreenBounds();
  if (monitors.empty() && screen.Width() > 0 && screen.Height() > 0)
    monitors.push_back(Monitor{QStringLiteral("screen"), screen, true});
  return monitors;
}

Rect Grabber::AreaOnSource(const Rect& area, bool whole, ScreenSource& source) {
  const Rect picture = source.Bounds();
  return whole && picture.Width() > 0 ? picture : AreaOnPicture(area, ScreenBounds(), picture);
}

CursorState Grabber::GetCursorState() {
  CursorState state;
  if (!cursor_) cursor_ = std::make_unique<CursorSource>();
  cursor_->Query(state.CursorHandle, state.CursorPos);
  return state;
}

Point Grabber::Locate(Point origin, int32_t w, int32_t h, bool followCursor,
                      const CursorState& state) {
  if (!followCursor || state.CursorHandle == 0) return origin;
  // In 64 bits: a stream may put the cursor anywhere in the 32-bit range.
  int64_t x = int64_t(state.CursorPos.X) - w / 2, y = int64_t(state.CursorPos.Y) - h / 2;
  // The area stays inside the monitor the cursor is on, where it fits there; else inside the
  // screen.
  Rect bounds{0, 0, screenRect_.Right, screenRect_.Bottom};
  if (const Monitor* monitor = source_ ? nullptr : MonitorAt(monitors_, state.CursorPos)) {
    const Rect& m = monitor->Bounds;
    const Rect on{std::max(m.Left, 0), std::max(m.Top, 0), std::min(m.Right, bounds.Right),
                  std::min(m.Bottom, bounds.Bottom)};
    if (w <= on.Width() && h <= on.Height()) bounds = on;
  }
  x = std::max<int64_t>(std::min<int64_t>(x, int64_t(bounds.Right) - w), bounds.Left);
  y = std::max<int64_t>(std::min<int64_t>(y, int64_t(bounds.Bottom) - h), bounds.Top);
  return Point{int32_t(x), int32_t(y)};
}

Grabber::CursorMark Grabber::MarkOf(const CursorState& state, const Rect& area,
                                    bool showCursor) const {
  CursorMark mark;
  if (!showCursor || state.CursorHandle == 0 || !area.Contains(state.CursorPos)) return mark;
  mark.Drawn = true;
  mark.Handle = state.CursorHandle;
  mark.At = Point{state.CursorPos.X - area.Left, state.CursorPos.Y - area.Top};
  return mark;
}

bool Grabber::CopyArea(DIBBitmap& bitmap, int32_t x, int32_t y, Rect& capturedRect, bool showCursor,
                       CursorMark& mark, std::vector<Rect>* drawn) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const Rect area{x, y, x + w, y + h};
  if (!screen_) screen_ = std::make_unique<ScreenGrabber>();
  const PixelTarget target = TargetOf(bitmap);
  // A bitmap's earlier frame is known only where the server reports what is drawn, where the
  // picture is drawn in the bitmap's own place, and for frames of this same area.
  const bool tracked = drawn && !monitorsChanged_ && target.Bits == bitmap.Bits();
  std::erase_if(kept_, [&](const KeptFrame& k) {
    return !tracked || !(k.Area == area) || k.Width != w || k.Height != h ||
           k.Stride != bitmap.Stride() || k.Format != bitmap.Format();
  });
  auto found = std::find_if(kept_.begin(), kept_.end(),
                            [&](const KeptFrame& k) { return k.Bits == target.Bits; });
  // The picture before this one is known to differ from it only where the screen was drawn
  // on and where the cursor was and is: the bitmap has been followed since then.
  const bool sinceKnown = found != kept_.end() && previous_.Serial && previous_.Area == area;
  ScreenGrabber::Partial partial;
  if (found != kept_.end() && found->Drawn.size() + drawn->size() <= kMaxDrawn) {
    // What was drawn since the bitmap's frame, now and while it was away, and the cursor
    // drawn over it.
    parts_ = found->Drawn;
    parts_.push_back(found->Cursor);
    AddDrawn(parts_, area, drawn->data(), drawn->data() + drawn->size());
    partial.Rects = &parts_;
    partial.Since = found->Layout;
    // What was drawn between the server's report and its copy.
    partial.Fetched = [&] {
      const size_t before = drawn->size();
      damage_->Peek(area, *drawn);
      AddDrawn(parts_, area, drawn->data() + before, drawn->data() + drawn->size());
    };
  }
  switch (screen_->Grab(x, y, target, partial)) {
    case ScreenGrabber::GrabResult::NoScreen:
      kept_.clear();
      return Fail(NoDisplayMessage());
    case ScreenGrabber::GrabResult::Failed:
      kept_.clear();
      return Fail(CopyFailedMessage());
    case ScreenGrabber::GrabResult::Ok:
      break;
  }
  capturedRect = area;
  BlackenOffMonitors(bitmap, capturedRect);

  mark = CursorMark();
  Rect cursor;
  if (showCursor) {
    const CursorState state = GetCursorState();
    mark = MarkOf(state, capturedRect, true);
    if (mark.Drawn) {
      Point hot;
      if (!cursor_->HotSpot(state.CursorHandle, hot)) hot = Point();
      const int32_t left = state.CursorPos.X - x - hot.X, top = state.CursorPos.Y - y - hot.Y;
      cursor_->Draw(state.CursorHandle, target, left, top);
      // Where it lies in the area (the sums in 64 bits: a hot spot may be anything).
      const Point size = cursor_->Size(state.CursorHandle);
      cursor = Rect{std::clamp(left, 0, w), std::clamp(top, 0, h),
                    int32_t(std::clamp<int64_t>(int64_t(left) + size.X, 0, w)),
                    int32_t(std::clamp<int64_t>(int64_t(top) + size.Y, 0, h))};
    }
  }
  if (tracked) {
    // The other bitmaps miss what was drawn for this frame; this one holds it all now.
    // One with too many is copied whole when it comes back; it keeps no more than that tells.
    for (KeptFrame& k : kept_) {
      AddDrawn(k.Drawn, area, drawn->data(), drawn->data() + drawn->size());
      if (k.Drawn.size() > kMaxDrawn) k.Drawn.resize(kMaxDrawn + 1);
    }
    if (found == kept_.end()) {
      if (kept_.size() >= 3) kept_.erase(kept_.begin());
      KeptFrame fresh;
      fresh.Bits = target.Bits;
      fresh.Width = w;
      fresh.Height = h;
      fresh.Stride = bitmap.Stride();
      fresh.Format = bitmap.Format();
      fresh.Area = area;
      kept_.push_back(std::move(fresh));
      found = kept_.end() - 1;
    }
    found->Drawn.clear();
    found->Layout = screen_->Layout();
    found->Cursor = cursor;
  }
  // The screen layer wrote every byte of the target, so it is the bitmap's picture now.
  bitmap.Drawn();
  if (sinceKnown && previous_.Layout == screen_->Layout()) {
    std::vector<Rect> changes{previous_.Cursor, cursor};
    AddDrawn(changes, area, drawn->data(), drawn->data() + drawn->size());
    bitmap.ChangedSince(previous_.Serial, std::move(changes));
  }
  previous_ = Previous{bitmap.Changes().Serial, area, screen_->Layout(), cursor};
  return true;
}

void Grabber::WatchMonitors() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextMonitorCheck_) return;
  nextMonitorCheck_ = now + std::chrono::seconds(1);
  std::vector<Monitor> current = ReadMonitors();
  if (current == monitors_) return;
  monitors_ = std::move(current);
  monitorsChanged_ = true;
  copied_ = false;
  kept_.clear();  // the next frame is copied whole, with its black parts
}

void Grabber::BlackenOffMonitors(DIBBitmap& bitmap, const Rect& area) const {
  if (!monitorsChanged_ || monitors_.empty()) return;
  const PixelTarget target = TargetOf(bitmap);
  const size_t bytes = size_t(target.BitsPerPixel / 8);
  std::vector<uint8_t> shown(size_t(target.Width));
  for (int32_t y = 0; y < target.Height; ++y) {
    const int32_t sy = area.Top + y;
    std::fill(shown.begin(), shown.end(), uint8_t(0));
    for (const Monitor& monitor : monitors_) {
      const Rect& m = monitor.Bounds;
      if (sy < m.Top || sy >= m.Bottom) continue;
      const int32_t from = std::max(m.Left - area.Left, 0);
      const int32_t to = std::min(m.Right - area.Left, target.Width);
      for (int32_t x = from; x < to; ++x) shown[size_t(x)] = 1;
    }
    // Each run of pixels no monitor shows is cleared at once.
    uint8_t* row = target.Row(y);
    for (size_t x = 0; x < shown.size();) {
      const auto from = std::find(shown.begin() + std::ptrdiff_t(x), shown.end(), uint8_t(0));
      const auto to = std::find(from, shown.end(), uint8_t(1));
      const auto start = size_t(from - shown.begin()), end = size_t(to - shown.begin());
      if (end > start) std::memset(row + start * bytes, 0, (end - start) * bytes);
      x = end;
    }
  }
}

bool Grabber::Fail(const QString& why) {
  failure_ = why;
  return false;
}

void Grabber::UseSource(std::shared_ptr<ScreenSource> source) {
  source_ = std::move(source);
  sharingEnded_ = false;
  copied_ = false;
  kept_.clear();
  if (source_) screenRect_ = source_->Bounds();
}

QString Grabber::SharingEndedMessage() {
  return QStringLiteral("The desktop stopped sharing the screen");
}

bool Grabber::GrabSource(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                         bool showCursor, bool changesOnly, bool& changed) {
  changed = true;
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const bool live = source_->Read([&](const SourcePicture& picture) {
    // The stream's picture is the screen; its size may change while recording, and the area
    // keeps its own size: what falls outside the picture is black.
    screenRect_ = Rect{0, 0, picture.Width, picture.Height};
    CursorState state;
    if (picture.Cursor.Known && picture.Cursor.Visible) {
      state.CursorHandle = picture.Cursor.Shape;
      state.CursorPos = picture.Cursor.Position;
    }
    const Point at = Locate(origin, w, h, followCursor, state);
    const Rect area{at.X, at.Y, at.X + w, at.Y + h};
    const CursorMark mark = MarkOf(state, area, showCursor);
    if (changesOnly && copied_ && area == lastArea_ && mark == lastMark_ &&
        !Touches(picture, area)) {
      capturedRect = area;
      changed = false;
      return;
    }
    const PixelTarget target = TargetOf(bitmap);
    CopyFromPicture(picture, area, target);
    if (mark.Drawn) DrawSourceCursor(picture.Cursor, target, mark.At.X, mark.At.Y);
    bitmap.Drawn();
    capturedRect = area;
    lastArea_ = area;
    lastMark_ = mark;
    copied_ = true;
  });
  if (!live) {
    // A stream that went away by itself is a screen that can no longer be read.
    sharingEnded_ = !source_->Lost();
    return Fail(sharingEnded_ ? SharingEndedMessage()
                              : QStringLiteral("The screen stream ended: PipeWire went away"));
  }
  return true;
}

bool Grabber::Grab(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                   bool showCursor) {
  if (source_) {
    bool changed = true;
    return GrabSource(bitmap, origin, capturedRect, followCursor, showCursor, false, changed);
  }
  WatchMonitors();
  const CursorState state = followCursor ? GetCursorState() : CursorState();
  const Point at = Locate(origin, bitmap.Width(), bitmap.Height(), followCursor, state);
  CursorMark mark;
  return CopyArea(bitmap, at.X, at.Y, capturedRect, showCursor, mark);  // forgets kept frames
}

void Grabber::ForgetChanges() {
  damage_.reset();
  lastPicture_ = {};
  copied_ = false;
  kept_.clear();
}

bool Grabber::GrabChanges(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                          bool showCursor, bool& changed) {
  if (source_)
    return GrabSource(bitmap, origin, capturedRect, followCursor, showCursor, true, changed);
  changed = true;
  WatchMonitors();
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const CursorState state = followCursor || showCursor ? GetCursorState() : CursorState();
  const Point at = Locate(origin, w, h, followCursor, state);
  const Rect area{at.X, at.Y, at.X + w, at.Y + h};

  if (useDamage_ && !damage_) damage_ = std::make_unique<DamageWatch>();
  const bool damageKnown = useDamage_ && damage_->Available();
  std::vector<Rect> drawn;
  if (damageKnown) {
    // Asked every frame, so that the reports always cover exactly the time since the last.
    const bool drawnOn = damage_->Changed(area, &drawn);
    // The server went away while it was reporting: the screen being recorded cannot be copied.
    if (damage_->Lost()) {
      return Fail(CopyFailedMessage());
    }
    if (copied_ && !drawnOn && area == lastArea_ && MarkOf(state, area, showCursor) == lastMark_) {
      capturedRect = area;
      changed = false;
      return true;
    }
  }

  CursorMark mark;
  if (!CopyArea(bitmap, at.X, at.Y, capturedRect, showCursor, mark,
                damageKnown && partialCopies_ ? &drawn : nullptr))
    return false;
  lastArea_ = area;
  lastMark_ = mark;
  if (!damageKnown) {
    // Without damage reports the copy itself tells: the same pixels are the same frame.
    const size_t bytes = size_t(bitmap.Stride()) * size_t(h);
    if (copied_ && lastPicture_.size() == bytes &&
        std::memcmp(lastPicture_.data(), bitmap.Bits(), bytes) == 0) {
      changed = false;
    } else {
      lastPicture_.assign(bitmap.Bits(), bitmap.Bits() + bytes);
    }
  }
  copied_ = true;
  return true;
}

QString Grabber::CopyFailedMessage() {
  return QStringLiteral("Can not copy the screen");
}

QString Grabber::NoDisplayMessage() {
  const QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) return QStringLiteral("Can not open the X display: DISPLAY is not set");
  return QStringLiteral("Can not open the X display ") + display;
}

std::unique_ptr<DIBBitmap> Grabber::Snapshot() {
  const Rect bounds = source_ ? source_->Bounds() : ScreenBounds();
  auto bitmap = std::make_unique<DIBBitmap>();
  bitmap->SetFormat(bounds.Width(), bounds.Height(), PixelFormat::Bits32);
  Rect captured;
  Grab(*bitmap, Point{0, 0}, captured, false, false);
  return bitmap;
}

}  // namespace qm
