#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <vector>

class QWidget;

namespace qm::test {

// Steps run from the event loop while a modal window holds it: each step waits (checked
// every 10 ms) until its condition holds, then acts. Build it, Start it, then run the modal
// code. A hanging test is ended by the test program's watchdog.
class UiScript {
 public:
  UiScript();

  // Waits until ready() holds, then runs act().
  UiScript& When(std::function<bool()> ready, std::function<void()> act = {});
  // Runs act() next.
  UiScript& Then(std::function<void()> act);
  // Waits at least milliseconds before the next step.
  UiScript& Pause(int milliseconds);

  void Start();
  // Runs the event loop until every step has run.
  void RunOut();
  bool Done() const { return next_ >= steps_.size(); }

 private:
  struct Step {
    std::function<bool()> Ready;
    std::function<void()> Act;
    int PauseMs = -1;
  };
  void Poll();

  std::vector<Step> steps_;
  size_t next_ = 0;
  bool pausing_ = false;
  QElapsedTimer clock_;
  QTimer timer_;
};

// The visible top-level widget with the object name, when it is the active window; else
// nullptr.
QWidget* ActiveWindowNamed(const char* objectName);
// True when the selection screen is the active window and covers the whole X screen (a
// window manager may map it elsewhere first).
bool SelectionScreenReady();
// The active modal widget when it is the active window; else nullptr.
QWidget* ActiveModal();

}  // namespace qm::test
