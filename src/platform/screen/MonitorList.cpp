#include "platform/screen/MonitorList.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <memory>

#include "platform/screen/XConnection.h"

namespace qm {

namespace {

struct MonitorsDeleter {
  void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};

struct AtomNameDeleter {
  void operator()(char* name) const { XFree(name); }
};

}  // namespace

std::vector<Monitor> ReadMonitors() {
  std::vector<Monitor> list;
  std::shared_ptr<XConnection> connection = XConnection::Shared();
  if (!connection) return list;
  XConnection::Lock lock(*connection);
  Display* display = connection->Display();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || major * 100 + minor < 105)
    return list;
  int count = 0;
  const std::unique_ptr<XRRMonitorInfo, MonitorsDeleter> monitors(
      XRRGetMonitors(display, DefaultRootWindow(display), True, &count));
  if (!monitors) return list;
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& info = monitors.get()[i];
    Monitor monitor;
    const std::unique_ptr<char, AtomNameDeleter> name(XGetAtomName(display, info.name));
    monitor.Name = name ? QString::fromUtf8(name.get()) : QStringLiteral("monitor-%1").arg(i);
    monitor.Bounds = Rect{info.x, info.y, info.x + info.width, info.y + info.height};
    monitor.Primary = info.primary != 0;
    if (monitor.Bounds.Width() > 0 && monitor.Bounds.Height() > 0) list.push_back(monitor);
  }
  return list;
}

}  // namespace qm
