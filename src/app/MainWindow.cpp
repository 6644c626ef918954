#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMoveEvent>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>

#include "app/CapThreadRecorder.h"
#include "app/CompressorOptions.h"
#include "app/CompressorProbe.h"
#include "app/ExportDialog.h"
#include "app/FolderPage.h"
#include "app/PicturePage.h"
#include "app/SettingsStore.h"
#include "app/VideoPage.h"
#include "area/SelectionScreen.h"
#include "common/FourCC.h"
#include "common/Monitor.h"
#include "common/Product.h"
#include "common/Stamps.h"
#include "common/UserMessages.h"
#include "platform/files/RestoreTokenFile.h"
#include "platform/files/UserFolders.h"
#include "platform/keyboard/XKeyStateSource.h"
#include "platform/portal/PortalScreen.h"
#include "platform/portal/PortalShortcuts.h"
#include "shell/FolderChooser.h"
#include "shell/NotifyIcon.h"
#include "shell/ShellActions.h"
#include "shell/TrayImages.h"
#include "shell/TrayMenu.h"
#include "shell/WindowHider.h"
#include "shortcuts/ShortcutEditor.h"
#include "shortcuts/ShortcutWatcher.h"
#include "ui/AboutBox.h"
#include "ui/AppIcon.h"
#include "ui/ConfirmOnce.h"
#include "update/UpdateChecker.h"
#include "video/AviCompress.h"
#include "video/AviWriter.h"
#include "video/MovieWriter.h"
#include "video/RecordingJournal.h"

namespace qm {

namespace {

// The settings of the watcher's shortcuts, by their index in its list.
constexpr QString Settings::*kShortcutFields[] = {&Settings::photoKey, &Settings::startMovieKey,
                                                  &Settings::pauseMovieKey,
                                                  &Settings::finishMovieKey};

constexpr int kUpdateDelayMs = 5000;
const QString kTrayHint = QStringLiteral("Click mouse to show the menu");

// The file name and as many of its folders as fit, the dropped ones given as "/.../".
QString ShortenedPath(const QString& path, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(path) <= width) return path;
  QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  while (parts.size() > 1) {
    parts.removeFirst();
    const QString text = QStringLiteral("/.../") + parts.join(QLatin1Char('/'));
    if (metrics.horizontalAdvance(text) <= width || parts.size() == 1) return text;
  }
  return path;
}

}  // namespace

MainWindow::MainWindow(std::unique_ptr<SettingsStore> store, QWidget* parent)
    : QMainWindow(parent), store_(std::move(store)) {
  previousMessages_ = &Messages();
  messages_ = std::make_unique<PostedMessages>(*previousMessages_, this);
  SetUserMessages(messages_.get());

  setWindowTitle(QStringLiteral("Quillmark ") + QLatin1String(kVersion));
  setWindowIcon(AppIcon());
  movie_ = std::make_unique<MovieWriter>();
  // Every recording leaves a note while it runs, so the next start can complete it after a
  // crash.
  movie_->KeepJournal(RecordingJournal::DefaultFolder());
  // The controller picks a free name for each recording; a file that takes that name before
  // the recording does (another recorder's) is never replaced.
  movie_->Writer().SetKeepExisting(true);

  keyboard_ = std::make_unique<XKeyStateSource>();
  watcher_ = std::make_unique<ShortcutWatcher>(*keyboard_);
  updateTimer_.setSingleShot(true);
  updateTimer_.setInterval(kUpdateDelayMs);
  connect(&updateTimer_, &QTimer::timeout, this, &MainWindow::AutomaticUpdateCheck);

  probe_ = std::make_unique<CompressorProbe>();
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  BuildPages(*layout);

  const auto [hide, start] = BuildButtons(*layout);
  setCentralWidget(central);

  status_ = new QLabel;
  status_->setMinimumWidth(50);
  status_->installEventFilter(this);
  statusBar()->addWidget(status_, 1);
  statusBar()->installEventFilter(this);

  exports_ = std::make_unique<ExportController>();
  exportDialog_ = new ExportDialog(*exports_, this);
  connect(exports_.get(), &ExportController::Finished, this, &MainWindow::ExportFinished);
  BuildMenus();
  BuildTray();
  recording_ = std::make_unique<RecordingController>(static_cast<RecordingView&>(*this),
                                                     CapThreadRecorder::Factory(*movie_));
  photo_ = std::make_unique<PhotoController>(static_cast<PhotoView&>(*this));
  connect(recording_.get(), &RecordingController::StateChanged, this, &MainWindow::UpdateTray);
  connect(hide, &QPushButton::clicked, this, &MainWindow::HideClicked);
  connect(start, &QPushButton::clicked, recording_.get(), &RecordingController::CaptureVideo);
  connect(pauseButton_, &QPushButton::clicked, recording_.get(), &RecordingController::TogglePause);
  connect(stopButton_, &QPushButton::clicked, recording_.get(), &RecordingController::Stop);

  WatchShortcuts();

  LoadState();
  UpdateTray();
  resize(460, 380);
}

void MainWindow::BuildPages(QVBoxLayout& layout) {
  pages_ = new QTabWidget;
  areaPage_ = new CaptureAreaPage(*this);
  areaPage_->SetScreenOpener([this](bool window, std::shared_ptr<ScreenSource>& source) {
    return OpenPortal(window, source);
  });
  pages_->addTab(areaPage_, QStringLiteral("Capture area"));
  shortcutPage_ = new ShortcutEditor(*watcher_);
  pages_->addTab(shortcutPage_, QStringLiteral("Short-cut"));
  videoPage_ = new VideoPage;
  pages_->addTab(videoPage_, QStringLiteral("Video"));
  picturePage_ = new PicturePage;
  pages_->addTab(picturePage_, QStringLiteral("Picture"));
  folderPage_ = new FolderPage;
  pages_->addTab(folderPage_, QStringLiteral("Folder"));
  connect(videoPage_, &VideoPage::CompressorChosen, this, &MainWindow::CompressorChanged);
  connect(videoPage_, &VideoPage::ConfigureClicked, this, [this] {
    if (!ConfigureCompressor(this, movie_->Compressor())) return;
    KeepCompressorOptions(*store_, movie_->Compressor());
    ProbeCompressor(true);
  });
  connect(areaPage_, &CaptureAreaPage::AreaChanged, this, [this] { ProbeCompressor(); });
  connect(probe_.get(), &CompressorProbe::Measured, this,
          [this](uint32_t code, int width, int height, double rate) {
            // A result for a choice changed meanwhile waits for the newer measurement.
            const Rect area = areaPage_->Area().Rect;
            if (code == movie_->Compressor().CurrentCode() && width == area.Width() &&
                height == area.Height())
              videoPage_->ShowCompressorSpeed(rate);
          });
  connect(folderPage_, &FolderPage::FolderChosen, this, &MainWindow::SetOutputFolder);
  connect(folderPage_, &FolderPage::BrowseClicked, this,
          [this] { ExploreFolderAction(outputFolder_); });
  pages_->setCurrentIndex(0);
  layout.addWidget(pages_, 1);
}

std::pair<QPushButton*, QPushButton*> MainWindow::BuildButtons(QVBoxLayout& layout) {
  auto* bottom = new QHBoxLayout;
  auto* hide = new QPushButton(QStringLiteral("Hide"));
  auto* start = new QPushButton(QStringLiteral("Capture video"));
  QFont bold = start->font();
  bold.setBold(true);
  start->setFont(bold);
  QPalette blue = start->palette();
  blue.setColor(QPalette::ButtonText, Qt::blue);
  start->setPalette(blue);
  start->setObjectName(QStringLiteral("bCaptureVideo"));
  pauseButton_ = new QPushButton(QStringLiteral("Pause"));
  pauseButton_->setObjectName(QStringLiteral("bPause"));
  stopButton_ = new QPushButton(QStringLiteral("Stop"));
  stopButton_->setObjectName(QStringLiteral("bStop"));
  // Stop takes the place and the look of "Capture video": the one main action of the moment.
  stopButton_->setFont(bold);
  stopButton_->setPalette(blue);
  pauseButton_->hide();
  stopButton_->hide();
  captureButton_ = start;
  bottom->addWidget(hide);
  bottom->addStretch();
  bottom->addWidget(pauseButton_);
  bottom->addWidget(stopButton_);
  bottom->addWidget(start);
  layout.addLayout(bottom);
  return {hide, start};
}

void MainWindow::WatchShortcuts() {
  shortcutPage_->BuildShortKeyList();
  // On Wayland no program sees the keys that go to another, and the pointer is known only from
  // the screen-cast stream's cursor report, where the desktop gives one. The desktop may watch
  // the keys itself: until it says it does, the page gives the notice.
  if (PortalScreen::WaylandSession()) {
    watcher_->StayOff(WaylandKeyboardNotice());
    desktopShortcuts_ = std::make_unique<PortalShortcuts>();
    connect(desktopShortcuts_.get(), &PortalShortcuts::Activated, this,
            &MainWindow::ShortKeyPressed);
    connect(desktopShortcuts_.get(), &PortalShortcuts::Changed, this, [this] {
      if (desktopShortcuts_->GetState() == PortalShortcuts::State::Bound)
        shortcutPage_->ShowDesktopKeys(desktopShortcuts_->Triggers());
      else
        shortcutPage_->ShowWatcherNotice();
    });
    // A session binds once: changed keys go to the desktop in a new one.
    connect(shortcutPage_, &ShortcutEditor::KeysEdited, this, &MainWindow::BindDesktopShortcuts);
    if (PortalScreen::Offered() && !PortalScreen::CursorReportOffered())
      areaPage_->FollowUnavailable(PortalScreen::NoCursorReportMessage());
  }
  watcher_->StartWatching([this](int index) { ShortKeyPressed(index); });
}

void MainWindow::LoadState() {
  if (ScreenFromPortal(*store_)) areaPage_->PortalChoosesMonitor();
  FillCompressors();
  SetOutputFolder(DefaultOutputFolder());
  QDir().mkpath(outputFolder_);
  // What cannot be read is said once, in one notice, after the load.
  QStringList reset;
  QStringList* const before = store_->CollectReports(&reset);
  Settings settings = LoadSettings(*store_, &reset);
  ApplySettings(settings);
  // A list's index that the list lacks would leave it empty, and be saved so: the default
  // takes its place.
  const Settings shown = CurrentSettings();
  const Settings defaults = DefaultSettings();
  if (shown.captureArea < 0 || shown.pictureType < 0) {
    if (shown.captureArea < 0) reset << QStringLiteral("Capture area");
    if (shown.pictureType < 0) reset << QStringLiteral("Picture type");
    settings.captureArea = shown.captureArea < 0 ? defaults.captureArea : settings.captureArea;
    settings.pictureType = shown.pictureType < 0 ? defaults.pictureType : settings.pictureType;
    ApplySettings(settings);
  }
  BindDesktopShortcuts();
  saved_ = CurrentSettings();
  saveTimer_.setInterval(1000);
  connect(&saveTimer_, &QTimer::timeout, this, [this] {
    // The window's place alone calls for no save (the window manager places it at each
    // show): it goes into the file with the next one, the session's or the end's.
    Settings now = CurrentSettings();
    now.windowPlaced = saved_.windowPlaced;
    now.windowLeft = saved_.windowLeft;
    now.windowTop = saved_.windowTop;
    if (now != saved_) SaveSettingsNow();
  });
  saveTimer_.start();
  if (ReadSetting(*store_, "Main", "GUID").isEmpty())
    WriteSetting(*store_, "Main", "GUID", NewGuidString());
  autoUpdate_->setChecked(ReadFlag(*store_, "Preference", "Automatic update check"));
  store_->CollectReports(before);
  if (reset.isEmpty()) return;
  // The file gets readable values at once, so the notice comes once.
  SaveSettingsNow();
  ShowMessage(ResetNotice(store_->Path(), reset));
}

MainWindow::~MainWindow() {
  ending_ = true;
  update_.reset();
  saveTimer_.stop();
  SaveSettings(*store_, CurrentSettings());
  desktopShortcuts_.reset();
  // The page holds the watcher, which goes before the window's widgets would.
  delete std::exchange(shortcutPage_, nullptr);
  // An export under way is cancelled; its partial file goes.
  delete std::exchange(exportDialog_, nullptr);
  exports_.reset();
  // The recording's file is completed before anything it uses goes.
  recording_->Finish();
  recording_.reset();
  photo_.reset();
  hider_.reset();
  tray_->SetActive(false);
  trayMenu_.reset();
  tray_.reset();
  movie_.reset();
  SetUserMessages(previousMessages_);
}

void MainWindow::BuildMenus() {
  QMenu* files = menuBar()->addMenu(QStringLiteral("&Files"));
  files->addAction(QStringLiteral("Show output files"), this,
                   [this] { ExploreFolderAction(outputFolder_); });
  files->addAction(QStringLiteral("Export..."), this, &MainWindow::OpenExport);
  files->addAction(QStringLiteral("Exit"), this, [this] {
    if (!AskClose()) return;
    HideToTray();
    End();
  });
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("Help contents"), this, [] { OpenHelpAction(); });
  autoUpdate_ = help->addAction(QStringLiteral("Automatic update check"));
  autoUpdate_->setCheckable(true);
  connect(autoUpdate_, &QAction::triggered, this, [this](bool on) {
    WriteSetting(*store_, "Preference", "Automatic update check",
                 on ? QStringLiteral("1") : QStringLiteral("0"));
    updateTimer_.start();
  });
  help->addAction(QStringLiteral("Check update"), this, &MainWindow::ManualUpdateCheck);
  help->addAction(QStringLiteral("E-mail support"), this,
                  [this] { EmailSupportAction(windowTitle()); });
  help->addAction(QStringLiteral("Website: ") + QLatin1String(kWebsite), this,
                  [] { OpenWebsiteAction(); });
  help->addSeparator();
  help->addAction(QStringLiteral("About"), this, [this] {
    AboutBox about(this);
    about.exec();
  });
}

void MainWindow::BuildTray() {
  tray_ = std::make_unique<NotifyIcon>();
  trayMenu_ = std::make_unique<TrayMenu>();
  tray_->SetAnimated(true);
  tray_->SetAnimateDelay(200);
  tray_->SetHint(kTrayHint);
  tray_->SetImageList(TrayImages::Still());
  tray_->SetPopupMenu(trayMenu_->Menu());
  hider_ = std::make_unique<WindowHider>(this, tray_.get());
  TrayMenu* menu = trayMenu_.get();
  connect(menu, &TrayMenu::RecordTriggered, this, [this] { recording_->RecordFromTray(); });
  connect(menu, &TrayMenu::PauseTriggered, this, [this] { recording_->Pause(); });
  connect(menu, &TrayMenu::StopTriggered, this, [this] { recording_->Stop(); });
  connect(menu, &TrayMenu::ShowWindowTriggered, this, &MainWindow::ShowSettingsClicked);
  connect(menu, &TrayMenu::TakePhotoTriggered, this, [this] { photo_->TakePhoto(); });
  connect(menu, &TrayMenu::BrowseFilesTriggered, this,
          [this] { ExploreFolderAction(outputFolder_); });
  connect(menu, &TrayMenu::ExportTriggered, this, &MainWindow::OpenExport);
  connect(menu, &TrayMenu::ExitTriggered, this, [this] {
    if (AskClose()) End();
  });
}

void MainWindow::FillCompressors() {
  std::vector<DisplayItem> items;
  AviCompress& compressor = movie_->Compressor();
  compressor.FillDisplayList(items);
  compressor.Select(MakeFourCC("MP42"));
  videoPage_->SetCompressors(items, compressor.CurrentIndex());
  CompressorChanged();
}

void MainWindow::CompressorChanged() {
  const int index = videoPage_->CompressorIndex();
  if (index < 0) return;
  AviCompress& compressor = movie_->Compressor();
  compressor.Select(videoPage_->CompressorCode(index));
  RestoreCompressorOptions(*store_, compressor);
  videoPage_->SetConfigurable(index != 0 && compressor.CanConfigure() &&
                              !(recording_ && recording_->IsBusy()));
  ProbeCompressor();
}

void MainWindow::ProbeCompressor(bool again) {
  AviCompress& compressor = movie_->Compressor();
  const Rect area = areaPage_->Area().Rect;
  const std::tuple<uint32_t, int, int> probe{compressor.CurrentCode(), area.Width(), area.Height()};
  if (probe == probed_ && !again) return;
  probed_ = probe;
  videoPage_->ShowCompressorSpeed(0);
  // Frames stored as they are cost no compressor time.
  if (compressor.CurrentCode() == 0 || area.Width() <= 0 || area.Height() <= 0) return;
  probe_->Measure({.Code = compressor.CurrentCode(),
                   .Options = compressor.Options(),
                   .Width = area.Width(),
                   .Height = area.Height(),
                   .FramesPerSecond = videoPage_->FramesPerSecond()});
}

void MainWindow::LockRecordingSettings() {
  // A recording keeps the shape it started with until its file is complete: its compressor,
  // rate and area are the ones in use on the worker, which nothing here may touch meanwhile.
  const bool locked = recording_->IsBusy();
  if (videoPage_->IsLocked() == locked) return;
  videoPage_->SetLocked(locked);
  areaPage_->setEnabled(!locked);
  videoPage_->SetConfigurable(!locked && videoPage_->CompressorIndex() > 0 &&
                              movie_->Compressor().CanConfigure());
}

void MainWindow::SetOutputFolder(const QString& folder) {
  outputFolder_ = UsableOutputFolder(folder);
  folderPage_->ShowFolder(outputFolder_);
}

void MainWindow::ApplySettings(const Settings& settings) {
  areaPage_->SetCustomRect(Rect{settings.customLeft, settings.customTop,
                                settings.customLeft + settings.customWidth,
                                settings.customTop + settings.customHeight});
  areaPage_->SetMode(settings.captureArea);
  if (settings.captureArea == CaptureArea::kMonitorMode)
    ChooseStoredMonitor(settings.captureMonitor);
  areaPage_->SetShowCursor(settings.showCursor);
  areaPage_->SetFollowCursor(settings.followCursor);
  for (size_t i = 0; i < std::size(kShortcutFields) && i < watcher_->ShortKeys().size(); ++i)
    watcher_->SetKey(i, settings.*kShortcutFields[i]);
  shortcutPage_->Refill();
  if (settings.videoCompression >= 0 && settings.videoCompression < videoPage_->CompressorCount())
    videoPage_->SetCompressorIndex(settings.videoCompression);
  CompressorChanged();
  videoPage_->Apply(settings);
  picturePage_->Apply(settings);
  SetOutputFolder(settings.outputFolder);
  // The window goes back where it was, when that place still lies on a screen.
  // Counted without the window manager's frame, which is not known before the window shows.
  const QPoint place(settings.windowLeft, settings.windowTop);
  if (settings.windowPlaced && QGuiApplication::screenAt(place + QPoint(8, 8))) {
    placed_ = place;
    setGeometry(QRect(place, size()));
  }
}

void MainWindow::ChooseStoredMonitor(const QString& name) {
  if (areaPage_->SetMonitor(name)) return;
  // Where the desktop's dialog chooses the monitor, the stored one is that dialog's business.
  if (ScreenFromPortal(*store_)) {
    areaPage_->SetMode(0);
    return;
  }
  const Monitor* primary = PrimaryMonitor(areaPage_->Monitors());
  if (primary && areaPage_->SetMonitor(primary->Name)) {
    SetStatus(QStringLiteral("The monitor %1 is gone: the capture area is the primary monitor %2")
                  .arg(name, MonitorCaption(*primary)),
              QString());
    return;
  }
  areaPage_->SetMode(0);
  SetStatus(QStringLiteral("The monitor %1 is gone: the capture area is the full screen").arg(name),
            QString());
}

Settings MainWindow::CurrentSettings() const {
  Settings settings;
  for (size_t i = 0; i < std::size(kShortcutFields) && i < watcher_->ShortKeys().size(); ++i)
    settings.*kShortcutFields[i] = watcher_->ShortKeys()[i].key;
  settings.captureArea = areaPage_->Area().Mode;
  settings.captureMonitor = areaPage_->Area().Monitor;
  const Rect& custom = areaPage_->CustomRect();
  settings.customLeft = custom.Left;
  settings.customTop = custom.Top;
  settings.customWidth = custom.Width();
  settings.customHeight = custom.Height();
  settings.windowPlaced = placed_.has_value();
  settings.windowLeft = placed_ ? placed_->x() : 0;
  settings.windowTop = placed_ ? placed_->y() : 0;
  settings.showCursor = areaPage_->Area().ShowCursor;
  settings.followCursor = areaPage_->Area().FollowCursor;
  videoPage_->Fill(settings);
  picturePage_->Fill(settings);
  settings.outputFolder = outputFolder_;
  return settings;
}

void MainWindow::UpdateButtons() {
  const bool idle = recording_->GetState() == RecordingController::State::Idle;
  const bool paused = recording_->IsRecording() && recording_->IsPaused();
  captureButton_->setVisible(idle);
  pauseButton_->setVisible(!idle);
  stopButton_->setVisible(!idle);
  // A delay (of the start, or of a tray's continue) is cancelled by Stop alone.
  pauseButton_->setEnabled(recording_->IsRecording() && !recording_->IsDelaying());
  pauseButton_->setText(paused ? QStringLiteral("Continue") : QStringLiteral("Pause"));
}

void MainWindow::UpdateTray() {
  LockRecordingSettings();
  UpdateButtons();
  // Whatever the update check has to say waited for the recording's end.
  QTimer::singleShot(0, this, &MainWindow::UpdateCheckMayShow);
  trayMenu_->SetState(recording_->IsRecording(), recording_->IsPaused(), recording_->IsDelaying());
  if (recording_->GetState() == RecordingController::State::Idle) tray_->SetHint(kTrayHint);
  if (photoImages_) return;
  switch (recording_->GetState()) {
    case RecordingController::State::Running:
      tray_->SetImageList(TrayImages::Recording());
      break;
    case RecordingController::State::Paused:
      tray_->SetImageList(TrayImages::Paused());
      break;
    default:
      tray_->SetImageList(TrayImages::Still());
  }
}

void MainWindow::BindDesktopShortcuts() {
  if (!desktopShortcuts_) return;
  std::vector<PortalShortcuts::Shortcut> shortcuts;
  for (const ShortKey& shortKey : watcher_->ShortKeys()) {
    shortcuts.push_back({.id = shortKey.name,
                         .description = shortKey.description,
                         .trigger = ShortcutWatcher::TriggerText(shortKey.key)});
  }
  desktopShortcuts_->Bind(std::move(shortcuts));
}

void MainWindow::ShortKeyPressed(int index) {
  if (ending_) return;
  // The same commands as the tray menu's items.
  switch (index) {
    case 0:
      photo_->TakePhoto();
      break;
    case 1:
      recording_->StartNow();
      break;
    case 2:
      recording_->TogglePause();
      break;
    case 3:
      recording_->Stop();
      break;
    default:
      break;
  }
}

void MainWindow::AutomaticUpdateCheck() {
  if (ending_ || !autoUpdate_->isChecked()) return;
  // Its question would show in the recording: it waits until the recording ends.
  autoCheckWaiting_ = recording_->IsBusy();
  if (!autoCheckWaiting_) StartUpdateCheck(false);
}

void MainWindow::ManualUpdateCheck() {
  if (ending_) return;
  StartUpdateCheck(true);
}

void MainWindow::StartUpdateCheck(bool verbose) {
  if (update_) return;
  UpdateChecker::Options options;
  options.mayShow = [this] { return !ending_ && !recording_->IsBusy(); };
  update_ = std::make_unique<UpdateChecker>(*store_, *store_, this, options);
  connect(update_.get(), &UpdateChecker::Finished, this, [this] {
    // Dropped on the next pass: the signal comes from inside the checker.
    QTimer::singleShot(0, this, [this] { update_.reset(); });
  });
  if (!update_->Start(verbose)) update_.reset();
}

void MainWindow::UpdateCheckMayShow() {
  if (recording_->IsBusy()) return;
  if (update_) update_->ShowWaiting();
  if (autoCheckWaiting_) AutomaticUpdateCheck();
}

void MainWindow::SetStatus(const QString& text, const QString& hint, bool opensFolder) {
  status_->setText(text);
  statusHint_ = hint;
  statusOpensFolder_ = opensFolder;
  status_->setToolTip(hint);
  statusBar()->setToolTip(hint);
}

void MainWindow::OpenExport() {
  if (ending_) return;
  const bool last = !lastRecording_.isEmpty() && QFileInfo::exists(lastRecording_);
  exportDialog_->Open(last ? lastRecording_ : ExportController::NewestRecording(outputFolder_));
}

void MainWindow::ExportFinished(int /*id*/, ExportController::Outcome outcome,
                                const QString& output, const QString& message) {
  // A cancel was the user's own; the dialog says why any other export failed, and the status
  // bar says it for the automatic copies too.
  if (outcome == ExportController::Outcome::Done)
    SetStatus(QStringLiteral("Exported: ") + output, output, true);
  else if (outcome == ExportController::Outcome::Failed)
    SetStatus(QStringLiteral("Export failed: ") + message, QString());
}

void MainWindow::HideClicked() {
  ConfirmOnce(WindowHider::TrayAvailable() ? HidingWindowText() : MinimisingWindowText(), this,
              *store_);
  HideToTray();
}

void MainWindow::ShowSettingsClicked() {
  // Back on the screen, the window would record itself: a start still to come is dropped.
  recording_->CancelStart();
  ShowFromTray();
}

bool MainWindow::AskClose() {
  return QMessageBox::question(this, QApplication::applicationName(),
                               QStringLiteral("Close Quillmark?"),
                               QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void MainWindow::End() {
  if (ending_) return;
  ending_ = true;
  tray_->SetActive(false);
  recording_->Stop();
  QCoreApplication::quit();
}

void MainWindow::EndWithoutAsking() {
  End();
}

void MainWindow::SaveSettingsNow() {
  // A failure has been reported by the store, which keeps the values for its next write.
  saved_ = CurrentSettings();
  SaveSettings(*store_, saved_);
}

void MainWindow::Wake() {
  // A window hidden in the tray (or minimised in its place) stays hidden; a shown one comes
  // forward, restored when minimised, and keeps its maximised state.
  if (ending_ || hider_->Hidden() || !isVisible()) return;
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Hidden, the window is closed only by the end of the session: it ends the application.
  if (ending_ || hider_->Hidden()) {
    event->accept();
    End();
    return;
  }
  event->ignore();
  // Without a notification area the window is minimised: the text says where it goes.
  if (ConfirmOnce(WindowHider::TrayAvailable() ? ClosingIsHidingText() : ClosingIsMinimisingText(),
                  this, *store_))
    HideToTray();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Only the first showing arms the automatic check; coming back from the tray does not.
  if (!shownOnce_ && !event->spontaneous()) {
    shownOnce_ = true;
    updateTimer_.start();
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == status_ || watched == statusBar()) &&
      event->type() == QEvent::MouseButtonRelease) {
    // A file that is gone is reported rather than ignored.
    if (statusHint_.isEmpty()) return true;
    if (statusOpensFolder_)
      ExploreFolderAction(QFileInfo(statusHint_).absolutePath());
    else
      OpenFileAction(statusHint_);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

RecordingJob MainWindow::Job() {
  // The folder may have gone since the last recording (deleted, a disk unplugged and back);
  // a failure shows as the recording's own "Can not create file".
  MakeFolders(outputFolder_);
  const CaptureArea& area = areaPage_->Area();
  return {.Area = area.Rect,
          .ShowCursor = area.ShowCursor,
          .FollowCursor = area.EffectiveFollow(),
          .FramesPerSecond = videoPage_->FramesPerSecond(),
          .OutputFolder = outputFolder_,
          .Sound = videoPage_->Sound(),
          .SoundFormat = videoPage_->SoundFormat(),
          .WholeSource = area.ObjectMode};
}

int MainWindow::StartDelaySeconds() {
  return videoPage_->StartDelaySeconds();
}

bool MainWindow::PlayResult() {
  return videoPage_->PlayResult();
}

void MainWindow::HideToTray() {
  // A recording or the tray takes the window over from a snapshot that hid it.
  snapshotHidden_ = false;
  hider_->Hide();
}

void MainWindow::ShowFromTray() {
  if (ending_) return;
  snapshotHidden_ = false;
  hider_->Show();
}

void MainWindow::Beep() {
  QApplication::beep();
}

QString MainWindow::FittedStatus(const QString& lead, const QString& path) const {
  // The status is never cut off: the file's folders give way first (its tooltip names it
  // whole). A label that wraps by itself would change the window's size hint with each
  // status, which brings a minimised window back.
  return lead + ShortenedPath(path, status_->fontMetrics(),
                              width() - 20 - status_->fontMetrics().horizontalAdvance(lead));
}

void MainWindow::ShowOutput(const QString& file) {
  SetStatus(FittedStatus(QStringLiteral("Output: "), file), file);
}

void MainWindow::ShowOutputNote(const QString& note) {
  // On a line of its own, under the file's name.
  SetStatus(status_->text() + QLatin1Char('\n') + note, statusHint_);
}

void MainWindow::ShowProgress(const QString& line) {
  tray_->SetHint(line.isEmpty() ? kTrayHint : line);
  // Where there is no tray the window stays in view, and its status bar tells the same.
  SetStatus(line, QString());
}

void MainWindow::ShowError(const QString& text) {
  ShowMessage(text);
}

bool MainWindow::OpenScreen(std::shared_ptr<ScreenSource>& source) {
  return OpenPortal(areaPage_->Area().ObjectMode, source);
}

bool MainWindow::ScreenFromPortal(const SettingsStore& store) {
  return PortalScreen::Chosen(ReadSetting(store, "Capture area", "Source"));
}

bool MainWindow::OpenPortal(bool window, std::shared_ptr<ScreenSource>& source) {
  // A window and a monitor are separate choices in the desktop's dialog, each with its token.
  const char* section = "Capture area";
  const char* tokenName = window ? "Window restore token" : "Restore token";
  if (!ScreenFromPortal(*store_)) return true;
  auto screen = std::make_shared<PortalScreen>();
  switch (screen->Open(ReadSetting(*store_, section, tokenName),
                       window ? PortalScreen::Kind::Window : PortalScreen::Kind::MonitorOrWindow)) {
    case PortalScreen::Outcome::NotAllowed:
      ShowMessage(PortalScreen::NotAllowedMessage());
      return false;
    case PortalScreen::Outcome::Failed:
      ShowMessage(screen->Failure());
      return false;
    case PortalScreen::Outcome::Shared:
      break;
  }
  if (IsRestoreToken(screen->RestoreToken()))
    WriteSetting(*store_, section, tokenName, screen->RestoreToken());
  source = std::move(screen);
  return true;
}

void MainWindow::PlayVideo(const QString& file) {
  // The player's failure comes seconds later, while the user may be typing elsewhere: the
  // status bar tells it without taking the focus.
  PlayVideoAction(file, [window = QPointer<MainWindow>(this), file](const QString& text) {
    if (window) window->SetStatus(window->FittedStatus(text.chopped(file.size()), file), file);
  });
}

void MainWindow::RecordingComplete(const QString& file) {
  lastRecording_ = file;
  const std::optional<ExportKind> kind = videoPage_->AlsoSaveAs();
  if (!kind) return;
  // Beside the recording, under a name that replaces nothing.
  ExportRequest request;
  request.Input = file;
  request.Output = ExportController::CopyName(file, *kind);
  exports_->Start(request);
}

bool MainWindow::IsRecording() {
  return recording_->IsRecording();
}

PhotoJob MainWindow::CurrentPhotoJob() {
  const Rect rect = areaPage_->RectForPhoto();
  const CaptureArea& area = areaPage_->Area();
  return {.Area = rect,
          .FollowCursor = area.EffectiveFollow(),
          .Type = picturePage_->Type(),
          .JpegPosition = picturePage_->JpegPosition(),
          .OutputFolder = outputFolder_,
          .Window = area.ObjectWindow,
          .FixedSize = area.Mode != 6,
          .WholeSource = area.ObjectMode};
}

void MainWindow::HideForSnapshot() {
  if (!isVisible()) return;
  snapshotHidden_ = true;
  snapshotPlace_ = geometry();
  hide();
}

void MainWindow::ShowAfterSnapshot() {
  if (!snapshotHidden_) return;
  snapshotHidden_ = false;
  // A window manager places a window that shows again as a new one: it goes back instead.
  setGeometry(snapshotPlace_);
  show();
  setGeometry(snapshotPlace_);
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (isVisible() && !snapshotHidden_) placed_ = geometry().topLeft();
}

void MainWindow::ShowPhotoImages(bool on) {
  photoImages_ = on;
  if (on)
    tray_->SetImageList(TrayImages::Photo());
  else
    UpdateTray();
}

void MainWindow::ShowPhotoFile(const QString& path) {
  const QString label = QStringLiteral("Output: ");
  SetStatus(label + ShortenedPath(path, status_->fontMetrics(),
                                  width() - 20 - status_->fontMetrics().horizontalAdvance(label)),
            path);
}

void MainWindow::Flash(const Rect& captured, uint64_t window, bool fixedSize,
                       const std::shared_ptr<ScreenSource>& source) {
  Rect rect = captured;
  SelectionScreen::Execute(rect, window, false, fixedSize, true, this, source);
}

}  // namespace qm
