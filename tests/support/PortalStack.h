#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace qm::test {

// The private desktop session of the screen-cast tests (tests/screencast/stack.sh): a session
// bus with PipeWire, the tests' own ScreenCast backend standing in for the compositor, and the
// real desktop portal program. Everything it started stops when it is destroyed.
class PortalStack {
 public:
  PortalStack() = default;
  ~PortalStack();
  PortalStack(const PortalStack&) = delete;
  PortalStack& operator=(const PortalStack&) = delete;

  // Starts the session; its control and log files live in dir. False, with Errors(), when it
  // did not come up.
  bool Start(const QString& dir);

  QString Errors() const { return errors_; }
  QByteArray Bus() const { return bus_; }  // the session bus's address
  int PipeWirePid() const { return pipewire_; }

  // What the backend does from its next session on (the lines of its header comment).
  void Control(const QByteArray& text) const;
  // The backend's log: "dialog" or "restored" and the types asked for, for each session it
  // started.
  QStringList Log() const;
  void ClearLog() const;

 private:
  QProcess process_;
  QString control_, log_, errors_;
  QByteArray bus_;
  int pipewire_ = 0;
};

// What a test does when the stack did not start (failure says why): it fails where the suite's
// machine promises the stack (QM_SESSION_STACK=1), else it is skipped. For SetUp.
void RequireStack(const QString& failure);

// The backend's pixel at (x, y) of picture n: blue x + 3n, green y + 5n, red n (modulo 256).
void PatternPixel(int x, int y, int n, uint8_t bgr[3]);

// Every frame of a file (a recording, or a picture) of the backend's stream, decoded: each shows
// one picture n of the pattern (red n), shifted by (dx, dy), except where skip says; the
// pictures never go back.
void ExpectPattern(const QString& path, int width, int height, int dx, int dy,
                   const std::function<bool(int, int)>& skip = {});

}  // namespace qm::test
