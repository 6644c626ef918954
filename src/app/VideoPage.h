#pragma once

#include <QWidget>

#include <optional>
#include <vector>

#include "app/SettingsTable.h"
#include "export/ExportPlan.h"
#include "platform/audio/SoundEncoder.h"
#include "platform/audio/SoundInput.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace qm {

class SoundMeter;
struct DisplayItem;

// The "Video" page: the compressor and its "Set" button, the frame rate, the start delay,
// playing the result, the sound, and the copy made after each recording. It shows and edits; the
// window decides what a choice does. User-interface thread only.
class VideoPage : public QWidget {
  Q_OBJECT

 public:
  VideoPage();

  // The compressor list, its entries' codes as item data; current: the index shown.
  void SetCompressors(const std::vector<DisplayItem>& items, int current);
  int CompressorIndex() const;
  void SetCompressorIndex(int index);
  // The compressor code of the entry at index; 0 for the uncompressed entry.
  uint32_t CompressorCode(int index) const;
  int CompressorCount() const;
  // "Set" may be pressed: the current compressor has options and nothing locks them.
  void SetConfigurable(bool configurable);
  // What shapes a recording (compressor, rate, sound) stays as it is while one runs.
  void SetLocked(bool locked);
  bool IsLocked() const;
  // The rate the current compressor manages at the area's size, as measured; the page marks
  // it when it falls short of the frame rate ("about 0.4 fps at this size"). 0: not known.
  void ShowCompressorSpeed(double framesPerSecond);

  int FramesPerSecond() const;
  int StartDelaySeconds() const;
  bool PlayResult() const;
  SoundChoice Sound() const;
  SoundCodec SoundFormat() const;
  // The kind of the copy made after each recording; none for "nothing".
  std::optional<ExportKind> AlsoSaveAs() const;

  void Apply(const Settings& settings);
  void Fill(Settings& settings) const;

 signals:
  void CompressorChosen();
  void ConfigureClicked();

 private:
  void UpdateSpeedMark();

  QComboBox* compressors_ = nullptr;
  QLabel* speed_ = nullptr;  // the compressor's rate, where it cannot keep up
  double measured_ = 0;
  QPushButton* configure_ = nullptr;
  QSpinBox* fps_ = nullptr;
  QSpinBox* startDelay_ = nullptr;
  QCheckBox* playResult_ = nullptr;
  QGroupBox* sound_ = nullptr;        // "Record sound", checked when on
  QComboBox* soundSource_ = nullptr;  // "Desktop sound", "Microphone", "Both"
  QComboBox* soundCodec_ = nullptr;
  SoundMeter* soundMeter_ = nullptr;
  QComboBox* alsoSaveAs_ = nullptr;  // "nothing", "MP4", "WebM", "GIF"
};

}  // namespace qm
