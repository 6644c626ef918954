#pragma once

#include <QDialog>

#include "platform/codecs/VfwTypes.h"

class QSpinBox;

namespace qm {

// The configuration dialog of a catalogue compressor: quality and key-frame interval.
// Lossless compressors offer only the key-frame interval. User-interface thread only.
class TVfwConfigDialog : public QDialog {
  Q_OBJECT

 public:
  TVfwConfigDialog(const QString& title, const TVfwSettings& settings, bool hasQuality,
                   QWidget* parent = nullptr);

  // The settings as the dialog shows them now.
  TVfwSettings Settings() const;

 private:
  QSpinBox* seQuality;
  QSpinBox* seKeyFrames;
};

}  // namespace qm
