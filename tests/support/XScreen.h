#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Rect.h"

struct _XDisplay;

namespace qm::test {

// A colour as 0xRRGGBB.
using Colour = uint32_t;

// The colour that a pattern gives to the screen pixel (x, y).
using PatternFunction = std::function<Colour(int32_t x, int32_t y)>;

// Puts known pictures on the test X server and moves its pointer, over a connection of its
// own. Whatever it put on the screen (windows, the root cursor) goes away with it.
// Use on one thread.
//
//   XScreen screen;
//   screen.Show(screen.Bounds());               // the whole screen shows XScreen::Pattern
//   screen.MovePointer(100, 200);
//   ... grab, then compare with XScreen::Pattern(x, y) ...
class XScreen {
 public:
  // Connects to the display named by DISPLAY; Ok() tells whether that worked.
  XScreen();
  ~XScreen();
  XScreen(const XScreen&) = delete;
  XScreen& operator=(const XScreen&) = delete;

  bool Ok() const { return display_ != nullptr; }

  // (0, 0, screen width, screen height).
  Rect Bounds() const;

  // Different in every pixel of a screen up to 4096 x 4096: red is x mod 256, green is
  // y mod 256, blue holds the upper bits of x (low nibble) and y (high nibble).
  static Colour Pattern(int32_t x, int32_t y);

  // Shows a borderless window above all others over area (which may reach off the screen),
  // each pixel coloured by pattern in screen coordinates. Returns once the server shows it.
  void Show(const Rect& area, const PatternFunction& pattern = Pattern);

  // Takes every window shown so far off the screen.
  void Clear();

  // Moves the pointer to (x, y) of the screen; returns once the server has moved it.
  void MovePointer(int32_t x, int32_t y);

  // Shows, wherever no window chooses a cursor of its own, a cursor that is an opaque box of
  // width x height pixels in colour, with its hot spot at (hotX, hotY) of the box.
  void SetBoxCursor(int32_t width, int32_t height, int32_t hotX, int32_t hotY, Colour colour);

  // The colour of the screen pixel (x, y) as the server reads it back.
  Colour PixelAt(int32_t x, int32_t y) const;

  // The colours of area's screen pixels, row by row; empty when area is not on the screen.
  std::vector<Colour> Pixels(const Rect& area) const;

  // Presses or releases pointer button (1 left, 2 middle, 3 right) as the user would (XTest);
  // returns once the server has it.
  void PressButton(unsigned button);
  void ReleaseButton(unsigned button);

  // The bounds on the screen of a viewable window whose class instance (WM_CLASS) is
  // instance and that another client's window holds (docked, not a child of the root), or
  // an empty rectangle.
  Rect EmbeddedWindow(const std::string& instance) const;
  // Whether a window of class instance that stands for itself (override-redirect, as a menu
  // does) is shown on top of the root.
  bool PopupShown(const std::string& instance) const;

  // Opens a window of one colour over area (in parent's coordinates; parent 0 is the root):
  // an application window that a window manager frames, or with overrideRedirect a window
  // that stands for itself like a menu. Mapped ones are waited for until they show. Goes away
  // with Clear or CloseWindow.
  unsigned long OpenWindow(const Rect& area, Colour colour, unsigned long parent = 0,
                           bool mapped = true, bool overrideRedirect = false);
  void CloseWindow(unsigned long window);

  // The inside of a window in screen coordinates.
  Rect ScreenRectOf(unsigned long window) const;

  // The first viewable window (depth first from the root) whose name is name; 0 for none.
  unsigned long FindWindowNamed(const char* name) const;
  // The deepest window shown at the screen point (x, y): the one a click there reaches.
  unsigned long WindowAt(int32_t x, int32_t y) const;
  // The window that has the keyboard focus (None, PointerRoot as X gives them).
  unsigned long FocusWindow() const;

  // The pointer moved to (x, y) of the screen as the user moves it (XTest), and a click there.
  void FakeMotion(int32_t x, int32_t y);
  void FakeClick(int32_t x, int32_t y, unsigned button = 1);

 private:
  struct Closer {
    void operator()(_XDisplay* display) const;
  };
  std::unique_ptr<_XDisplay, Closer> display_;
  std::vector<unsigned long> windows_;
  std::vector<unsigned long> opened_;  // top-level windows of OpenWindow
  unsigned long cursor_ = 0;
};

}  // namespace qm::test
