#include "capture/CaptureLib.h"

#include <QString>

#include "common/UserMessages.h"
#include "platform/screen/CursorSource.h"
#include "platform/screen/ScreenGrabber.h"

namespace qm {

namespace {

TPixelTarget TargetOf(TDIBBitmap& bitmap) {
  TPixelTarget target;
  target.Bits = bitmap.Bits();
  target.Width = bitmap.Width();
  target.Height = bitmap.Height();
  target.Stride = bitmap.Stride();
  target.BitsPerPixel = TDIBBitmap::BitsPerPixel(bitmap.PixelFormat());
  return target;
}

}  // namespace

TCaptureLib::TCaptureLib() : ScreenRect(ScreenBounds()) {}

TCaptureLib::~TCaptureLib() = default;

TRect TCaptureLib::ScreenBounds() {
  return TScreenGrabber::ScreenBounds();
}

TCursorState TCaptureLib::GetCursorState() {
  TCursorState state;
  if (!cursor_) cursor_ = std::make_unique<TCursorSource>();
  cursor_->Query(state.CursorHandle, state.CursorPos);
  return state;
}

bool TCaptureLib::Grab(TDIBBitmap& bitmap, TPoint origin, TRect& capturedRect, bool followCursor,
                       bool showCursor) {
  int32_t x = origin.X, y = origin.Y;
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  if (!screen_) screen_ = std::make_unique<TScreenGrabber>();

  if (followCursor) {
    const TCursorState state = GetCursorState();
    if (state.CursorHandle != 0) {
      x = state.CursorPos.X - w / 2;
      y = state.CursorPos.Y - h / 2;
      if (x + w > ScreenRect.Right) x = ScreenRect.Right - w;
      if (y + h > ScreenRect.Bottom) y = ScreenRect.Bottom - h;
      if (y < 0) y = 0;
      if (x < 0) x = 0;
    }
  }

  const TPixelTarget target = TargetOf(bitmap);
  switch (screen_->Grab(x, y, target)) {
    case TScreenGrabber::TResult::NoScreen:
      return false;
    case TScreenGrabber::TResult::Failed:
      ShowMessage(QStringLiteral("xx"));
      return false;
    case TScreenGrabber::TResult::Ok:
      break;
  }
  capturedRect = TRect{x, y, x + w, y + h};

  if (showCursor) {
    const TCursorState state = GetCursorState();
    if (state.CursorHandle != 0) {
      TPoint hot;
      if (!cursor_->HotSpot(state.CursorHandle, hot)) hot = TPoint();
      if (capturedRect.Contains(state.CursorPos)) {
        cursor_->Draw(state.CursorHandle, target, state.CursorPos.X - x - hot.X,
                      state.CursorPos.Y - y - hot.Y);
      }
    }
  }
  return true;
}

std::unique_ptr<TDIBBitmap> TCaptureLib::Snapshot() {
  const TRect bounds = ScreenBounds();
  auto bitmap = std::make_unique<TDIBBitmap>();
  bitmap->SetFormat(bounds.Width(), bounds.Height(), TPixelFormat::pf32bit);
  TRect captured;
  Grab(*bitmap, TPoint{0, 0}, captured, false, false);
  return bitmap;
}

}  // namespace qm
