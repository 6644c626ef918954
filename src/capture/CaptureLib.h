#pragma once

#include <QString>

#include <cstdint>
#include <memory>

#include "common/DIBBitmap.h"
#include "common/Rect.h"

namespace qm {

class CursorSource;
class ScreenGrabber;

// What one cursor query found.
struct CursorState {
  uint64_t CursorHandle = 0;  // the cursor's identity (never 0); 0 when none was found
  Point CursorPos;            // mouse position in screen pixels
};

// Copies a rectangle of the screen into a bitmap, optionally centring a fixed-size area on
// the mouse and drawing the cursor. Grab runs on the user-interface thread; a grabber may be
// created on any thread, since it holds only the screen rectangle. Several grabbers may work
// on several threads at once; one grabber is used by one thread at a time.
class CaptureLib {
 public:
  CaptureLib();
  ~CaptureLib();
  CaptureLib(const CaptureLib&) = delete;
  CaptureLib& operator=(const CaptureLib&) = delete;

  // (0, 0, screen width, screen height) at the time of the call; empty without a display.
  static Rect ScreenBounds();

  // A fresh query of the mouse position and the cursor shown. The handle is 0 (and the
  // position (0, 0)) when the cursor cannot be learnt; following then keeps the origin and
  // no cursor is drawn.
  CursorState GetCursorState();

  // Copies bitmap.Width() x bitmap.Height() pixels from origin (or from the followed
  // position) into the bitmap; capturedRect receives the rectangle really copied. The part
  // of the rectangle outside the screen comes out black. The bitmap must be 24 or 32 bits
  // per pixel. False, with the bitmap unchanged, when the screen cannot be copied, after
  // telling the user: NoDisplayMessage() when no display can be reached, else
  // CopyFailedMessage().
  bool Grab(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
            bool showCursor);

  // A new bitmap of the whole screen, without the cursor, in the screen's own 32-bit layout
  // (blue, green, red, unused). Without a display the empty screen size is an invalid
  // bitmap: error report and silent abort.
  std::unique_ptr<DIBBitmap> Snapshot();

  // What the user is told when a grab fails: the screen could not be copied, or no X display
  // could be opened (named as DISPLAY gives it). Every caller of the engine (the application,
  // the command-line tool) says the same.
  static QString CopyFailedMessage();
  static QString NoDisplayMessage();

  // The screen bounds taken when the grabber was created; following keeps the area inside
  // them.
  const Rect& ScreenRect() const { return screenRect_; }
  void SetScreenRect(const Rect& bounds) { screenRect_ = bounds; }

 private:
  Rect screenRect_;
  // Made at the first grab, so that creating a grabber costs one screen query only.
  std::unique_ptr<ScreenGrabber> screen_;
  std::unique_ptr<CursorSource> cursor_;
};

}  // namespace qm
