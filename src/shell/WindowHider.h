#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

namespace qm {

class NotifyIcon;

// Hides a window into the notification area and brings it back, without ever locking the
// user out: where the desktop has no notification area the window is minimised instead,
// and while it is hidden a poll (about once a second) shows it again when the notification
// area goes away. The icon stays active while the window is hidden, also when minimised, so
// a notification area that appears later shows it (the toolkit docks it there). The hidden
// state follows the window: brought back by other means (the taskbar restores a minimised
// window), it is no longer hidden. User-interface thread only.
class WindowHider : public QObject {
  Q_OBJECT

 public:
  // Neither window nor icon is owned; both must outlive this object.
  WindowHider(QWidget* window, NotifyIcon* icon, QObject* parent = nullptr);

  // Into the tray (or minimised) with the icon active.
  void Hide();
  // Back on the screen with the icon inactive.
  void Show();
  bool Hidden() const { return hidden_; }
  // The desktop has a notification area to hide into; without one, hiding minimises.
  static bool TrayAvailable();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // The window came back by itself because the notification area went away.
  void TrayLost();

 private:
  void Poll();
  // Leaves the hidden state when the window is on the screen again.
  void Follow();

  QWidget* window_;
  NotifyIcon* icon_;
  QTimer poll_;
  bool hidden_ = false;
};

}  // namespace qm
