#pragma once

#include <QImage>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "area/SelectBox.h"
#include "area/WindowFinder.h"
#include "common/Rect.h"
#include "common/ScreenSource.h"

class QEventLoop;
class QMenu;

namespace qm {

class DesktopWindows;

// The full-screen selection screen: a still snapshot of the screen, taken when the screen is
// made, with the box that marks the capture area on it. A selection run lets the user move and
// resize the box, or draw a new one by a drag beside it (or, in object mode, lets it jump onto
// the window under the pointer), and accept (Enter, a double-click, the menu's OK) or cancel
// (Escape, the menu's Cancel); the help lines stay until the first drag; a flash run outlines a
// rectangle for a second and closes by itself. It works in device pixels, one screen pixel per
// snapshot pixel whatever the scale factor. Use on the user-interface thread.
class SelectionScreen : public QWidget {
 public:
  // Modal. rect is read and written back; window receives the picked window in object mode.
  // True when the user accepted (OK). False, without showing anything, when the screen could
  // not be copied (the user has been told why). With a source the snapshot is its newest
  // picture, and rect is in its pixels; object mode needs the X screen.
  static bool Execute(Rect& rect, uint64_t& window, bool objectMode, bool fixedSize, bool showOnly,
                      QWidget* parent = nullptr,
                      const std::shared_ptr<ScreenSource>& source = nullptr);

  // The texts of the question asked on Escape and of the help lines.
  static QString CancelQuestion();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  SelectionScreen(QWidget* parent, const std::shared_ptr<ScreenSource>& source);
  ~SelectionScreen() override;

  bool Run();
  void Finish(bool accepted);
  // The screen point under a position in the window's logical pixels.
  Point ScreenPoint(const QPointF& position);
  bool OnBox(Point screenPoint) const;
  void TrackWindow();
  void DrawFlashOutline();
  void UpdateBoxArea(const Rect& before);

  Rect screen_;
  Rect cover_;  // the X screen, which the window covers pixel for pixel
  std::unique_ptr<DesktopWindows> desktop_;  // places the window, reads the pointer
  QImage snapshot_;
  bool snapshotOk_ = false;
  Rect savedRect_;
  SelectBox box_;
  bool showOnly_ = false;
  bool objectMode_ = false;
  bool boxHidden_ = false;
  // In object mode, movements over the box follow windows only when a window was found as the
  // screen opened.
  bool trackOverBox_ = false;
  WindowFinder root_;
  WindowFinder::Node* currentWindow_ = nullptr;
  QTimer flashTimer_;
  QMenu* menu_ = nullptr;  // a child, owned by the widget
  // Keys whose press this screen received: only their release counts, so the release of a key
  // that answered the question box, or of one pressed before the screen opened, does nothing.
  QSet<quint32> pressed_;
  QEventLoop* loop_ = nullptr;
  bool done_ = false;
  bool accepted_ = false;
};

}  // namespace qm
