#include "area/SelectionScreen.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <cstring>

#include "capture/Grabber.h"
#include "common/DIBBitmap.h"
#include "common/UserMessages.h"
#include "platform/windows/DesktopWindows.h"
#include "platform/windows/HeldKeyRepeat.h"

namespace qm {

namespace {

constexpr int kFlashMilliseconds = 1000;
// Room right of and below the box for its size while it is dragged, in device pixels.
constexpr Point kSizeRoom{160, 28};

}  // namespace

QString SelectionScreen::CancelQuestion() {
  return QStringLiteral("Cancel adjusting capture area?");
}

SelectionScreen::SelectionScreen(QWidget* parent, const std::shared_ptr<ScreenSource>& source)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      screen_(source ? source->Bounds() : Grabber::ScreenBounds()),
      cover_(Grabber::ScreenBounds()),
      box_(screen_) {
  // The snapshot: the whole screen without the cursor. An empty or oversized screen goes
  // through the error report (silent abort); a screen that cannot be read is reported, and
  // the screen then does not open.
  DIBBitmap bitmap;
  bitmap.SetFormat(screen_.Width(), screen_.Height(), PixelFormat::Bits32);
  Grabber grabber;
  // A shared screen's own picture: on such desktops the X screen shows only X programs.
  if (source) grabber.UseSource(source);
  Rect captured;
  snapshotOk_ = grabber.Grab(bitmap, Point{screen_.Left, screen_.Top}, captured, false, false);
  if (!snapshotOk_) ShowMessage(grabber.Failure());
  if (snapshotOk_) {
    snapshot_ = QImage(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
      auto* row = reinterpret_cast<uint32_t*>(snapshot_.scanLine(y));
      std::memcpy(row, bitmap.ScanLine(y), size_t(bitmap.Width()) * 4);
      for (int32_t x = 0; x < bitmap.Width(); ++x) row[x] |= 0xFF000000u;
    }
  }

  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);
  setObjectName(QStringLiteral("SelectionScreen"));
  setWindowTitle(QStringLiteral("Capture area"));
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setWindowModality(Qt::ApplicationModal);

  menu_ = new QMenu(this);
  connect(menu_->addAction(QStringLiteral("OK")), &QAction::triggered, this, [this] {
    if (!showOnly_) Finish(true);
  });
  connect(menu_->addAction(QStringLiteral("Cancel")), &QAction::triggered, this, [this] {
    if (!showOnly_) Finish(false);
  });

  flashTimer_.setSingleShot(true);
  flashTimer_.setInterval(kFlashMilliseconds);
  connect(&flashTimer_, &QTimer::timeout, this, [this] { Finish(false); });
}

SelectionScreen::~SelectionScreen() = default;

bool SelectionScreen::Execute(Rect& rect, uint64_t& window, bool objectMode, bool fixedSize,
                              bool showOnly, QWidget* parent,
                              const std::shared_ptr<ScreenSource>& source) {
  SelectionScreen screen(parent, source);
  if (!screen.snapshotOk_) return false;
  screen.savedRect_ = rect;
  screen.box_.SetBoxRect(rect);
  screen.box_.SetFixedSize(fixedSize);
  screen.showOnly_ = showOnly;
  screen.objectMode_ = objectMode;
  if (objectMode) {
    // Read before the screen shows, so that it is not one of the windows.
    screen.root_.Refresh();
    screen.showOnly_ = false;
    screen.box_.SetFixedSize(true);
    screen.currentWindow_ = screen.root_.FindUnderCursor();
    Rect found;
    if (screen.currentWindow_ && screen.currentWindow_->GetRect(found)) {
      screen.box_.SetBoxRect(found);
      screen.trackOverBox_ = true;
    }
  }
  // The help stays until the first drag.
  screen.box_.SetShowHelpText(!screen.showOnly_);

  const bool accepted = screen.Run();
  if (screen.showOnly_) return accepted;
  if (!accepted) {
    rect = screen.savedRect_;
    return false;
  }
  rect = SelectBox::RoundedSize(screen.box_.BoxRect());
  if (screen.objectMode_ && screen.currentWindow_) window = screen.currentWindow_->Handle();
  return true;
}

bool SelectionScreen::Run() {
  if (showOnly_) {
    boxHidden_ = true;
    DrawFlashOutline();
    flashTimer_.start();
    // Only shown: the keys the user types meanwhile still reach the user's program. (A modal
    // window would be activated when it shows; this one covers the screen and ignores input.)
    setWindowModality(Qt::NonModal);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
  }
  // The window covers the whole X screen, every monitor on it, in device pixels. The toolkit
  // places a window by logical pixels scaled about one monitor's corner, which covers more or
  // less than the screen where the monitors have other scales or the scale does not divide
  // the screen's size (two monitors of 1024 pixels side by side at scale 2 made it 3072 wide
  // on a 2048 screen): the first placement is the toolkit's nearest, and the window is then put on
  // the screen's pixels exactly. Painting and the pointer count in device pixels from there.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const qreal scale = screen->devicePixelRatio();
    const QPointF corner = screen->geometry().topLeft();
    const QPointF at = corner + (QPointF(cover_.Left, cover_.Top) - corner) / scale;
    setGeometry(QRectF(at, QSizeF(cover_.Width(), cover_.Height()) / scale).toAlignedRect());
  }
  // A held key then repeats as presses only, so its one release is the real one.
  const HeldKeyRepeat heldKeys;
  show();
  desktop_ = std::make_unique<DesktopWindows>();
  desktop_->Place(winId(), cover_);
  raise();
  if (!showOnly_) activateWindow();
  QEventLoop loop;
  loop_ = &loop;
  if (!done_) loop.exec(QEventLoop::DialogExec);
  loop_ = nullptr;
  flashTimer_.stop();
  hide();
  return accepted_;
}

void SelectionScreen::Finish(bool accepted) {
  if (done_) return;
  done_ = true;
  accepted_ = accepted;
  if (loop_) loop_->quit();
}

void SelectionScreen::DrawFlashOutline() {
  QPainter painter(&snapshot_);
  QPen pen(Qt::red, 1);
  pen.setCosmetic(true);
  pen.setDashPattern({1.0, 1.0});
  painter.setPen(pen);
  painter.setBackgroundMode(Qt::OpaqueMode);
  painter.setBackground(Qt::white);
  const Rect& r = savedRect_;
  const QPoint outline[5] = {
      {r.Left, r.Top}, {r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}, {r.Left, r.Top}};
  painter.drawPolyline(outline, 5);
}

Point SelectionScreen::ScreenPoint(const QPointF& position) {
  const qreal dpr = devicePixelRatioF();
  const Point at{cover_.Left + int32_t(std::lround(position.x() * dpr)),
                 cover_.Top + int32_t(std::lround(position.y() * dpr))};
  // The toolkit hands positions in whole logical pixels, which skip device pixels at a scale
  // above 1. Where the pointer still rests within that logical pixel, its own device pixel
  // is taken from the X server; an event that the pointer has left behind keeps its position.
  Point pointer;
  if (dpr > 1 && desktop_ && desktop_->PointerPosition(pointer) &&
      std::abs(pointer.X - at.X) < dpr && std::abs(pointer.Y - at.Y) < dpr)
    return pointer;
  return at;
}

bool SelectionScreen::OnBox(Point screenPoint) const {
  return !boxHidden_ && box_.BoxRect().Contains(screenPoint);
}

void SelectionScreen::UpdateBoxArea(const Rect& before) {
  // Both the place the box left and the one it took, in logical pixels with a pixel to spare,
  // and the size shown beside its bottom-right corner while it is dragged.
  const qreal dpr = devicePixelRatioF();
  for (const Rect& r : {before, box_.BoxRect()}) {
    const QRectF device(r.Left - cover_.Left, r.Top - cover_.Top, r.Width() + kSizeRoom.X,
                        r.Height() + kSizeRoom.Y);
    const QRectF logical(device.topLeft() / dpr, device.size() / dpr);
    update(logical.toAlignedRect().adjusted(-1, -1, 1, 1));
  }
}

void SelectionScreen::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const qreal dpr = devicePixelRatioF();
  painter.scale(1 / dpr, 1 / dpr);
  painter.translate(-cover_.Left, -cover_.Top);
  painter.drawImage(QPointF(screen_.Left, screen_.Top), snapshot_);
  if (!boxHidden_) box_.Paint(painter, font());
}

void SelectionScreen::TrackWindow() {
  WindowFinder::Node* node = root_.FindUnderCursor();
  if (!node || node == currentWindow_) return;
  currentWindow_ = node;
  Rect found;
  if (!node->GetRect(found)) return;
  const Rect before = box_.BoxRect();
  box_.SetBoxRect(found);
  UpdateBoxArea(before);
}

void SelectionScreen::mousePressEvent(QMouseEvent* event) {
  if (showOnly_) return;
  const Point p = ScreenPoint(event->position());
  const Rect before = box_.BoxRect();
  if (event->button() == Qt::RightButton) {
    if (OnBox(p)) menu_->popup(event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (OnBox(p)) {
    box_.Press(p);
  } else if (!objectMode_ && !box_.FixedSize()) {
    // A drag on the picture beside the box draws a new one.
    box_.StartDrawing(p);
  } else {
    return;
  }
  // The help has been read once the user drags.
  box_.SetShowHelpText(false);
  UpdateBoxArea(before);
}

void SelectionScreen::mouseMoveEvent(QMouseEvent* event) {
  const Point p = ScreenPoint(event->position());
  const bool overBox = box_.Dragging() || OnBox(p);
  if (box_.Dragging()) {
    const Rect before = box_.BoxRect();
    box_.MoveTo(p);
    if (!(before == box_.BoxRect())) UpdateBoxArea(before);
  }
  const Rect& r = box_.BoxRect();
  setCursor(OnBox(p) ? box_.CursorAt(Point{p.X - r.Left, p.Y - r.Top}) : Qt::ArrowCursor);
  if (objectMode_ && (!overBox || trackOverBox_)) TrackWindow();
}

void SelectionScreen::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !box_.Dragging()) return;
  const Rect before = box_.BoxRect();
  box_.Release();
  UpdateBoxArea(before);
}

void SelectionScreen::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && !showOnly_) Finish(true);
}

void SelectionScreen::keyPressEvent(QKeyEvent* event) {
  if (!event->isAutoRepeat()) pressed_.insert(event->nativeScanCode());
}

void SelectionScreen::keyReleaseEvent(QKeyEvent* event) {
  // A held key repeats as release and press pairs; only the real release counts, and only
  // for a key pressed here.
  if (event->isAutoRepeat() || !pressed_.remove(event->nativeScanCode())) return;
  if (showOnly_ || done_) return;
  // Enter accepts and Escape asks; any other key (Shift or Ctrl let go, say) does nothing.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Finish(true);
    return;
  }
  if (event->key() != Qt::Key_Escape) return;
  // Keys still down now are released into the question box or after it: none of them is
  // the user's answer to this screen.
  pressed_.clear();
  QMessageBox question(QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                       CancelQuestion(), QMessageBox::Ok | QMessageBox::Cancel, this);
  question.setDefaultButton(QMessageBox::Ok);
  question.setEscapeButton(QMessageBox::Cancel);
  const int answer = question.exec();
  pressed_.clear();
  if (answer == QMessageBox::Ok) {
    Finish(false);
    return;
  }
  // Without a window manager nobody hands the keyboard back once the question has gone.
  activateWindow();
}

void SelectionScreen::closeEvent(QCloseEvent* event) {
  Finish(false);
  event->accept();
}

}  // namespace qm
