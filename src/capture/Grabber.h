#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/DIBBitmap.h"
#include "common/Monitor.h"
#include "common/Rect.h"
#include "common/ScreenSource.h"

namespace qm {

class CursorSource;
class DamageWatch;
class ScreenGrabber;

// What one cursor query found.
struct CursorState {
  uint64_t CursorHandle = 0;  // the cursor's identity (never 0); 0 when none was found
  Point CursorPos;            // mouse position in screen pixels
};

// Copies a rectangle of the screen into a bitmap, optionally centring a fixed-size area on
// the mouse and drawing the cursor. Grab runs on any one thread at a time; a grabber may be
// created on any thread, since it holds only the screen rectangle. Several grabbers may work
// on several threads at once; one grabber is used by one thread at a time.
class Grabber {
 public:
  // damageReports false compares copies even where the server reports damage (for tests of
  // that road); partialCopies false writes every pixel of every changed frame, where otherwise
  // only what the server reports drawn on (and the cursor) is copied into a bitmap that holds
  // an earlier frame of the area (for tests that compare the two). A bitmap is known by its
  // pixels' address and shape, so one given to GrabChanges is written by this grabber alone
  // until ForgetChanges.
  explicit Grabber(bool damageReports = true, bool partialCopies = true);
  ~Grabber();
  Grabber(const Grabber&) = delete;
  Grabber& operator=(const Grabber&) = delete;

  // (0, 0, screen width, screen height) at the time of the call; empty without a display.
  static Rect ScreenBounds();
  // The monitors of the X screen now, in RandR's order; the whole screen as one monitor named
  // "screen" where RandR tells none, and none without a display.
  static std::vector<Monitor> Monitors();
  // Where an area chosen in screen pixels is taken from a shared screen's picture, for
  // recordings and photos alike: placed on the monitor or window the desktop shares, or that
  // whole picture when whole is set (a shared window).
  static Rect AreaOnSource(const Rect& area, bool whole, ScreenSource& source);

  // A fresh query of the mouse position and the cursor shown. The handle is 0 (and the
  // position (0, 0)) when the cursor cannot be learnt; following then keeps the origin and
  // no cursor is drawn.
  CursorState GetCursorState();

  // Copies bitmap.Width() x bitmap.Height() pixels from origin (or from the followed
  // position) into the bitmap; capturedRect receives the rectangle really copied. The part
  // of the rectangle outside the screen comes out black. The bitmap must be 24 or 32 bits
  // per pixel. False, with the bitmap unchanged, when the screen cannot be copied; Failure()
  // then says why: NoDisplayMessage() when no display can be reached, SharingEndedMessage()
  // when the desktop's shared screen ended, else CopyFailedMessage().
  bool Grab(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
            bool showCursor);

  // Grab for a recording that leaves out unchanged frames: changed false, with the bitmap as
  // the previous call left it, when the picture would be the previous call's again. What
  // counts: anything drawn inside the area (learnt from the X server's damage reports, or,
  // without them, by comparing the copy with the previous one), the cursor's position or
  // shape where it is drawn, and the area's own place when it follows the cursor. The first
  // call always copies. Failures as Grab's.
  bool GrabChanges(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                   bool showCursor, bool& changed);
  // Stops watching for changes until the next GrabChanges, which then copies whatever the
  // screen shows. For a recording that pauses.
  void ForgetChanges();

  // A new bitmap of the whole screen, without the cursor, in the screen's own 32-bit layout
  // (blue, green, red, unused). Without a display the empty screen size is an invalid
  // bitmap: error report and silent abort.
  std::unique_ptr<DIBBitmap> Snapshot();

  // What the user is told when a grab fails: the screen could not be copied, or no X display
  // could be opened (named as DISPLAY gives it). Every caller of the engine (the application,
  // the command-line tool) says the same.
  static QString CopyFailedMessage();
  static QString NoDisplayMessage();

  // Takes the pictures from a screen-cast stream instead of the X server from now on: the
  // stream's newest picture is the screen, its cursor report the cursor, and its reports of
  // changed parts tell unchanged frames (no new picture is one). A grab fails once the sharing
  // has ended, after telling the user SharingEndedMessage(), or that PipeWire went away.
  void UseSource(std::shared_ptr<ScreenSource> source);
  // The last grab failed because the sharing had ended.
  bool SharingEnded() const { return sharingEnded_; }
  // Why the last grab failed, one sentence for the user; the caller tells it.
  const QString& Failure() const { return failure_; }
  static QString SharingEndedMessage();

  // The X screen's monitors have changed since the grabber was made (one unplugged, moved or
  // resized): from then on every copy is black wherever no monitor shows now. The monitors are
  // read again about once a second while grabbing from the X screen.
  bool MonitorsChanged() const { return monitorsChanged_; }

  // The screen bounds taken when the grabber was created; following keeps the area inside
  // them, and inside the monitor the cursor is on where the area fits there.
  const Rect& ScreenRect() const { return screenRect_; }
  void SetScreenRect(const Rect& bounds) { screenRect_ = bounds; }

 private:
  // Keeps why the grab failed; returns false.
  bool Fail(const QString& why);
  // The cursor as it appears in a frame: drawn or not, which one, where inside the frame.
  struct CursorMark {
    bool Drawn = false;
    uint64_t Handle = 0;
    Point At;
    friend bool operator==(const CursorMark&, const CursorMark&) = default;
  };

  // Where a grab from origin copies from: the followed position when following.
  Point Locate(Point origin, int32_t w, int32_t h, bool followCursor, const CursorState& state);
  // Reads the monitors again when a second has passed since the last time.
  void WatchMonitors();
  // Blackens what of the copied area no monitor shows, once the monitors have changed.
  void BlackenOffMonitors(DIBBitmap& bitmap, const Rect& area) const;
  // A bitmap that GrabChanges wrote a frame of the area into: where the screen has been drawn
  // on since, and where the cursor was drawn over it (rectangles of the area).
  struct KeptFrame {
    const uint8_t* Bits = nullptr;
    int32_t Width = 0, Height = 0;
    uint32_t Stride = 0;
    PixelFormat Format = PixelFormat::Device;
    Rect Area;
    uint64_t Layout = 0;  // the screen layer's Layout() as it was copied
    std::vector<Rect> Drawn;
    Rect Cursor;
  };

  // Copies the area at (x, y) and draws the cursor; mark receives what was drawn. With drawn
  // given (the rectangles the server reported drawn inside the area since the last frame),
  // only what differs from the bitmap's earlier frame is copied, where it holds one.
  bool CopyArea(DIBBitmap& bitmap, int32_t x, int32_t y, Rect& capturedRect, bool showCursor,
                CursorMark& mark, std::vector<Rect>* drawn = nullptr);
  CursorMark MarkOf(const CursorState& state, const Rect& area, bool showCursor) const;
  // Grab and GrabChanges on a screen-cast stream; changesOnly for the latter.
  bool GrabSource(DIBBitmap& bitmap, Point origin, Rect& capturedRect, bool followCursor,
                  bool showCursor, bool changesOnly, bool& changed);

  Rect screenRect_;
  // The X screen's monitors as the grabber was made; following keeps the area inside one.
  std::vector<Monitor> monitors_;
  bool monitorsChanged_ = false;
  std::chrono::steady_clock::time_point nextMonitorCheck_;
  bool useDamage_;
  bool partialCopies_;
  // The bitmaps that hold frames of the area, the latest last (a writer may hand them back in
  // turns).
  std::vector<KeptFrame> kept_;
  std::vector<Rect> parts_;  // what this copy writes
  // The picture CopyArea drew last, in whichever bitmap.
  struct Previous {
    uint64_t Serial = 0;
    Rect Area;
    uint64_t Layout = 0;
    Rect Cursor;
  } previous_;
  bool copied_ = false;  // GrabChanges has copied a frame
  Rect lastArea_;
  CursorMark lastMark_;
  std::vector<uint8_t> lastPicture_;  // the previous copy, where there are no damage reports
  std::unique_ptr<DamageWatch> damage_;
  // Made at the first grab, so that creating a grabber costs one screen query only.
  std::unique_ptr<ScreenGrabber> screen_;
  std::unique_ptr<CursorSource> cursor_;
  std::shared_ptr<ScreenSource> source_;
  bool sharingEnded_ = false;
  QString failure_;
};

}  // namespace qm
