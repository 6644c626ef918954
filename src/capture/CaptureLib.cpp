#include "capture/CaptureLib.h"

#include <QString>
#include <QtGlobal>

#include "common/UserMessages.h"
#include "platform/screen/CursorSource.h"
#include "platform/screen/ScreenGrabber.h"

namespace qm {

namespace {

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

CaptureLib::CaptureLib() : screenRect_(ScreenBounds()) {}

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

bool CaptureLib::Grab(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                      bool showCursor) {
  int32_t x = origin.X, y = origin.Y;
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  if (!screen_) screen_ = std::make_unique<ScreenGrabber>();

  if (followCursor) {
    const CursorState state = GetCursorState();
    if (state.CursorHandle != 0) {
      x = state.CursorPos.X - w / 2;
      y = state.CursorPos.Y - h / 2;
      if (x + w > screenRect_.Right) x = screenRect_.Right - w;
      if (y + h > screenRect_.Bottom) y = screenRect_.Bottom - h;
      if (y < 0) y = 0;
      if (x < 0) x = 0;
    }
  }

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

  if (showCursor) {
    const CursorState state = GetCursorState();
    if (state.CursorHandle != 0) {
      Point hot;
      if (!cursor_->HotSpot(state.CursorHandle, hot)) hot = Point();
      if (capturedRect.Contains(state.CursorPos)) {
        cursor_->Draw(state.CursorHandle, target, state.CursorPos.X - x - hot.X,
                      state.CursorPos.Y - y - hot.Y);
      }
    }
  }
  // The screen layer wrote every byte of the target, so it is the bitmap's picture now.
  bitmap.Drawn();
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
