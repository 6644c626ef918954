#include "shell/WindowHider.h"

#include <QEvent>
#include <QSystemTrayIcon>
#include <QWidget>

#include "shell/NotifyIcon.h"

namespace qm {

namespace {

constexpr int kPollMilliseconds = 1000;

}  // namespace

WindowHider::WindowHider(QWidget* window, NotifyIcon* icon, QObject* parent)
    : QObject(parent), window_(window), icon_(icon) {
  poll_.setInterval(kPollMilliseconds);
  connect(&poll_, &QTimer::timeout, this, &WindowHider::Poll);
  window_->installEventFilter(this);
}

bool WindowHider::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ &&
      (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange)) {
    // Handled once the toolkit has applied the change.
    QMetaObject::invokeMethod(this, &WindowHider::Follow, Qt::QueuedConnection);
  }
  return QObject::eventFilter(watched, event);
}

void WindowHider::Follow() {
  if (!hidden_ || !window_->isVisible() || window_->isMinimized()) return;
  hidden_ = false;
  poll_.stop();
  icon_->SetActive(false);
}

bool WindowHider::TrayAvailable() {
  // The toolkit asks the desktop: a StatusNotifier host on the session bus, else an XEmbed
  // notification area on the X screen.
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void WindowHider::Hide() {
  hidden_ = true;
  icon_->SetActive(true);
  if (TrayAvailable())
    window_->hide();
  else
    window_->showMinimized();
  poll_.start();
}

void WindowHider::Show() {
  hidden_ = false;
  poll_.stop();
  window_->showNormal();
  window_->raise();
  window_->activateWindow();
  icon_->SetActive(false);
}

void WindowHider::Poll() {
  if (window_->isVisible() || TrayAvailable()) return;
  Show();
  emit TrayLost();
}

}  // namespace qm
