#pragma once

#include <QColor>
#include <QStringList>
#include <Qt>

#include <array>
#include <cstdint>

#include "common/Rect.h"

class QPainter;
class QFont;

namespace qm {

// The box of the selection screen that marks the capture area: moved by dragging it, resized
// by its eight handles unless it has a fixed size. It has no window of its own: the screen
// paints it onto its own surface and hands it the mouse. Every position is in screen pixels
// (device pixels), the box's client positions counted from its top-left corner.
// Use on the user-interface thread.
class SelectBox {
 public:
  // screen: the rectangle the box must stay inside while it is dragged.
  explicit SelectBox(const Rect& screen);

  const Rect& BoxRect() const { return rect_; }
  // Sets the bounds and lays the handles out again.
  void SetBoxRect(const Rect& rect);

  bool FixedSize() const { return fixedSize_; }
  void SetFixedSize(bool fixed) { fixedSize_ = fixed; }
  bool ShowHelpText() const { return showHelpText_; }
  void SetShowHelpText(bool show) { showHelpText_ = show; }
  bool Dragging() const { return dragging_; }

  // The handle (0 to 7) whose square holds the client point, the highest of several; -1 for
  // none and always with a fixed size.
  int CornerAt(Point client) const;
  // The pointer shape over the client point: a handle's resize shape, else the move shape.
  Qt::CursorShape CursorAt(Point client) const;

  // The left button pressed at a screen point on the box, the pointer moved to a screen point,
  // the left button released. A release rounds a resizable box's size up to multiples of 8.
  void Press(Point screenPoint);
  void MoveTo(Point screenPoint);
  void Release();
  // The left button pressed off the box, on the screen: the box is drawn anew from there to
  // wherever the pointer goes (MoveTo, Release). A box drawn smaller than 32 x 32 grows to that
  // size at the release, inside the screen.
  void StartDrawing(Point screenPoint);
  // The lines of help the box shows while ShowHelpText, naming the keys and the menu.
  static QStringList HelpLines(bool resizable);

  // One drag step by the pointer's movement since the last step, applied to the handle index
  // (-1 moves the box). A box narrower or lower than 32 pixels or reaching past an edge of the
  // screen is refused as a whole; false then.
  bool DragTo(Point screenPoint, int index);

  // Draws the texts, the dotted border and the handles, and while a drag lasts the box's size
  // beside it; painter counts in screen pixels.
  void Paint(QPainter& painter, const QFont& font) const;

  // n rounded up to a multiple of 8: (n + 7) / 8 * 8.
  static int32_t RoundUp8(int32_t n);
  // The rectangle with its width and height rounded up so, Left and Top unchanged.
  static Rect RoundedSize(const Rect& rect);

 private:
  struct Corner {
    Rect Square;  // client coordinates
    Qt::CursorShape Cursor = Qt::ArrowCursor;
  };

  void LayoutCorners();

  Rect screen_;
  Rect rect_;
  bool dragging_ = false;
  bool drawing_ = false;  // the drag draws a new box from anchor_
  Point anchor_;
  Point lastMousePos_;
  int grabbedCorner_ = -1;
  QColor borderColor_ = Qt::red;
  std::array<Corner, 8> corners_;
  bool fixedSize_ = false;
  bool showHelpText_ = true;
};

}  // namespace qm
