#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Rect.h"

// Xlib's display type, named without including Xlib.
struct _XDisplay;

namespace qm {

// One window as it was when the desktop's windows were read.
struct WindowRecord {
  uint64_t Handle = 0;
  Rect Bounds;            // in screen pixels, border included
  bool BoundsOk = false;  // false when the window was gone before its rectangle could be read
  bool Visible = false;   // mapped, and every ancestor mapped too
};

// The desktop's windows as the user sees them, over a connection of its own. With a window
// manager the root's children are frames: a top-level window is the application window in
// the frame's subtree that carries WM_STATE, and its rectangle is the frame's (decorations
// included); without a window manager it is the root's child itself; override-redirect windows
// (menus, tooltips) stand for themselves. Frames without an application window and the
// manager's own decorations are never listed. X errors (a window closed while it is read) turn
// into failed results; they never end the process.
// Use on one thread.
class DesktopWindows {
 public:
  // Connects to the display named by DISPLAY; Ok() tells whether that worked.
  DesktopWindows();
  ~DesktopWindows();
  DesktopWindows(const DesktopWindows&) = delete;
  DesktopWindows& operator=(const DesktopWindows&) = delete;

  bool Ok() const { return display_ != nullptr; }

  // Every top-level window, topmost first, hidden ones included, with its rectangle read now.
  std::vector<WindowRecord> TopLevelWindows();

  // Every descendant of window (its children, their children, ...), each child before its
  // own children, siblings topmost first, with their rectangles read now. Empty when the
  // window is gone.
  std::vector<WindowRecord> Descendants(uint64_t window);

  // The window's rectangle now (a top-level window's frame, as in TopLevelWindows); false when
  // the window is gone.
  bool CurrentRect(uint64_t window, Rect& rect);

  // Asks for the window (a top-level one) to cover rect of the screen exactly, in device
  // pixels; a window manager may still place it otherwise. False without a display.
  bool Place(uint64_t window, const Rect& rect);

  // The pointer's position on the screen; false when it cannot be read.
  bool PointerPosition(Point& position);

 private:
  struct Closer {
    void operator()(_XDisplay* display) const;
  };

  bool ManagerRunning();
  bool HasWmState(unsigned long window);
  unsigned long ClientOf(unsigned long window, int depth);
  void AddSubtree(unsigned long window, Point origin, bool visible, std::vector<WindowRecord>& out,
                  int depth);

  std::unique_ptr<_XDisplay, Closer> display_;
  unsigned long wmState_ = 0;
};

}  // namespace qm
