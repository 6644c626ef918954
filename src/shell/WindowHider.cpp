#include "shell/WindowHider.h"

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
}

void WindowHider::Hide() {
  hidden_ = true;
  icon_->SetActive(true);
  if (QSystemTrayIcon::isSystemTrayAvailable())
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
  if (window_->isVisible() || QSystemTrayIcon::isSystemTrayAvailable()) return;
  Show();
  emit TrayLost();
}

}  // namespace qm
