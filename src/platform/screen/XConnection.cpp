#include "platform/screen/XConnection.h"

#include <mutex>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>

namespace qm {

namespace {

using ErrorHandler = int (*)(Display*, XErrorEvent*);

// Xlib keeps one error handler for the whole process. Ours counts the errors of our own
// connection and hands everybody else's to the handler that was installed before it.
std::mutex gHandlerMutex;
std::atomic<ErrorHandler> gPrevious{nullptr};
std::atomic<Display*> gOurDisplay{nullptr};
std::atomic<std::atomic<uint64_t>*> gOurErrors{nullptr};

int OnError(Display* display, XErrorEvent* event) {
  if (display == gOurDisplay.load()) {
    if (std::atomic<uint64_t>* errors = gOurErrors.load()) ++*errors;
    return 0;
  }
  ErrorHandler previous = gPrevious.load();
  return previous ? previous(display, event) : 0;
}

// Returning instead of exiting leaves the connection dead but the process alive; the next
// Shared() opens a new one.
void OnIOErrorExit(Display*, void* broken) {
  *static_cast<std::atomic<bool>*>(broken) = true;
}

// Xlib's default I/O error handler exits before the exit handler above is reached; ours
// returns for our own connection and leaves every other display to the previous handler.
using IOErrorHandler = int (*)(Display*);
std::atomic<IOErrorHandler> gPreviousIO{nullptr};

int OnIOError(Display* display) {
  if (display == gOurDisplay.load()) return 0;
  IOErrorHandler previous = gPreviousIO.load();
  return previous ? previous(display) : 0;
}

std::mutex gSharedMutex;
std::shared_ptr<XConnection> gShared;

}  // namespace

void XConnection::DisplayCloser::operator()(_XDisplay* display) const {
  if (display) XCloseDisplay(display);
}

// (Re)installs our handlers: the toolkit may have set its own since the last time.
void XConnection::InstallErrorHandler() {
  std::lock_guard lock(gHandlerMutex);
  if (ErrorHandler current = XSetErrorHandler(OnError); current != OnError) gPrevious = current;
  if (IOErrorHandler current = XSetIOErrorHandler(OnIOError); current != OnIOError) {
    gPreviousIO = current;
  }
}

std::shared_ptr<XConnection> XConnection::Shared() {
  std::lock_guard lock(gSharedMutex);
  if (gShared && !gShared->Broken()) return gShared;

  // Several threads use the shared connection; Xlib must know before it opens a display.
  static const bool threadsReady = XInitThreads() != 0;
  (void)threadsReady;

  std::shared_ptr<XConnection> connection(new XConnection());
  connection->display_.reset(XOpenDisplay(nullptr));
  ::Display* display = connection->display_.get();
  if (!display) return nullptr;
  XSetIOErrorExitHandler(display, OnIOErrorExit, &connection->broken_);
  gOurErrors = &connection->errors_;
  gOurDisplay = display;
  InstallErrorHandler();

  int major = 0, minor = 0;
  Bool pixmaps = False;
  connection->hasShm_ = XShmQueryVersion(display, &major, &minor, &pixmaps) != 0;
  int eventBase = 0, errorBase = 0;
  if (XFixesQueryExtension(display, &eventBase, &errorBase)) {
    major = 6;
    minor = 0;
    connection->hasXFixes_ = XFixesQueryVersion(display, &major, &minor) != 0 && major >= 1;
    if (connection->hasXFixes_ && major >= 2) {
      XFixesSelectCursorInput(display, DefaultRootWindow(display), XFixesDisplayCursorNotifyMask);
      connection->fixesEventBase_ = eventBase;
    }
  }
  gShared = connection;
  return connection;
}

XConnection::~XConnection() {
  ::Display* display = display_.get();
  if (!display) return;
  if (broken_) {
    // The server went away. Closing would wait for Xlib's lock of the display, which the
    // thread that met the error (a recording's capture thread, ended since) may still hold:
    // the dead connection is left as it is.
    if (gOurDisplay.load() == display) {
      gOurDisplay = nullptr;
      gOurErrors = nullptr;
    }
    static std::mutex deadMutex;
    static auto* dead = new std::vector<::Display*>();  // kept reachable, never closed
    std::lock_guard lock(deadMutex);
    dead->push_back(display_.release());
    return;
  }
  // Errors still on their way belong to us: collect them before the handler forgets us.
  if (!broken_) XSync(display, False);
  if (gOurDisplay.load() == display) {
    gOurDisplay = nullptr;
    gOurErrors = nullptr;
  }
}

uint64_t XConnection::AnnouncedCursorSerial() {
  if (fixesEventBase_ < 0) return 0;
  // Nothing else is selected on this connection, so its queue holds only these.
  XEvent event;
  while (XCheckTypedEvent(display_.get(), fixesEventBase_ + XFixesCursorNotify, &event)) {
    cursorSerial_ = reinterpret_cast<XFixesCursorNotifyEvent&>(event).cursor_serial;
  }
  return cursorSerial_;
}

XConnection::Lock::Lock(XConnection& connection) : guard_(connection.mutex_) {
  InstallErrorHandler();
}

XConnection::Lock::~Lock() = default;

}  // namespace qm
