#include "platform/windows/DesktopWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <deque>
#include <utility>

namespace qm {

namespace {

// Deeper trees than this are not walked: no real application nests its windows so far, and a
// bound keeps the walk's stack small.
constexpr int kMaxDepth = 64;

using ErrorHandler = int (*)(Display*, XErrorEvent*);

// While one of our calls runs, the X errors of our connection (a window closed while we read
// it) are swallowed: each request then reports failure through its own status. Errors of
// other connections go on to the handler that was there before. The guard against re-entry
// breaks a cycle should another handler in the process pass the error back to us.
Display* gTrapped = nullptr;
ErrorHandler gPrevious = nullptr;
thread_local bool gForwarding = false;

int OnError(Display* display, XErrorEvent* event) {
  if (display == gTrapped || gForwarding) return 0;
  ErrorHandler previous = gPrevious;
  if (!previous || previous == OnError) return 0;
  gForwarding = true;
  const int result = previous(display, event);
  gForwarding = false;
  return result;
}

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    const ErrorHandler previous = XSetErrorHandler(OnError);
    if (previous != OnError) gPrevious = previous;
    gTrapped = display;
  }
  ~ErrorTrap() {
    // Errors of requests without a reply arrive late: collect them while still trapped.
    XSync(display_, False);
    gTrapped = nullptr;
    if (gPrevious) XSetErrorHandler(gPrevious);
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

 private:
  Display* display_;
};

// The children of window, bottom to top as the server keeps them; empty when it is gone.
std::vector<Window> ChildrenOf(Display* display, Window window, Window* parent = nullptr) {
  Window root = 0, up = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &up, &children, &count)) return {};
  std::vector<Window> result(children, children + count);
  if (children) XFree(children);
  if (parent) *parent = up;
  return result;
}

Rect OuterRect(Point outer, const XWindowAttributes& a) {
  return Rect{outer.X, outer.Y, outer.X + a.width + 2 * a.border_width,
              outer.Y + a.height + 2 * a.border_width};
}

}  // namespace

void DesktopWindows::Closer::operator()(_XDisplay* display) const {
  if (display) XCloseDisplay(display);
}

DesktopWindows::DesktopWindows() : display_(XOpenDisplay(nullptr)) {
  if (display_) wmState_ = XInternAtom(display_.get(), "WM_STATE", False);
}

DesktopWindows::~DesktopWindows() = default;

bool DesktopWindows::ManagerRunning() {
  // A window manager is the one client that redirects the root's substructure.
  XWindowAttributes a;
  Display* d = display_.get();
  return XGetWindowAttributes(d, DefaultRootWindow(d), &a) &&
         (a.all_event_masks & SubstructureRedirectMask) != 0;
}

bool DesktopWindows::HasWmState(unsigned long window) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display_.get(), window, wmState_, 0, 0, False,
                                        AnyPropertyType, &type, &format, &items, &after, &data);
  if (data) XFree(data);
  return status == Success && type != None;
}

unsigned long DesktopWindows::ClientOf(unsigned long frame, int depth) {
  // Breadth first: the application window sits near the top of its frame, below a few
  // decoration windows at most.
  std::deque<std::pair<Window, int>> queue{{frame, depth}};
  while (!queue.empty()) {
    const auto [window, level] = queue.front();
    queue.pop_front();
    if (HasWmState(window)) return window;
    if (level >= kMaxDepth) continue;
    for (Window child : ChildrenOf(display_.get(), window)) queue.emplace_back(child, level + 1);
  }
  return 0;
}

std::vector<WindowRecord> DesktopWindows::TopLevelWindows() {
  std::vector<WindowRecord> result;
  if (!display_) return result;
  Display* d = display_.get();
  ErrorTrap trap(d);
  const bool manager = ManagerRunning();
  const std::vector<Window> children = ChildrenOf(d, DefaultRootWindow(d));
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    XWindowAttributes frame;
    if (!XGetWindowAttributes(d, *it, &frame)) continue;  // closed meanwhile
    Window client = 0;
    if (frame.override_redirect || HasWmState(*it))
      client = *it;
    else
      client = ClientOf(*it, 0);
    if (!client && !manager) client = *it;
    if (!client) continue;  // a frame without a client, or the manager's own window

    WindowRecord record;
    record.Handle = client;
    record.Bounds = OuterRect(Point{frame.x, frame.y}, frame);
    record.BoundsOk = true;
    XWindowAttributes inner;
    if (client == *it)
      record.Visible = frame.map_state == IsViewable;
    else
      record.Visible = XGetWindowAttributes(d, client, &inner) && inner.map_state == IsViewable;
    result.push_back(record);
  }
  return result;
}

void DesktopWindows::AddSubtree(unsigned long window, Point origin, bool visible,
                                std::vector<WindowRecord>& out, int depth) {
  if (depth >= kMaxDepth) return;
  Display* d = display_.get();
  const std::vector<Window> children = ChildrenOf(d, window);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    WindowRecord record;
    record.Handle = *it;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, *it, &a)) {
      out.push_back(record);  // gone: listed, but never with a rectangle
      continue;
    }
    const Point outer{origin.X + a.x, origin.Y + a.y};
    record.Bounds = OuterRect(outer, a);
    record.BoundsOk = true;
    record.Visible = visible && a.map_state == IsViewable;
    out.push_back(record);
    AddSubtree(*it, Point{outer.X + a.border_width, outer.Y + a.border_width}, record.Visible, out,
               depth + 1);
  }
}

std::vector<WindowRecord> DesktopWindows::Descendants(uint64_t window) {
  std::vector<WindowRecord> result;
  if (!display_ || window == 0) return result;
  Display* d = display_.get();
  ErrorTrap trap(d);
  XWindowAttributes a;
  int x = 0, y = 0;
  Window child = 0;
  if (!XGetWindowAttributes(d, Window(window), &a) ||
      !XTranslateCoordinates(d, Window(window), DefaultRootWindow(d), 0, 0, &x, &y, &child))
    return result;
  AddSubtree(Window(window), Point{x, y}, a.map_state == IsViewable, result, 0);
  return result;
}

bool DesktopWindows::CurrentRect(uint64_t window, Rect& rect) {
  if (!display_ || window == 0) return false;
  Display* d = display_.get();
  ErrorTrap trap(d);
  const Window root = DefaultRootWindow(d);
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, Window(window), &a)) return false;

  // The root's child above the window: the window itself when it is top-level, else its frame
  // (for a managed application window) or the top-level window it belongs to.
  Window top = Window(window);
  for (int level = 0; level < kMaxDepth; ++level) {
    Window parent = 0;
    ChildrenOf(d, top, &parent);
    if (parent == 0) return false;  // gone meanwhile
    if (parent == root) break;
    top = parent;
  }
  if (top != Window(window) && HasWmState(Window(window))) {
    XWindowAttributes frame;
    if (!XGetWindowAttributes(d, top, &frame)) return false;
    rect = OuterRect(Point{frame.x, frame.y}, frame);
    return true;
  }
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(d, Window(window), root, 0, 0, &x, &y, &child)) return false;
  rect = OuterRect(Point{x - a.border_width, y - a.border_width}, a);
  return true;
}

bool DesktopWindows::PointerPosition(Point& position) {
  if (!display_) return false;
  Display* d = display_.get();
  ErrorTrap trap(d);
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned mask = 0;
  if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &x, &y, &mask))
    return false;
  position = Point{rootX, rootY};
  return true;
}

bool DesktopWindows::Place(uint64_t window, const Rect& rect) {
  if (!display_ || window == 0 || rect.Width() <= 0 || rect.Height() <= 0) return false;
  Display* d = display_.get();
  ErrorTrap trap(d);
  XMoveResizeWindow(d, Window(window), rect.Left, rect.Top, unsigned(rect.Width()),
                    unsigned(rect.Height()));
  XSync(d, False);
  return true;
}

}  // namespace qm
