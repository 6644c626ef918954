#include "capture/CaptureLib.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstring>

#include "common/UserMessages.h"
#include "platform/screen/CursorSource.h"
#include "platform/screen/DamageWatch.h"
#include "platform/screen/ScreenGrabber.h"

namespace qm {

namespace {

std::atomic<bool> gUseDamage{true};

PixelTarget TargetOf(DIBBitmap& bitmap) {
  PixelTarget target;
  target.Bits = bitmap.DrawTarget();
  target.Width = bitmap.Width();
  target.Height = bitmap.Height();
  target.Stride = bitmap.Stride();
  target.BitsPerPixel = DIBBitmap::BitsPerPixel(bitmap.Format());
  return target;
}

}  // namespace

CaptureLib::CaptureLib() : screenRect_(ScreenBounds()), useDamage_(gUseDamage.load()) {}

void CaptureLib::UseDamageReports(bool use) {
  gUseDamage = use;
}

CaptureLib::~CaptureLib() = default;

Rect CaptureLib::ScreenBounds() {
  return ScreenGrabber::ScreenBounds();
}

CursorState CaptureLib::GetCursorState() {
  CursorState state;
  if (!cursor_) cursor_ = std::make_unique<CursorSource>();
  cursor_->Query(state.CursorHandle, state.CursorPos);
  return state;
}

Point CaptureLib::Locate(Point origin, int32_t w, int32_t h, bool followCursor,
                         const CursorState& state) {
  int32_t x = origin.X, y = origin.Y;
  if (followCursor && state.CursorHandle != 0) {
    x = state.CursorPos.X - w / 2;
    y = state.CursorPos.Y - h / 2;
    if (x + w > screenRect_.Right) x = screenRect_.Right - w;
    if (y + h > screenRect_.Bottom) y = screenRect_.Bottom - h;
    if (y < 0) y = 0;
    if (x < 0) x = 0;
  }
  return Point{x, y};
}

CaptureLib::CursorMark CaptureLib::MarkOf(const CursorState& state, const Rect& area,
                                          bool showCursor) const {
  CursorMark mark;
  if (!showCursor || state.CursorHandle == 0 || !area.Contains(state.CursorPos)) return mark;
  mark.Drawn = true;
  mark.Handle = state.CursorHandle;
  mark.At = Point{state.CursorPos.X - area.Left, state.CursorPos.Y - area.Top};
  return mark;
}

bool CaptureLib::CopyArea(DIBBitmap& bitmap, int32_t x, int32_t y, Rect& capturedRect,
                          bool showCursor, CursorMark& mark) {
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  if (!screen_) screen_ = std::make_unique<ScreenGrabber>();
  const PixelTarget target = TargetOf(bitmap);
  switch (screen_->Grab(x, y, target)) {
    case ScreenGrabber::GrabResult::NoScreen:
      ShowMessage(NoDisplayMessage());
      return false;
    case ScreenGrabber::GrabResult::Failed:
      ShowMessage(CopyFailedMessage());
      return false;
    case ScreenGrabber::GrabResult::Ok:
      break;
  }
  capturedRect = Rect{x, y, x + w, y + h};

  mark = CursorMark();
  if (showCursor) {
    const CursorState state = GetCursorState();
    mark = MarkOf(state, capturedRect, true);
    if (mark.Drawn) {
      Point hot;
      if (!cursor_->HotSpot(state.CursorHandle, hot)) hot = Point();
      cursor_->Draw(state.CursorHandle, target, state.CursorPos.X - x - hot.X,
                    state.CursorPos.Y - y - hot.Y);
    }
  }
  // The screen layer wrote every byte of the target, so it is the bitmap's picture now.
  bitmap.Drawn();
  return true;
}

bool CaptureLib::Grab(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                      bool showCursor) {
  const CursorState state = followCursor ? GetCursorState() : CursorState();
  const Point at = Locate(origin, bitmap.Width(), bitmap.Height(), followCursor, state);
  CursorMark mark;
  return CopyArea(bitmap, at.X, at.Y, capturedRect, showCursor, mark);
}

void CaptureLib::ForgetChanges() {
  damage_.reset();
  lastPicture_ = {};
  copied_ = false;
}

bool CaptureLib::GrabChanges(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                             bool showCursor, bool& changed) {
  changed = true;
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  const CursorState state = followCursor || showCursor ? GetCursorState() : CursorState();
  const Point at = Locate(origin, w, h, followCursor, state);
  const Rect area{at.X, at.Y, at.X + w, at.Y + h};

  if (useDamage_ && !damage_) damage_ = std::make_unique<DamageWatch>();
  const bool damageKnown = useDamage_ && damage_->Available();
  if (damageKnown) {
    // Asked every frame, so that the reports always cover exactly the time since the last.
    const bool drawnOn = damage_->Changed(area);
    // The server went away while it was reporting: the screen being recorded cannot be copied.
    if (damage_->Lost()) {
      ShowMessage(CopyFailedMessage());
      return false;
    }
    if (copied_ && !drawnOn && area == lastArea_ && MarkOf(state, area, showCursor) == lastMark_) {
      capturedRect = area;
      changed = false;
      return true;
    }
  }

  CursorMark mark;
  if (!CopyArea(bitmap, at.X, at.Y, capturedRect, showCursor, mark)) return false;
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

QString CaptureLib::CopyFailedMessage() {
  return QStringLiteral("Can not copy the screen");
}

QString CaptureLib::NoDisplayMessage() {
  const QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) return QStringLiteral("Can not open the X display: DISPLAY is not set");
  return QStringLiteral("Can not open the X display ") + display;
}

std::unique_ptr<DIBBitmap> CaptureLib::Snapshot() {
  const Rect bounds = ScreenBounds();
  auto bitmap = std::make_unique<DIBBitmap>();
  bitmap->SetFormat(bounds.Width(), bounds.Height(), PixelFormat::Bits32);
  Rect captured;
  Grab(*bitmap, Point{0, 0}, captured, false, false);
  return bitmap;
}

}  // namespace qm
