#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QAction;
class QMenu;

namespace qm {

// What the tray menu offers in one state of the recording.
struct TrayMenuEnabling {
  QString RecordCaption;  // "Start" or "Continue"
  bool Record = false;
  bool Pause = false;
  bool Stop = false;
  bool ShowWindow = false;
  bool TakePhoto = false;
  bool Exit = false;

  bool operator==(const TrayMenuEnabling&) const = default;
};

// The tray icon's popup menu. Each item but "Hide this menu" raises its signal; the items are
// enabled for the state last set, applied at once and again each time the menu opens.
// User-interface thread only.
class TrayMenu : public QObject {
  Q_OBJECT

 public:
  explicit TrayMenu(QObject* parent = nullptr);
  ~TrayMenu() override;

  // The menu to hand to the tray icon; it lives as long as this object.
  QMenu* Menu() const { return menu_.get(); }

  // The items offered while recording (paused or not) or idle; delaying: a start (or a
  // continue) waits for its delay, which Stop cancels.
  static TrayMenuEnabling Enabling(bool recording, bool paused, bool delaying = false);

  void SetState(bool recording, bool paused, bool delaying = false);

 signals:
  void RecordTriggered();  // start, or continue after a pause
  void PauseTriggered();
  void StopTriggered();
  void ShowWindowTriggered();
  void TakePhotoTriggered();
  void BrowseFilesTriggered();
  void ExportTriggered();  // the last recording's export dialog
  void ExitTriggered();

 private:
  void Apply();

  std::unique_ptr<QMenu> menu_;
  QAction* record_ = nullptr;
  QAction* pause_ = nullptr;
  QAction* stop_ = nullptr;
  QAction* showWindow_ = nullptr;
  QAction* takePhoto_ = nullptr;
  QAction* exit_ = nullptr;
  bool recording_ = false;
  bool paused_ = false;
  bool delaying_ = false;
};

}  // namespace qm
