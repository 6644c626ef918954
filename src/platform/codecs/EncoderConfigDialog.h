#pragma once

#include <QDialog>

#include "platform/codecs/EncoderTypes.h"

class QSpinBox;

namespace qm {

// The configuration dialog of a catalogue compressor: quality and key-frame interval.
// Lossless compressors offer only the key-frame interval. User-interface thread only.
class EncoderConfigDialog : public QDialog {
  Q_OBJECT

 public:
  EncoderConfigDialog(const QString& title, const EncoderSettings& settings, bool hasQuality,
                      QWidget* parent = nullptr);

  // The settings as the dialog shows them now.
  EncoderSettings Settings() const;

 private:
  QSpinBox* seQuality;
  QSpinBox* seKeyFrames;
};

}  // namespace qm
