#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// Xlib's display type, named without including Xlib.
struct _XDisplay;

namespace qm {

// The process's one connection to the X display for reading the screen and the cursor. All
// threads share it; every sequence of requests runs under a XConnection::Lock, which also
// makes sure that an X error on this connection never ends the process: it is counted
// (ErrorCount) and the request that caused it reports failure to its caller.
// Thread-safe.
class XConnection {
 public:
  // The shared connection, opened at first use (and again after the server went away);
  // nullptr when no display can be opened.
  static std::shared_ptr<XConnection> Shared();

  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  // Holds the connection for one sequence of requests.
  class Lock {
   public:
    explicit Lock(XConnection& connection);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    std::lock_guard<std::mutex> guard_;
  };

  // Valid while the XConnection lives; use under a Lock only.
  _XDisplay* Display() const { return display_.get(); }

  bool HasShm() const { return hasShm_; }
  bool HasXFixes() const { return hasXFixes_; }

  // Under a Lock, after a round trip: the serial of the cursor on the screen as the server
  // last announced it (XFixes cursor notification), or 0 when nothing is known. Lets cursor
  // readers skip fetching an image they already hold.
  uint64_t AnnouncedCursorSerial();
  // Under a Lock: records the serial of a cursor image just fetched.
  void NoteCursorSerial(uint64_t serial) { cursorSerial_ = serial; }

  // X errors seen on this connection so far. Compare before and after a request (and an
  // XSync for requests without a reply) to learn whether it failed.
  uint64_t ErrorCount() const { return errors_.load(); }

  // True once the connection to the server is lost; every request then fails.
  bool Broken() const { return broken_.load(); }

 private:
  struct DisplayCloser {
    void operator()(_XDisplay* display) const;
  };

  XConnection() = default;
  static void InstallErrorHandler();

  std::mutex mutex_;
  std::unique_ptr<_XDisplay, DisplayCloser> display_;
  bool hasShm_ = false;
  bool hasXFixes_ = false;
  int fixesEventBase_ = -1;  // -1: no cursor notifications
  uint64_t cursorSerial_ = 0;
  std::atomic<uint64_t> errors_{0};
  std::atomic<bool> broken_{false};
};

}  // namespace qm
