#include "area/SelectBox.h"

#include <QFont>
#include <QPainter>
#include <QPen>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace qm {

namespace {

constexpr int32_t kMinSize = 32;
constexpr int32_t kCornerSize = 7;
constexpr int kTextX = 20, kTextY = 10, kRowStep = 12;

// How each handle moves the left, top, width and height by the pointer's movement; the last
// row moves the whole box.
struct DragRule {
  int8_t Left, Top, Width, Height;
};
// clang-format off
constexpr std::array<DragRule, 9> kDragRules{{
  // L   T   W   H
  { 1,  1, -1, -1},  // 0 top-left
  { 0,  1,  0, -1},  // 1 top middle
  { 0,  1,  1, -1},  // 2 top-right
  { 0,  0,  1,  0},  // 3 right middle
  { 0,  0,  1,  1},  // 4 bottom-right
  { 0,  0,  0,  1},  // 5 bottom middle
  { 1,  0, -1,  1},  // 6 bottom-left
  { 1,  0, -1,  0},  // 7 left middle
  { 1,  1,  0,  0},  // move
}};
// clang-format on

// Red text on a white plate a pixel larger all round: readable over any picture.
void DrawPlatedText(QPainter& painter, int x, int y, const QString& text) {
  const QRect room(x, y, 4096, 64);
  const QRect used = painter.boundingRect(room, Qt::AlignLeft | Qt::AlignTop, text);
  painter.fillRect(used.adjusted(-2, -1, 2, 1), Qt::white);
  painter.setPen(Qt::red);
  painter.drawText(room, Qt::AlignLeft | Qt::AlignTop, text);
}

}  // namespace

SelectBox::SelectBox(const Rect& screen) : screen_(screen) {
  LayoutCorners();
}

void SelectBox::SetBoxRect(const Rect& rect) {
  rect_ = rect;
  LayoutCorners();
}

void SelectBox::LayoutCorners() {
  const int32_t w = rect_.Width(), h = rect_.Height();
  const int32_t cx = w / 2 - 3, cy = h / 2 - 3;
  const Point at[8] = {{0, 0},
                       {cx, 0},
                       {w - kCornerSize, 0},
                       {w - kCornerSize, cy},
                       {w - kCornerSize, h - kCornerSize},
                       {cx, h - kCornerSize},
                       {0, h - kCornerSize},
                       {0, cy}};
  const Qt::CursorShape shapes[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor,   Qt::SizeBDiagCursor,
                                     Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                     Qt::SizeBDiagCursor, Qt::SizeHorCursor};
  for (size_t i = 0; i < corners_.size(); ++i) {
    corners_[i].Square = Rect{at[i].X, at[i].Y, at[i].X + kCornerSize, at[i].Y + kCornerSize};
    corners_[i].Cursor = shapes[i];
  }
}

int SelectBox::CornerAt(Point client) const {
  if (fixedSize_) return -1;
  for (int i = int(corners_.size()) - 1; i >= 0; --i) {
    if (corners_[size_t(i)].Square.Contains(client)) return i;
  }
  return -1;
}

Qt::CursorShape SelectBox::CursorAt(Point client) const {
  const int corner = CornerAt(client);
  return corner < 0 ? Qt::SizeAllCursor : corners_[size_t(corner)].Cursor;
}

void SelectBox::Press(Point screenPoint) {
  grabbedCorner_ = CornerAt(Point{screenPoint.X - rect_.Left, screenPoint.Y - rect_.Top});
  dragging_ = true;
  lastMousePos_ = screenPoint;
}

void SelectBox::MoveTo(Point screenPoint) {
  if (!dragging_) return;
  if (drawing_) {
    // From the anchor to the pointer, whichever way, inside the screen.
    const int32_t x = std::clamp(screenPoint.X, screen_.Left, screen_.Right - 1);
    const int32_t y = std::clamp(screenPoint.Y, screen_.Top, screen_.Bottom - 1);
    SetBoxRect(Rect{std::min(anchor_.X, x), std::min(anchor_.Y, y), std::max(anchor_.X, x) + 1,
                    std::max(anchor_.Y, y) + 1});
    return;
  }
  DragTo(screenPoint, grabbedCorner_);
  // A refused step is lost: the box picks up from wherever the pointer is next.
  lastMousePos_ = screenPoint;
}

void SelectBox::Release() {
  dragging_ = false;
  if (drawing_) {
    drawing_ = false;
    // Grown to the least size, away from the screen's right and bottom edges where it must.
    const int32_t w = std::max(rect_.Width(), kMinSize), h = std::max(rect_.Height(), kMinSize);
    const int32_t l = std::max(std::min(rect_.Left, screen_.Right - w), screen_.Left);
    const int32_t t = std::max(std::min(rect_.Top, screen_.Bottom - h), screen_.Top);
    rect_ = Rect{l, t, l + w, t + h};
  }
  if (!fixedSize_) SetBoxRect(RoundedSize(rect_));
}

void SelectBox::StartDrawing(Point screenPoint) {
  dragging_ = true;
  drawing_ = true;
  anchor_ = screenPoint;
  SetBoxRect(Rect{screenPoint.X, screenPoint.Y, screenPoint.X + 1, screenPoint.Y + 1});
}

QStringList SelectBox::HelpLines(bool resizable) {
  QStringList lines{QStringLiteral("Enter or a double-click accepts, Escape cancels;"),
                    QStringLiteral("the right button opens the menu (OK, Cancel).")};
  if (resizable) lines << QStringLiteral("Drag outside the box to draw a new one.");
  return lines;
}

bool SelectBox::DragTo(Point screenPoint, int index) {
  const int32_t mx = screenPoint.X - lastMousePos_.X, my = screenPoint.Y - lastMousePos_.Y;
  const DragRule& rule = kDragRules[index >= 0 && index < 8 ? size_t(index) : 8];
  const int32_t l = rect_.Left + rule.Left * mx, t = rect_.Top + rule.Top * my;
  const int32_t w = rect_.Width() + rule.Width * mx, h = rect_.Height() + rule.Height * my;
  if (w < kMinSize || h < kMinSize || l < screen_.Left || t < screen_.Top ||
      l + w > screen_.Right || t + h > screen_.Bottom)
    return false;
  SetBoxRect(Rect{l, t, l + w, t + h});
  return true;
}

void SelectBox::Paint(QPainter& painter, const QFont& font) const {
  painter.save();
  painter.translate(rect_.Left, rect_.Top);
  // The box draws only on itself, like a control of its own.
  painter.setClipRect(0, 0, rect_.Width(), rect_.Height());
  QPen border(borderColor_, 1);
  border.setCosmetic(true);
  border.setDashPattern({1.0, 1.0});
  painter.setPen(border);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(2, 2, rect_.Width() - 5, rect_.Height() - 5);

  QFont bold(font);
  bold.setBold(true);
  painter.setFont(bold);
  int row = kTextY;
  if (showHelpText_) {
    for (const QString& line : HelpLines(!fixedSize_)) {
      DrawPlatedText(painter, kTextX, row, line);
      row += kRowStep;
    }
  }
  if (!fixedSize_) {
    // Below the help lines while they show, and on the first row once they have gone.
    DrawPlatedText(painter, kTextX, row,
                   QStringLiteral(" Width =%1 Height=%2").arg(rect_.Width()).arg(rect_.Height()));
    for (const Corner& corner : corners_) {
      const Rect& s = corner.Square;
      painter.fillRect(s.Left, s.Top, s.Width(), s.Height(), borderColor_);
    }
  }
  painter.restore();
  if (dragging_) {
    // The size beside the box's bottom-right corner while it is dragged, however small the box.
    painter.save();
    painter.setFont(bold);
    DrawPlatedText(painter, rect_.Right + 4, rect_.Bottom + 4,
                   QStringLiteral("%1 x %2").arg(rect_.Width()).arg(rect_.Height()));
    painter.restore();
  }
}

int32_t SelectBox::RoundUp8(int32_t n) {
  return (n + 7) / 8 * 8;
}

Rect SelectBox::RoundedSize(const Rect& rect) {
  return Rect{rect.Left, rect.Top, rect.Left + RoundUp8(rect.Width()),
              rect.Top + RoundUp8(rect.Height())};
}

}  // namespace qm
