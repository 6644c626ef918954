#include "support/AppDriver.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

namespace qm::test {

void AppDriver::Closer::operator()(_XDisplay* display) const {
  XCloseDisplay(display);
}

AppDriver::AppDriver() : display_(XOpenDisplay(nullptr)) {}

AppDriver::~AppDriver() = default;

Rect AppDriver::FindWindow(const QString& title, const Rect& exclude) const {
  if (!display_) return Rect();
  Display* d = display_.get();
  const Window root = DefaultRootWindow(d);
  // Only windows the window manager manages carry WM_STATE; docked tray icons do not.
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  auto managed = [&](Window window) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const bool has = XGetWindowProperty(d, window, wmState, 0, 2, False, AnyPropertyType, &type,
                                        &format, &items, &after, &data) == Success &&
                     type != None;
    if (data) XFree(data);
    return has;
  };
  std::vector<Window> pending{root};
  while (!pending.empty()) {
    const Window window = pending.back();
    pending.pop_back();
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable)
      continue;
    char* name = nullptr;
    if (window != root && XFetchName(d, window, &name) && name) {
      const bool match = QString::fromUtf8(name) == title && managed(window);
      XFree(name);
      int x = 0, y = 0;
      Window child = 0;
      XTranslateCoordinates(d, window, root, 0, 0, &x, &y, &child);
      const Rect bounds{x, y, x + attributes.width, y + attributes.height};
      if (match && bounds != exclude) return bounds;
    }
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, window, &rootReturn, &parent, &children, &count)) continue;
    for (unsigned i = 0; i < count; ++i) pending.push_back(children[i]);
    if (children) XFree(children);
  }
  return Rect();
}

void AppDriver::Click(int32_t x, int32_t y) {
  screen_.MovePointer(x, y);
  screen_.PressButton(1);
  screen_.ReleaseButton(1);
}

void AppDriver::Key(const char* keysym, bool control) {
  if (!display_) return;
  Display* d = display_.get();
  const KeyCode ctrl = XKeysymToKeycode(d, XK_Control_L);
  const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysym));
  if (control) XTestFakeKeyEvent(d, ctrl, True, CurrentTime);
  XTestFakeKeyEvent(d, code, True, CurrentTime);
  XTestFakeKeyEvent(d, code, False, CurrentTime);
  if (control) XTestFakeKeyEvent(d, ctrl, False, CurrentTime);
  XSync(d, False);
}

Point AppDriver::FindColour(const Rect& area, Colour colour) const {
  const std::vector<Colour> pixels = screen_.Pixels(area);
  int64_t sumX = 0, sumY = 0, count = 0;
  for (int32_t y = 0; y < area.Height() && !pixels.empty(); ++y) {
    for (int32_t x = 0; x < area.Width(); ++x) {
      if (pixels[size_t(y) * size_t(area.Width()) + size_t(x)] != colour) continue;
      sumX += x;
      sumY += y;
      ++count;
    }
  }
  if (count == 0) return Point{-1, -1};
  return Point{area.Left + int32_t(sumX / count), area.Top + int32_t(sumY / count)};
}

}  // namespace qm::test
