#include "area/CaptureAreaPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <array>

#include "area/SelectionScreen.h"
#include "capture/Grabber.h"
#include "common/PictureArea.h"
#include "common/SilentAbort.h"
#include "platform/windows/DesktopWindows.h"

namespace qm {

namespace {

// How long the other windows get to repaint what the hidden main window uncovered before the
// snapshot is taken.
constexpr int kRepaintMilliseconds = 200;

struct ModeRow {
  const char* Name;
  int32_t Width, Height;  // 0: the screen's size
};
// "480 x 360" gives what it says; its index stays, so stored settings keep their meaning.
// Items past the presets ("Selected object", "Custom") and no selection take 320 x 240.
// clang-format off
constexpr std::array<ModeRow, 7> kModes{{
  {"Full screen",     0,   0},
  {"240 * 160",       240, 160},
  {"320 x 240",       320, 240},
  {"480 x 360",       480, 360},
  {"640 x 480",       640, 480},
  {"Selected object", 320, 240},
  {"Custom",          320, 240},
}};
// clang-format on

// Hides the main window for as long as it lives, and shows it again whatever happens.
class HiddenHost {
 public:
  explicit HiddenHost(WindowHost& host) : host_(host) { host_.HideForSnapshot(); }
  ~HiddenHost() { host_.ShowAfterSnapshot(); }
  HiddenHost(const HiddenHost&) = delete;
  HiddenHost& operator=(const HiddenHost&) = delete;

 private:
  WindowHost& host_;
};

}  // namespace

QStringList CaptureAreaPage::ModeNames() {
  QStringList names;
  for (const ModeRow& row : kModes) names << QString::fromLatin1(row.Name);
  return names;
}

CaptureAreaPage::CaptureAreaPage(WindowHost& host, QWidget* parent)
    : QWidget(parent), host_(host), runner_(&SelectionScreen::Execute) {
  cbArea_ = new QComboBox(this);
  cbArea_->setObjectName(QStringLiteral("cbArea"));
  // A screen of one monitor has nothing to choose beside "Full screen".
  monitors_ = Grabber::Monitors();
  if (monitors_.size() < 2) monitors_.clear();
  FillList();
  sbRect_ = new QPushButton(QStringLiteral("Set"), this);
  sbRect_->setObjectName(QStringLiteral("sbRect"));
  cbFollowMode_ = new QCheckBox(QStringLiteral("Follow the cursor mode"), this);
  cbFollowMode_->setObjectName(QStringLiteral("cbFollowMode"));
  cbShowCursor_ = new QCheckBox(QStringLiteral("Show the cursor"), this);
  cbShowCursor_->setObjectName(QStringLiteral("cbShowCursor"));
  cbFollowMode_->setChecked(area_.FollowCursor);
  cbShowCursor_->setChecked(area_.ShowCursor);

  auto* info = new QGroupBox(QStringLiteral("Current capture area "), this);
  auto* infoLayout = new QGridLayout(info);
  lbInfoLeft_ = new QLabel(info);
  lbInfoTop_ = new QLabel(info);
  lbInfoWidth_ = new QLabel(info);
  lbInfoHeight_ = new QLabel(info);
  lbInfoLeft_->setObjectName(QStringLiteral("lbInfoLeft"));
  lbInfoTop_->setObjectName(QStringLiteral("lbInfoTop"));
  lbInfoWidth_->setObjectName(QStringLiteral("lbInfoWidth"));
  lbInfoHeight_->setObjectName(QStringLiteral("lbInfoHeight"));
  infoLayout->addWidget(lbInfoLeft_, 0, 0);
  infoLayout->addWidget(lbInfoTop_, 1, 0);
  infoLayout->addWidget(lbInfoWidth_, 0, 1);
  infoLayout->addWidget(lbInfoHeight_, 1, 1);

  auto* top = new QHBoxLayout;
  top->addWidget(cbArea_, 1);
  top->addWidget(sbRect_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(cbFollowMode_);
  lbFollowReason_ = new QLabel(this);
  lbFollowReason_->setObjectName(QStringLiteral("lbFollowReason"));
  lbFollowReason_->setWordWrap(true);
  lbFollowReason_->hide();
  layout->addWidget(lbFollowReason_);
  lbPortalMonitor_ = new QLabel(PortalMonitorNotice(), this);
  lbPortalMonitor_->setObjectName(QStringLiteral("lbPortalMonitor"));
  lbPortalMonitor_->setWordWrap(true);
  lbPortalMonitor_->hide();
  layout->addWidget(lbPortalMonitor_);
  layout->addWidget(cbShowCursor_);
  layout->addWidget(info);
  layout->addStretch();

  connect(cbArea_, &QComboBox::currentIndexChanged, this, [this] { AreaChange(); });
  connect(sbRect_, &QPushButton::clicked, this, [this] { SetClicked(); });
  connect(cbFollowMode_, &QCheckBox::toggled, this, [this](bool on) {
    area_.FollowCursor = on;
    emit AreaChanged();
  });
  connect(cbShowCursor_, &QCheckBox::toggled, this, [this](bool on) {
    area_.ShowCursor = on;
    emit AreaChanged();
  });
  AreaChange();
}

CaptureAreaPage::~CaptureAreaPage() = default;

// "Full screen", the monitors by name and size, then the other modes; each item holds its mode
// and a monitor's item its name, so stored modes keep their meaning whatever the monitors.
void CaptureAreaPage::FillList() {
  const QSignalBlocker block(cbArea_);
  cbArea_->clear();
  const QStringList names = ModeNames();
  for (int mode = 0; mode < names.size(); ++mode) {
    cbArea_->addItem(names[mode], mode);
    if (mode != 0) continue;
    for (const Monitor& monitor : monitors_) {
      cbArea_->addItem(MonitorCaption(monitor), CaptureArea::kMonitorMode);
      cbArea_->setItemData(cbArea_->count() - 1, monitor.Name, Qt::UserRole + 1);
    }
  }
  cbArea_->setCurrentIndex(-1);
}

void CaptureAreaPage::SetMode(int index) {
  {
    const QSignalBlocker block(cbArea_);
    const int at = index >= 0 && index < CaptureArea::kMonitorMode ? cbArea_->findData(index) : -1;
    cbArea_->setCurrentIndex(at);
  }
  AreaChange();
}

void CaptureAreaPage::SetCustomRect(const Rect& rect) {
  customRect_ = rect;
  if (area_.Mode == 6) AreaChange();
}

bool CaptureAreaPage::SetMonitor(const QString& name) {
  const int at = name.isEmpty() ? -1 : cbArea_->findData(name, Qt::UserRole + 1);
  if (at < 0) return false;
  {
    const QSignalBlocker block(cbArea_);
    cbArea_->setCurrentIndex(at);
  }
  AreaChange();
  return true;
}

QString CaptureAreaPage::PortalMonitorNotice() {
  return QStringLiteral(
      "The desktop's own dialog chooses the monitor: \"Full screen\" is the monitor or window "
      "chosen there.");
}

void CaptureAreaPage::PortalChoosesMonitor() {
  const bool onMonitor = area_.Mode == CaptureArea::kMonitorMode;
  monitors_.clear();
  const int mode = area_.Mode;
  FillList();
  lbPortalMonitor_->show();
  SetMode(onMonitor ? 0 : mode);
}

void CaptureAreaPage::SetShowCursor(bool on) {
  cbShowCursor_->setChecked(on);
}

void CaptureAreaPage::SetFollowCursor(bool on) {
  cbFollowMode_->setChecked(on);
}

void CaptureAreaPage::FollowUnavailable(const QString& reason) {
  cbFollowMode_->setChecked(false);
  cbFollowMode_->setEnabled(false);
  lbFollowReason_->setText(reason);
  lbFollowReason_->show();
}

Rect CaptureAreaPage::MainWindowBounds() const {
  // What the user sees of the main window, decorations included, in screen pixels.
  const QWidget* main = window();
  const QRect frame = main->frameGeometry();
  const qreal dpr = main->devicePixelRatioF();
  const auto scaled = [dpr](int v) { return int32_t(qRound(v * dpr)); };
  return Rect{scaled(frame.left()), scaled(frame.top()), scaled(frame.left() + frame.width()),
              scaled(frame.top() + frame.height())};
}

Rect CaptureAreaPage::ModeRect(int index, const Rect& screen, const Rect& mainWindow) {
  const int count = int(kModes.size());
  if (index == count - 2) return mainWindow;
  int32_t width = 320, height = 240;
  if (index >= 0 && index <= 4) {
    const ModeRow& row = kModes[size_t(index)];
    width = row.Width ? row.Width : screen.Width();
    height = row.Height ? row.Height : screen.Height();
  }
  return CentredArea(width, height, screen);
}

bool CaptureAreaPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window() && watched != this) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Show) mainShown_ = true;
    if (type == QEvent::Hide) boundsPending_ = false;
    if (boundsPending_ && area_.ObjectMode && area_.ObjectWindow == 0 &&
        (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)) {
      area_.Rect = MainWindowBounds();
      UpdateAreaInfo();
      emit AreaChanged();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CaptureAreaPage::AreaChange() {
  const int index = cbArea_->currentIndex();
  const int mode = index < 0 ? -1 : cbArea_->itemData(index).toInt();
  if (window() != this) window()->installEventFilter(this);
  if (window()->isVisible()) mainShown_ = true;
  area_.Mode = mode;
  area_.Monitor = mode == CaptureArea::kMonitorMode
                      ? cbArea_->itemData(index, Qt::UserRole + 1).toString()
                      : QString();
  area_.ObjectMode = mode == 5;
  boundsPending_ = area_.ObjectMode && !mainShown_;
  // The whole screen and a whole monitor are what they are: nothing to set.
  sbRect_->setEnabled(mode != 0 && mode != CaptureArea::kMonitorMode);
  const Monitor* monitor = FindMonitor(monitors_, area_.Monitor);
  const bool drawn = mode == 6 && customRect_.Width() > 0 && customRect_.Height() > 0;
  area_.Rect = monitor ? monitor->Bounds
               : drawn ? customRect_
                       : ModeRect(mode, Grabber::ScreenBounds(),
                                  area_.ObjectMode ? MainWindowBounds() : Rect());
  area_.FixedSize = mode != 6;
  UpdateAreaInfo();
  emit AreaChanged();
}

void CaptureAreaPage::UpdateAreaInfo() {
  const Rect& r = area_.Rect;
  lbInfoLeft_->setText(QStringLiteral("Left: %1").arg(r.Left));
  lbInfoTop_->setText(QStringLiteral("Top: %1").arg(r.Top));
  lbInfoWidth_->setText(QStringLiteral("Width: %1").arg(r.Width()));
  lbInfoHeight_->setText(QStringLiteral("Height: %1").arg(r.Height()));
}

void CaptureAreaPage::SetClicked() {
  std::shared_ptr<ScreenSource> source;
  if (opener_ && !opener_(area_.ObjectMode, source)) return;
  if (source && area_.ObjectMode) {
    // The desktop's dialog has picked the window, which is recorded whole.
    boundsPending_ = false;
    area_.Rect = source->Bounds();
    area_.ObjectWindow = 0;
    UpdateAreaInfo();
    emit AreaChanged();
    return;
  }
  {
    // Window managers clamp a move far off the screen, so the main window is hidden instead,
    // and shown again however the selection ends, also when the snapshot fails.
    const HiddenHost hidden(host_);
    QEventLoop wait;
    QTimer::singleShot(kRepaintMilliseconds, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);

    // On a shared picture the selection starts where a recording of the area would take it.
    Rect rect = area_.Rect;
    if (source) rect = AreaOnPicture(rect, Grabber::ScreenBounds(), source->Bounds());
    uint64_t window = area_.ObjectWindow;
    try {
      if (runner_(rect, window, area_.ObjectMode, area_.FixedSize, false, this, source)) {
        boundsPending_ = false;
        area_.Rect = rect;
        area_.ObjectWindow = window;
        if (area_.Mode == 6) customRect_ = rect;
      }
    } catch (const SilentAbort&) {
      // The user has been told; the area stays as it was.
    }
  }
  UpdateAreaInfo();
  emit AreaChanged();
}

Rect CaptureAreaPage::RectForPhoto() {
  if (area_.ObjectMode && area_.ObjectWindow != 0) {
    DesktopWindows windows;
    Rect now;
    if (windows.CurrentRect(area_.ObjectWindow, now)) {
      area_.Rect = now;
      UpdateAreaInfo();
    }
  }
  return area_.Rect;
}

}  // namespace qm
