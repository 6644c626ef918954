#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class QMenu;

namespace qm {

// One icon in the desktop's notification area, animated by cycling through an image list,
// with a tooltip and a popup menu that a left or a right click opens.
//
// A worker thread keeps the time and picks the images while the icon is active; it posts each
// change to the user-interface thread, which owns the toolkit's tray icon. The worker never
// waits for the user-interface thread, so switching the icon off (which joins the worker)
// cannot deadlock. Create and use on the user-interface thread only.
class NotifyIcon : public QObject {
  Q_OBJECT

 public:
  explicit NotifyIcon(QObject* parent = nullptr);
  ~NotifyIcon() override;
  NotifyIcon(const NotifyIcon&) = delete;
  NotifyIcon& operator=(const NotifyIcon&) = delete;

  // The tooltip shows at most this many characters of the hint.
  static constexpr int kMaxTip = 64;

  // Each setter does nothing when the value is the current one.
  // Active: the icon is in the notification area and its worker runs.
  void SetActive(bool active);
  bool Active() const { return active_; }
  // Animated: cycle through every image of the list, one per AnimateDelay milliseconds.
  void SetAnimated(bool animated);
  void SetAnimateDelay(int milliseconds);
  void SetHint(const QString& hint);
  // The image shown while not animated; an index outside the list shows no image.
  void SetIconIndex(int index);
  int IconIndex() const { return iconIndex_; }
  // A new list also sets IconIndex to 0. The animation goes on with its frame counter,
  // wrapped to the new list's length.
  void SetImageList(const QList<QImage>& images);
  // Not owned; forgotten when destroyed elsewhere.
  void SetPopupMenu(QMenu* menu);

  // The toolkit's icon, for what the desktop tells about it (geometry, visibility).
  const QSystemTrayIcon& TrayIcon() const { return tray_; }

 signals:
  // The icon now shows image (null: none) with tooltip tip.
  void Shown(const QImage& image, const QString& tip);
  // A mouse button went down on the icon (left, right or middle).
  void Pressed(Qt::MouseButton button);
  void DoubleClicked();

 private:
  // Everything the two threads share; reached only through SharedState::Lock.
  struct Shared {
    // Written by the user-interface thread.
    bool Animated = false;
    int Delay = 50;
    QString Hint;
    int IconIndex = 0;
    QList<QImage> Images;
    bool Changed = false;
    bool Stop = false;
    // Written by the worker, taken by the user-interface thread.
    bool HasUpdate = false;
    QImage Image;
    QString Tip;
    bool Posted = false;  // a wake-up for the update is on its way
  };

  class SharedState {
   public:
    // The shared values with the lock held for the life of the access.
    class Access {
     public:
      explicit Access(SharedState& state) : state_(state), lock_(state.mutex_) {}
      Shared* operator->() { return &state_.value_; }
      // Sleeps at most delay, or until Stop is set; the lock is released meanwhile.
      void SleepUnlessStopped(std::chrono::milliseconds delay) {
        state_.wake_.wait_for(lock_, delay, [this] { return state_.value_.Stop; });
      }

     private:
      SharedState& state_;
      std::unique_lock<std::mutex> lock_;
    };

    Access Lock() { return Access(*this); }
    // Ends a sleep early. Call after setting Stop, with no access held.
    void WakeUp() { wake_.notify_all(); }

   private:
    std::mutex mutex_;
    std::condition_variable wake_;
    Shared value_;
  };

  // Hands the current values to the worker; with iconData also the hint, index and list.
  void UpdateWorker(bool iconData);
  void StopWorker();
  void Run();  // the worker's body
  void ApplyUpdate();
  void OnActivated(QSystemTrayIcon::ActivationReason reason);

  bool active_ = false;
  bool animated_ = false;
  int animateDelay_ = 50;
  QString hint_;
  int iconIndex_ = 0;
  QList<QImage> images_;
  QPointer<QMenu> menu_;

  QSystemTrayIcon tray_;
  SharedState shared_;
  std::thread worker_;
};

}  // namespace qm
