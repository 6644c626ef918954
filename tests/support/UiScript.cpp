#include "support/UiScript.h"

#include <QApplication>
#include <QWidget>

#include "support/XScreen.h"

namespace qm::test {

UiScript::UiScript() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
}

UiScript& UiScript::When(std::function<bool()> ready, std::function<void()> act) {
  steps_.push_back(Step{std::move(ready), std::move(act)});
  return *this;
}

UiScript& UiScript::Then(std::function<void()> act) {
  return When([] { return true; }, std::move(act));
}

UiScript& UiScript::Pause(int milliseconds) {
  Step step;
  step.PauseMs = milliseconds;
  steps_.push_back(std::move(step));
  return *this;
}

void UiScript::Start() {
  timer_.start();
}

void UiScript::RunOut() {
  while (!Done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void UiScript::Poll() {
  if (next_ < steps_.size()) {
    Step& step = steps_[next_];
    if (step.PauseMs >= 0) {
      if (!pausing_) {
        pausing_ = true;
        clock_.start();
      }
      if (clock_.elapsed() < step.PauseMs) return;
      pausing_ = false;
    } else {
      if (!step.Ready()) return;
      if (qEnvironmentVariableIsSet("QM_SCRIPT_TRACE")) qDebug("step %zu", next_);
      if (step.Act) step.Act();
    }
    // One step per poll: the events a step causes arrive before the next one looks.
    ++next_;
  }
  if (Done()) timer_.stop();
}

QWidget* ActiveWindowNamed(const char* objectName) {
  QWidget* active = QApplication::activeWindow();
  return active && active->isVisible() && active->objectName() == QLatin1String(objectName)
             ? active
             : nullptr;
}

bool SelectionScreenReady() {
  static XScreen x;
  QWidget* screen = ActiveWindowNamed("SelectionScreen");
  if (!screen) return false;
  // Placed over the whole screen, and what a click anywhere reaches (no frame of a window
  // closed just before lies above it any more).
  const Rect bounds = x.Bounds();
  return x.ScreenRectOf(screen->winId()) == bounds &&
         x.WindowAt(bounds.Left + 1, bounds.Top + 1) == screen->winId() &&
         x.WindowAt(bounds.Right - 2, bounds.Bottom - 2) == screen->winId();
}

QWidget* ActiveModal() {
  QWidget* modal = QApplication::activeModalWidget();
  return modal && modal->isVisible() && modal == QApplication::activeWindow() ? modal : nullptr;
}

}  // namespace qm::test
