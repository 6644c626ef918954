#pragma once

#include <QDialog>

#include "platform/codecs/EncoderTypes.h"

class QSpinBox;

namespace qm {

// The configuration dialog of a catalogue compressor: quality and key-frame interval.
// Compressors that choose their quality themselves (the lossless ones among them) offer only
// the key-frame interval; only lossless ones say so. User-interface thread only.
class EncoderConfigDialog : public QDialog {
  Q_OBJECT

 public:
  EncoderConfigDialog(const QString& title, const EncoderSettings& settings, bool hasQuality,
                      bool lossless, QWidget* parent = nullptr);

  // The settings as the dialog shows them now.
  EncoderSettings Settings() const;

 private:
  QSpinBox* seQuality;
  QSpinBox* seKeyFrames;
};

}  // namespace qm
