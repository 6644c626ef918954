#pragma once

#include <QWidget>

#include "app/SettingsTable.h"
#include "pictures/PictureStore.h"

class QComboBox;
class QGroupBox;
class QSlider;

namespace qm {

// The "Picture" page: the photos' picture type and, for JPEG, its quality. User-interface
// thread only.
class PicturePage : public QWidget {
  Q_OBJECT

 public:
  PicturePage();

  PictureType Type() const;
  int JpegPosition() const;

  void Apply(const Settings& settings);
  void Fill(Settings& settings) const;

 private:
  // The quality applies to JPEG only, and looks so for the other types.
  void TypeChanged();

  QComboBox* pictureType_ = nullptr;
  QGroupBox* jpgQuality_ = nullptr;
  QSlider* jpgSlider_ = nullptr;
};

}  // namespace qm
