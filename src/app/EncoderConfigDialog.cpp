#include "app/EncoderConfigDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qm {

EncoderConfigDialog::EncoderConfigDialog(const QString& title, const EncoderSettings& settings,
                                         bool hasQuality, bool lossless, QWidget* parent)
    : QDialog(parent), seQuality(new QSpinBox(this)), seKeyFrames(new QSpinBox(this)) {
  setWindowTitle(title);
  setObjectName(QStringLiteral("EncoderConfigDialog"));

  seQuality->setObjectName(QStringLiteral("seQuality"));
  seQuality->setRange(0, 100);
  seQuality->setSuffix(QStringLiteral(" %"));
  seQuality->setValue(settings.Quality);
  seQuality->setEnabled(hasQuality);

  seKeyFrames->setObjectName(QStringLiteral("seKeyFrames"));
  seKeyFrames->setRange(0, 10000);
  // 0 follows the recording: one key frame per second.
  seKeyFrames->setSpecialValueText(QStringLiteral("One per second"));
  seKeyFrames->setValue(settings.KeyFrameInterval);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Quality:"), seQuality);
  form->addRow(QStringLiteral("Key frame every (frames):"), seKeyFrames);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  if (lossless) {
    auto* note = new QLabel(QStringLiteral("Lossless: every pixel is kept."), this);
    note->setObjectName(QStringLiteral("lbLossless"));
    layout->addWidget(note);
  }
  layout->addWidget(buttons);
  // A fixed dialog border, as large as its contents ask.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

EncoderSettings EncoderConfigDialog::Settings() const {
  EncoderSettings settings;
  settings.Quality = seQuality->value();
  settings.KeyFrameInterval = seKeyFrames->value();
  return settings;
}

}  // namespace qm
