#include "support/WindowManager.h"

#include <QProcessEnvironment>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <sys/prctl.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace qm::test {

namespace {

// True once a window manager redirects the root and has announced itself on it.
bool ManagerReady(Display* d) {
  const Window root = DefaultRootWindow(d);
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, root, &a) || !(a.all_event_masks & SubstructureRedirectMask))
    return false;
  const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  const bool present = XGetWindowProperty(d, root, check, 0, 1, False, XA_WINDOW, &type, &format,
                                          &items, &after, &data) == Success &&
                       type == XA_WINDOW && items == 1;
  if (data) XFree(data);
  return present;
}

// True once a window mapped now is framed by the manager: openbox names itself on the root a
// little before it takes windows in.
bool ManagesNewWindows(Display* d) {
  const Window root = DefaultRootWindow(d);
  const Window probe = XCreateSimpleWindow(d, root, 0, 0, 10, 10, 0, 0, 0);
  XMapWindow(d, probe);
  XSync(d, False);
  bool framed = false;
  for (int i = 0; i < 100 && !framed; ++i) {
    Window up = 0, top = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XWindowAttributes a;
    if (XQueryTree(d, probe, &top, &up, &children, &count) && up != root &&
        XGetWindowAttributes(d, probe, &a) && a.map_state == IsViewable)
      framed = true;
    if (children) XFree(children);
    if (!framed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  XDestroyWindow(d, probe);
  XSync(d, False);
  return framed;
}

}  // namespace

WindowManager::~WindowManager() {
  Stop();
}

bool WindowManager::Start() {
  if (!home_.isValid()) return false;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
  env.insert(QStringLiteral("XDG_CACHE_HOME"), home_.filePath(QStringLiteral("cache")));
  env.insert(QStringLiteral("XDG_DATA_HOME"), home_.filePath(QStringLiteral("data")));
  process_.setProcessEnvironment(env);
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.setStandardOutputFile(QProcess::nullDevice());
  // openbox ends with this process even when a hanging test is cut short.
  process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
  process_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
  if (!process_.waitForStarted(10000)) return false;

  const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  if (!display) return false;
  for (int i = 0; i < 2000; ++i) {
    if (ManagerReady(display.get()) && ManagesNewWindows(display.get())) return true;
    if (process_.state() != QProcess::Running) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void WindowManager::Stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(5000)) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

}  // namespace qm::test
