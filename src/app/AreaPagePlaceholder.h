#pragma once

// Stands in for the capture area page and the selection screen until src/area provides
// them, with the same interface; the fixed sizes and the full screen work, "Set" does not.

#include <QWidget>

#include <cstdint>

#include "common/Rect.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace qm {

struct CaptureArea {
  int Mode = 3;
  qm::Rect Rect;
  bool FixedSize = true;
  bool ObjectMode = false;
  uint64_t ObjectWindow = 0;
  bool FollowCursor = true;
  bool ShowCursor = true;
  bool EffectiveFollow() const { return FollowCursor && !ObjectMode; }
};

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual void HideForSnapshot() = 0;
  virtual void ShowAfterSnapshot() = 0;
};

class CaptureAreaPage : public QWidget {
  Q_OBJECT

 public:
  explicit CaptureAreaPage(WindowHost& host, QWidget* parent = nullptr);
  const CaptureArea& Area() const { return area_; }
  void SetMode(int index);
  void SetShowCursor(bool on);
  void SetFollowCursor(bool on);
  qm::Rect RectForPhoto() { return area_.Rect; }

 signals:
  void AreaChanged();

 private:
  void Apply();

  CaptureArea area_;
  QComboBox* list_;
  QCheckBox* follow_;
  QCheckBox* cursor_;
  QLabel* info_[4];
};

class SelectionScreen {
 public:
  static bool Execute(qm::Rect& rect, uint64_t& window, bool objectMode, bool fixedSize,
                      bool showOnly, QWidget* parent = nullptr);
};

}  // namespace qm
