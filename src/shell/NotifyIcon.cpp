#include "shell/NotifyIcon.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QMetaObject>
#include <QPixmap>

#include <algorithm>
#include <utility>

namespace qm {

namespace {

// The worker wakes this often while not animated, to pick up a changed hint or image.
constexpr int kIdleDelay = 50;

// Image index of images, or a null image when the list has no such image.
QImage ImageAt(const QList<QImage>& images, int index) {
  return index >= 0 && index < images.size() ? images[index] : QImage();
}

}  // namespace

NotifyIcon::NotifyIcon(QObject* parent) : QObject(parent) {
  connect(&tray_, &QSystemTrayIcon::activated, this, &NotifyIcon::OnActivated);
}

NotifyIcon::~NotifyIcon() {
  SetActive(false);
}

void NotifyIcon::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  UpdateWorker(true);
}

void NotifyIcon::SetAnimated(bool animated) {
  if (animated == animated_) return;
  animated_ = animated;
  UpdateWorker(false);
}

void NotifyIcon::SetAnimateDelay(int milliseconds) {
  if (milliseconds == animateDelay_) return;
  animateDelay_ = milliseconds;
  UpdateWorker(false);
}

void NotifyIcon::SetHint(const QString& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  UpdateWorker(true);
}

void NotifyIcon::SetIconIndex(int index) {
  if (index == iconIndex_) return;
  iconIndex_ = index;
  UpdateWorker(true);
}

void NotifyIcon::SetImageList(const QList<QImage>& images) {
  if (images == images_) return;
  images_ = images;
  iconIndex_ = 0;
  UpdateWorker(true);
}

void NotifyIcon::SetPopupMenu(QMenu* menu) {
  if (menu == menu_) return;
  menu_ = menu;
  tray_.setContextMenu(menu);
}

void NotifyIcon::UpdateWorker(bool iconData) {
  if (!active_) {
    if (worker_.joinable()) StopWorker();
    return;
  }
  {
    auto s = shared_.Lock();
    s->Animated = animated_;
    // A delay below 1 ms would make the worker spin.
    s->Delay = animated_ ? std::max(1, animateDelay_) : kIdleDelay;
    if (iconData) {
      // The worker takes these three as one group, marked by Changed.
      s->Hint = hint_;
      s->IconIndex = iconIndex_;
      s->Images = images_;
      s->Changed = true;
    }
    s->Stop = false;
  }
  // Started after its values are in place, so its first pass already shows the icon.
  if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
}

void NotifyIcon::StopWorker() {
  shared_.Lock()->Stop = true;
  shared_.WakeUp();
  // The worker never waits for this thread, so this returns within one of its passes.
  worker_.join();
  {
    // An update it posted on its way out must not bring the icon back.
    auto s = shared_.Lock();
    s->HasUpdate = false;
    s->Image = QImage();
    s->Changed = false;
  }
  tray_.hide();
}

void NotifyIcon::Run() {
  QString tip;
  int frame = 0;
  auto s = shared_.Lock();
  while (!s->Stop) {
    bool send = false;
    QImage image;
    if (s->Changed) {
      tip = s->Hint.left(kMaxTip);
      if (!s->Animated) {
        image = ImageAt(s->Images, s->IconIndex);
        send = true;
      }
      s->Changed = false;
    }
    if (s->Animated) {
      const qsizetype count = s->Images.size();
      // A shorter list may have come since the last frame: wrap before reading.
      if (frame >= count) frame = 0;
      image = ImageAt(s->Images, frame);
      send = true;
      if (++frame >= count) frame = 0;
    }
    if (send) {
      s->Image = image;
      s->Tip = tip;
      s->HasUpdate = true;
      // One wake-up at a time: later frames replace the waiting one instead of piling up
      // while the user-interface thread is busy.
      if (!s->Posted) {
        s->Posted = true;
        QMetaObject::invokeMethod(this, &NotifyIcon::ApplyUpdate, Qt::QueuedConnection);
      }
    }
    s.SleepUnlessStopped(std::chrono::milliseconds(s->Delay));
  }
}

void NotifyIcon::ApplyUpdate() {
  QImage image;
  QString tip;
  {
    auto s = shared_.Lock();
    s->Posted = false;
    if (!s->HasUpdate) return;
    s->HasUpdate = false;
    image = std::exchange(s->Image, QImage());
    tip = s->Tip;
  }
  if (!active_) return;
  if (tray_.toolTip() != tip) tray_.setToolTip(tip);
  tray_.setIcon(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
  if (!image.isNull() && !tray_.isVisible()) tray_.show();
  emit Shown(image, tip);
}

void NotifyIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      emit Pressed(Qt::LeftButton);
      // The toolkit pops the context menu for the right button itself.
      if (menu_) menu_->popup(QCursor::pos());
      break;
    case QSystemTrayIcon::Context:
      emit Pressed(Qt::RightButton);
      break;
    case QSystemTrayIcon::MiddleClick:
      emit Pressed(Qt::MiddleButton);
      break;
    case QSystemTrayIcon::DoubleClick:
      emit DoubleClicked();
      break;
    default:
      break;
  }
}

}  // namespace qm
