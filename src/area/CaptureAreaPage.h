#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "area/CaptureArea.h"
#include "area/WindowHost.h"
#include "common/Monitor.h"
#include "common/Rect.h"
#include "common/ScreenSource.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace qm {

// The "Capture area" page of the main window: the list of modes (cbArea), the "Set" button
// (sbRect), the "Show the cursor" and "Follow the cursor mode" boxes and the four labels of
// "Current capture area ". It owns the capture area record. Use on the user-interface thread.
class CaptureAreaPage : public QWidget {
  Q_OBJECT

 public:
  // What "Set" runs: SelectionScreen::Execute unless replaced.
  using SelectionRunner = std::function<bool(Rect& rect, uint64_t& window, bool objectMode,
                                             bool fixedSize, bool showOnly, QWidget* parent,
                                             const std::shared_ptr<ScreenSource>& source)>;
  // Opens the screen that "Set" shows, a window only in object mode: false when the desktop's
  // sharing did not start (the user has been told); else source is null for the X screen or
  // the desktop's shared monitor or window.
  using ScreenOpener = std::function<bool(bool window, std::shared_ptr<ScreenSource>& source)>;

  // The page starts with no mode selected (320 x 240 centred) until SetMode.
  explicit CaptureAreaPage(WindowHost& host, QWidget* parent = nullptr);
  ~CaptureAreaPage() override;

  const CaptureArea& Area() const { return area_; }
  void SetMode(int index);  // settings load; an out-of-range index leaves no selection
  // The area drawn for "Custom", kept across starts; an empty one is 320 x 240 centred.
  void SetCustomRect(const Rect& rect);
  const Rect& CustomRect() const { return customRect_; }
  // Chooses the monitor of that name; false, changing nothing, when the page lists none such.
  bool SetMonitor(const QString& name);
  // The monitors the list offers beside "Full screen": those of the X screen where it has more
  // than one, read when the page was made; none where the desktop's dialog chooses the
  // monitor (see PortalChoosesMonitor).
  const std::vector<Monitor>& Monitors() const { return monitors_; }
  // The pictures come through the desktop's screen-sharing portal, whose dialog chooses the
  // monitor: the list drops the monitors and the page says so.
  void PortalChoosesMonitor();
  static QString PortalMonitorNotice();
  void SetShowCursor(bool on);
  void SetFollowCursor(bool on);
  // Turns "Follow the cursor mode" off and unavailable, with the reason below it: the desktop
  // does not say where the cursor is.
  void FollowUnavailable(const QString& reason);

  // For a photo: in object mode, Rect is first refreshed from the picked window when it still
  // exists. Returns the rectangle to photograph.
  Rect RectForPhoto();

  // The "Set" button's work, as a click runs it.
  void SetClicked();

  // Replaces the selection screen that "Set" opens (tests use this to make it fail).
  void SetSelectionRunner(SelectionRunner runner) { runner_ = std::move(runner); }
  // Where the desktop shares its screen through its own dialog, "Set" reads the screen there.
  void SetScreenOpener(ScreenOpener opener) { opener_ = std::move(opener); }

  // The list items, in order; stored settings keep their meaning by index.
  static QStringList ModeNames();

  // The area of the list item index (-1 or out of range: none) on a screen of the given
  // bounds; "Selected object" gives the main window's bounds.
  static Rect ModeRect(int index, const Rect& screen, const Rect& mainWindow);

 signals:
  void AreaChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AreaChange();
  void FillList();
  void UpdateAreaInfo();
  Rect MainWindowBounds() const;

  WindowHost& host_;
  CaptureArea area_;
  SelectionRunner runner_;
  ScreenOpener opener_;
  QComboBox* cbArea_ = nullptr;
  QPushButton* sbRect_ = nullptr;
  QCheckBox* cbShowCursor_ = nullptr;
  QCheckBox* cbFollowMode_ = nullptr;
  QLabel* lbInfoLeft_ = nullptr;
  QLabel* lbInfoTop_ = nullptr;
  QLabel* lbInfoWidth_ = nullptr;
  QLabel* lbInfoHeight_ = nullptr;
  QLabel* lbFollowReason_ = nullptr;
  QLabel* lbPortalMonitor_ = nullptr;
  std::vector<Monitor> monitors_;
  Rect customRect_;
  bool mainShown_ = false;
  // "Selected object" was chosen before the main window first showed (a stored mode): the
  // area takes the window's real bounds once it is placed, until it first hides.
  bool boundsPending_ = false;
};

}  // namespace qm
