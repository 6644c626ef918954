#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "app/ExportController.h"
#include "app/PhotoController.h"
#include "app/PostedMessages.h"
#include "app/RecordingController.h"
#include "app/SettingsTable.h"
#include "area/CaptureAreaPage.h"
#include "area/WindowHost.h"

class QAction;
class QLabel;
class QPushButton;
class QTabWidget;
class QVBoxLayout;

namespace qm {

class CompressorProbe;
class ExportDialog;
class FolderPage;
class PicturePage;
class VideoPage;

class MovieWriter;
class NotifyIcon;
class PortalShortcuts;
class SettingsStore;
class ShortcutEditor;
class ShortcutWatcher;
class TrayMenu;
class UpdateChecker;
class WindowHider;
class XKeyStateSource;

// The main window: menus, the five settings pages, the bottom buttons and the status bar, the
// tray icon and its menu. It owns the long-lived objects of the application and forwards the
// user's commands to the recording, photo and export controllers; it keeps no recording state.
//
// Closing it only hides it; the application ends through Exit (after "Close Quillmark?") or
// EndWithoutAsking (a signal, the end of the session). User-interface thread only.
class MainWindow : public QMainWindow,
                   private RecordingView,
                   private PhotoView,
                   private WindowHost {
  Q_OBJECT

 public:
  // store: the settings file; the window owns it and destroys it last.
  explicit MainWindow(std::unique_ptr<SettingsStore> store, QWidget* parent = nullptr);
  // Saves the settings, waits until a recording still in progress has completed its file,
  // then destroys the movie writer and, last, the settings store.
  ~MainWindow() override;

  // The application ends as Exit does, without asking: the recording is stopped, and the
  // event loop quits. The caller destroys the window after the loop.
  void EndWithoutAsking();
  // Brings the window forward (a second instance woke this one).
  void Wake();
  // Writes the settings of the pages now (the session manager asks before a checkpoint or
  // the end of the session).
  void SaveSettingsNow();

  // The screen is read through the desktop's screen-cast portal, as the "Source" setting of
  // store chooses ("x11", "portal", or "auto": the portal on a Wayland desktop that offers it).
  static bool ScreenFromPortal(const SettingsStore& store);

  RecordingController& Recording() { return *recording_; }
  PhotoController& Photo() { return *photo_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // RecordingView
  RecordingJob Job() override;
  int StartDelaySeconds() override;
  // The sound the "Record sound" choice names.
  bool PlayResult() override;
  void HideToTray() override;
  void ShowFromTray() override;
  void Beep() override;
  void ShowOutput(const QString& file) override;
  void ShowOutputNote(const QString& note) override;
  void ShowProgress(const QString& line) override;
  void ShowError(const QString& text) override;
  void PlayVideo(const QString& file) override;
  // Makes the copy that "After each recording also save as" asks for.
  void RecordingComplete(const QString& file) override;
  // PhotoView and WindowHost
  bool IsRecording() override;
  PhotoJob CurrentPhotoJob() override;
  void HideForSnapshot() override;
  void ShowAfterSnapshot() override;
  void ShowPhotoImages(bool on) override;
  void ShowPhotoFile(const QString& path) override;
  void Flash(const Rect& captured, uint64_t window, bool fixedSize,
             const std::shared_ptr<ScreenSource>& source) override;
  // RecordingView and PhotoView: the "Source" setting ("x11", "portal", or "auto": the portal
  // on a Wayland desktop that offers it) chooses; the portal's restore token is kept beside it.
  bool OpenScreen(std::shared_ptr<ScreenSource>& source) override;
  // The desktop's shared screen where the settings or the session call for it (a window only
  // when asked): false when it did not start (the user has been told); source stays null for
  // the X screen.
  bool OpenPortal(bool window, std::shared_ptr<ScreenSource>& source);

  // The steps of the constructor: the pages, the bottom buttons (hide, start), the shortcuts
  // (the desktop's own on Wayland), the settings and the compressor list.
  void BuildPages(QVBoxLayout& layout);
  std::pair<QPushButton*, QPushButton*> BuildButtons(QVBoxLayout& layout);
  void WatchShortcuts();
  void LoadState();
  void BuildMenus();
  void BuildTray();
  void FillCompressors();
  void CompressorChanged();
  // Measures the current compressor at the area's size off this thread, unless it was measured
  // so last (again after its options changed); the Video page marks it when it cannot keep up.
  void ProbeCompressor(bool again = false);
  // Disables what shapes a recording while one is under way, and enables it again after.
  void LockRecordingSettings();
  void SetOutputFolder(const QString& folder);
  void ApplySettings(const Settings& settings);
  Settings CurrentSettings() const;
  void UpdateTray();
  // The bottom row follows the recording: "Capture video" while idle, Pause (or Continue) and
  // Stop from "Capture video" until the recording stops, so a desktop without a tray still
  // controls it from the window.
  void UpdateButtons();
  // A shortcut of the watcher's list fired: 0 photo, 1 start, 2 pause or continue, 3 stop.
  void ShortKeyPressed(int index);
  // Hands the shortcuts to the desktop where it watches the keys itself (Wayland).
  void BindDesktopShortcuts();
  // The automatic update check (the timer) and the one the Help menu asks for.
  void AutomaticUpdateCheck();
  void ManualUpdateCheck();
  void StartUpdateCheck(bool verbose);
  // The recording has ended: an update check's question or answer that waited may show.
  void UpdateCheckMayShow();
  // hint: the file a click on the status bar opens, or whose folder it shows.
  void SetStatus(const QString& text, const QString& hint, bool opensFolder = false);
  // Chooses the stored monitor on the area page; where it is gone, the primary one (else the
  // full screen), saying so in the status bar.
  void ChooseStoredMonitor(const QString& name);
  // lead and as much of path's folders as fit in the status bar's width.
  QString FittedStatus(const QString& lead, const QString& path) const;
  // The export dialog, for the last recording of this run, else the newest in the folder.
  void OpenExport();
  void ExportFinished(int id, ExportController::Outcome outcome, const QString& output,
                      const QString& message);
  void HideClicked();
  void ShowSettingsClicked();
  bool AskClose();
  void End();

  // Destroyed last.
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<PostedMessages> messages_;
  UserMessages* previousMessages_ = nullptr;
  std::unique_ptr<MovieWriter> movie_;
  std::unique_ptr<NotifyIcon> tray_;
  std::unique_ptr<TrayMenu> trayMenu_;
  std::unique_ptr<WindowHider> hider_;
  std::unique_ptr<RecordingController> recording_;
  std::unique_ptr<PhotoController> photo_;
  std::unique_ptr<ExportController> exports_;
  std::unique_ptr<CompressorProbe> probe_;
  std::tuple<uint32_t, int, int> probed_;  // the compressor and size measured last
  std::unique_ptr<XKeyStateSource> keyboard_;
  std::unique_ptr<ShortcutWatcher> watcher_;
  std::unique_ptr<PortalShortcuts> desktopShortcuts_;  // Wayland only
  QTimer updateTimer_;  // the automatic update check, 5 s after the window first shows
  std::unique_ptr<UpdateChecker> update_;  // the check under way
  bool autoCheckWaiting_ = false;          // the automatic check waits for a recording's end
  // Looks for changed settings once a second and saves them, so a crash loses at most the
  // last second's changes.
  QTimer saveTimer_;
  Settings saved_;  // the page settings as last saved or loaded

  QString outputFolder_;
  QString statusHint_;
  bool statusOpensFolder_ = false;
  QString lastRecording_;  // the last complete recording of this run
  bool ending_ = false;
  bool snapshotHidden_ = false;
  QRect snapshotPlace_;           // where the window stood before a snapshot hid it
  std::optional<QPoint> placed_;  // where the user or the settings put the window
  bool photoImages_ = false;
  bool shownOnce_ = false;

  QTabWidget* pages_ = nullptr;
  CaptureAreaPage* areaPage_ = nullptr;
  ShortcutEditor* shortcutPage_ = nullptr;
  VideoPage* videoPage_ = nullptr;
  PicturePage* picturePage_ = nullptr;
  FolderPage* folderPage_ = nullptr;
  ExportDialog* exportDialog_ = nullptr;
  QLabel* status_ = nullptr;
  QAction* autoUpdate_ = nullptr;
  QPushButton* captureButton_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
};

}  // namespace qm
