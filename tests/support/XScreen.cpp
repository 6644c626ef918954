#include "support/XScreen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qm::test {

namespace {

// The position of a colour channel of the test server's 8-bit-per-channel visual.
int Shift(unsigned long mask) {
  return mask ? __builtin_ctzl(mask) : 0;
}

}  // namespace

void XScreen::Closer::operator()(_XDisplay* display) const {
  if (display) XCloseDisplay(display);
}

XScreen::XScreen() : display_(XOpenDisplay(nullptr)) {}

XScreen::~XScreen() {
  if (!display_) return;
  Display* d = display_.get();
  Clear();
  if (cursor_) {
    // The root keeps a cursor even after its client is gone: hand it back explicitly.
    XUndefineCursor(d, DefaultRootWindow(d));
    XFreeCursor(d, cursor_);
  }
  XSync(d, False);
}

Rect XScreen::Bounds() const {
  if (!display_) return Rect();
  Display* d = display_.get();
  const int screen = DefaultScreen(d);
  return Rect{0, 0, DisplayWidth(d, screen), DisplayHeight(d, screen)};
}

Colour XScreen::Pattern(int32_t x, int32_t y) {
  const uint32_t ux = uint32_t(x), uy = uint32_t(y);
  return (ux & 0xFF) << 16 | (uy & 0xFF) << 8 | ((uy >> 8) & 0x0F) << 4 | ((ux >> 8) & 0x0F);
}

void XScreen::Show(const Rect& area, const PatternFunction& pattern) {
  if (!display_ || area.Width() <= 0 || area.Height() <= 0) return;
  Display* d = display_.get();
  const int screen = DefaultScreen(d);
  const Window root = DefaultRootWindow(d);
  const unsigned depth = unsigned(DefaultDepth(d, screen));
  const unsigned width = unsigned(area.Width()), height = unsigned(area.Height());

  // The pattern becomes the window's background, so the server repaints it by itself
  // whenever anything uncovers it.
  XImage* image =
      XCreateImage(d, DefaultVisual(d, screen), depth, ZPixmap, 0, nullptr, width, height, 32, 0);
  image->data = static_cast<char*>(std::malloc(size_t(image->bytes_per_line) * height));
  for (int32_t y = 0; y < area.Height(); ++y) {
    for (int32_t x = 0; x < area.Width(); ++x) {
      const Colour c = pattern(area.Left + x, area.Top + y);
      const unsigned long pixel = ((c >> 16) & 0xFF) << Shift(image->red_mask) |
                                  ((c >> 8) & 0xFF) << Shift(image->green_mask) |
                                  (c & 0xFF) << Shift(image->blue_mask);
      XPutPixel(image, x, y, pixel);
    }
  }
  const Pixmap pixmap = XCreatePixmap(d, root, width, height, depth);
  const GC gc = XCreateGC(d, pixmap, 0, nullptr);
  XPutImage(d, pixmap, gc, image, 0, 0, 0, 0, width, height);
  XFreeGC(d, gc);
  XDestroyImage(image);

  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixmap = pixmap;
  const Window window =
      XCreateWindow(d, root, area.Left, area.Top, width, height, 0, int(depth), InputOutput,
                    DefaultVisual(d, screen), CWOverrideRedirect | CWBackPixmap, &attributes);
  XFreePixmap(d, pixmap);  // the window holds it
  XMapRaised(d, window);
  XSync(d, False);
  windows_.push_back(window);
}

void XScreen::Clear() {
  if (!display_) return;
  for (unsigned long window : windows_) XDestroyWindow(display_.get(), window);
  for (unsigned long window : opened_) XDestroyWindow(display_.get(), window);
  opened_.clear();
  windows_.clear();
  XSync(display_.get(), False);
}

void XScreen::MovePointer(int32_t x, int32_t y) {
  if (!display_) return;
  Display* d = display_.get();
  XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, x, y);
  XSync(d, False);
}

void XScreen::SetBoxCursor(int32_t width, int32_t height, int32_t hotX, int32_t hotY,
                           Colour colour) {
  if (!display_) return;
  Display* d = display_.get();
  const Window root = DefaultRootWindow(d);
  const int bytesPerRow = (width + 7) / 8;
  std::vector<char> bits(size_t(bytesPerRow) * size_t(height), char(0xFF));
  const Pixmap shape =
      XCreateBitmapFromData(d, root, bits.data(), unsigned(width), unsigned(height));
  XColor fore{}, back{};
  fore.red = uint16_t(((colour >> 16) & 0xFF) * 257);
  fore.green = uint16_t(((colour >> 8) & 0xFF) * 257);
  fore.blue = uint16_t((colour & 0xFF) * 257);
  fore.flags = DoRed | DoGreen | DoBlue;
  back.flags = DoRed | DoGreen | DoBlue;
  const Cursor cursor =
      XCreatePixmapCursor(d, shape, shape, &fore, &back, unsigned(hotX), unsigned(hotY));
  XFreePixmap(d, shape);
  XDefineCursor(d, root, cursor);
  if (cursor_) XFreeCursor(d, cursor_);
  cursor_ = cursor;
  XSync(d, False);
}

Colour XScreen::PixelAt(int32_t x, int32_t y) const {
  const std::vector<Colour> pixels = Pixels(Rect{x, y, x + 1, y + 1});
  return pixels.empty() ? 0 : pixels[0];
}

std::vector<Colour> XScreen::Pixels(const Rect& area) const {
  std::vector<Colour> colours;
  if (!display_ || area.Width() <= 0 || area.Height() <= 0) return colours;
  Display* d = display_.get();
  XImage* image = XGetImage(d, DefaultRootWindow(d), area.Left, area.Top, unsigned(area.Width()),
                            unsigned(area.Height()), AllPlanes, ZPixmap);
  if (!image) return colours;
  colours.reserve(size_t(area.Width()) * size_t(area.Height()));
  for (int32_t y = 0; y < area.Height(); ++y) {
    for (int32_t x = 0; x < area.Width(); ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      colours.push_back(Colour((pixel & image->red_mask) >> Shift(image->red_mask)) << 16 |
                        Colour((pixel & image->green_mask) >> Shift(image->green_mask)) << 8 |
                        Colour((pixel & image->blue_mask) >> Shift(image->blue_mask)));
    }
  }
  XDestroyImage(image);
  return colours;
}

void XScreen::PressButton(unsigned button) {
  if (!display_) return;
  XTestFakeButtonEvent(display_.get(), button, True, CurrentTime);
  XSync(display_.get(), False);
}

void XScreen::ReleaseButton(unsigned button) {
  if (!display_) return;
  XTestFakeButtonEvent(display_.get(), button, False, CurrentTime);
  XSync(display_.get(), False);
}

Rect XScreen::EmbeddedWindow(const std::string& instance) const {
  if (!display_) return Rect();
  Display* d = display_.get();
  const Window root = DefaultRootWindow(d);
  // Depth first from the root's children; a match among them is a top-level window itself.
  std::vector<std::pair<Window, bool>> pending;  // window, is a child of the root
  auto pushChildren = [&](Window parent, bool ofRoot) {
    Window rootReturn = 0, parentReturn = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, parent, &rootReturn, &parentReturn, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) pending.emplace_back(children[i], ofRoot);
    if (children) XFree(children);
  };
  pushChildren(root, true);
  while (!pending.empty()) {
    const auto [window, ofRoot] = pending.back();
    pending.pop_back();
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable)
      continue;
    XClassHint hint{};
    if (!ofRoot && XGetClassHint(d, window, &hint)) {
      const bool match = hint.res_name && instance == hint.res_name;
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
      if (match) {
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(d, window, root, 0, 0, &x, &y, &child);
        return Rect{x, y, x + attributes.width, y + attributes.height};
      }
    }
    pushChildren(window, false);
  }
  return Rect();
}

bool XScreen::PopupShown(const std::string& instance) const {
  if (!display_) return false;
  Display* d = display_.get();
  Window rootReturn = 0, parentReturn = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &rootReturn, &parentReturn, &children, &count))
    return false;
  bool shown = false;
  for (unsigned i = 0; i < count && !shown; ++i) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(d, children[i], &attributes) || attributes.map_state != IsViewable ||
        !attributes.override_redirect)
      continue;
    XClassHint hint{};
    if (XGetClassHint(d, children[i], &hint)) {
      shown = hint.res_name && instance == hint.res_name;
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
  }
  if (children) XFree(children);
  return shown;
}

unsigned long XScreen::OpenWindow(const Rect& area, Colour colour, unsigned long parent,
                                  bool mapped, bool overrideRedirect) {
  if (!display_) return 0;
  Display* d = display_.get();
  const int screen = DefaultScreen(d);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = overrideRedirect ? True : False;
  attributes.background_pixel =
      ((colour >> 16) & 0xFF) << 16 | ((colour >> 8) & 0xFF) << 8 | (colour & 0xFF);
  const Window window = XCreateWindow(
      d, parent ? Window(parent) : DefaultRootWindow(d), area.Left, area.Top,
      unsigned(area.Width()), unsigned(area.Height()), 0, DefaultDepth(d, screen), InputOutput,
      DefaultVisual(d, screen), CWOverrideRedirect | CWBackPixel, &attributes);
  if (!parent) {
    // Placed where asked, as a user-chosen position tells a window manager.
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = area.Left;
    hints.y = area.Top;
    hints.width = area.Width();
    hints.height = area.Height();
    XSetWMNormalHints(d, window, &hints);
    XStoreName(d, window, "quillmark-test");
  }
  if (!parent) opened_.push_back(window);
  if (!mapped) {
    XSync(d, False);
    return window;
  }
  XMapRaised(d, window);
  XSync(d, False);
  // A window manager maps it in a frame of its own a little later.
  for (int i = 0; i < 1000; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, window, &a) && a.map_state == IsViewable) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return window;
}

void XScreen::CloseWindow(unsigned long window) {
  if (!display_) return;
  std::erase(opened_, window);
  XDestroyWindow(display_.get(), window);
  XSync(display_.get(), False);
}

Rect XScreen::ScreenRectOf(unsigned long window) const {
  if (!display_) return Rect();
  Display* d = display_.get();
  XWindowAttributes a;
  int x = 0, y = 0;
  Window child = 0;
  if (!XGetWindowAttributes(d, window, &a) ||
      !XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child))
    return Rect();
  return Rect{x, y, x + a.width, y + a.height};
}

namespace {

unsigned long FindNamed(Display* d, Window window, const char* name) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, window, &a) || a.map_state != IsViewable) return 0;
  char* own = nullptr;
  if (XFetchName(d, window, &own) && own) {
    const bool same = std::strcmp(own, name) == 0;
    XFree(own);
    if (same) return window;
  }
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, window, &root, &parent, &children, &count)) return 0;
  unsigned long found = 0;
  for (unsigned i = count; i-- > 0 && !found;) found = FindNamed(d, children[i], name);
  if (children) XFree(children);
  return found;
}

}  // namespace

unsigned long XScreen::FindWindowNamed(const char* name) const {
  if (!display_) return 0;
  return FindNamed(display_.get(), DefaultRootWindow(display_.get()), name);
}

unsigned long XScreen::WindowAt(int32_t x, int32_t y) const {
  if (!display_) return 0;
  Display* d = display_.get();
  Window window = DefaultRootWindow(d);
  for (int depth = 0; depth < 64; ++depth) {
    int childX = 0, childY = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d, DefaultRootWindow(d), window, x, y, &childX, &childY, &child) ||
        child == None)
      break;
    window = child;
  }
  return window;
}

unsigned long XScreen::FocusWindow() const {
  if (!display_) return 0;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display_.get(), &focus, &revert);
  return focus;
}

void XScreen::FakeMotion(int32_t x, int32_t y) {
  if (!display_) return;
  XTestFakeMotionEvent(display_.get(), DefaultScreen(display_.get()), x, y, CurrentTime);
  XSync(display_.get(), False);
}

void XScreen::FakeClick(int32_t x, int32_t y, unsigned button) {
  FakeMotion(x, y);
  PressButton(button);
  ReleaseButton(button);
}

}  // namespace qm::test
