#include "app/PicturePage.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace qm {

PicturePage::PicturePage() {
  auto* layout = new QVBoxLayout(this);
  auto* typeGroup = new QGroupBox(QStringLiteral("Picture type "));
  pictureType_ = new QComboBox;
  pictureType_->addItems(
      {QStringLiteral("Gif image"), QStringLiteral("Jpg image"), QStringLiteral("BMP image")});
  (new QVBoxLayout(typeGroup))->addWidget(pictureType_);
  layout->addWidget(typeGroup);
  jpgQuality_ = new QGroupBox(QStringLiteral("Jpg quality "));
  auto* row = new QHBoxLayout(jpgQuality_);
  jpgSlider_ = new QSlider(Qt::Horizontal);
  jpgSlider_->setRange(0, kMaxJpegPosition);
  jpgSlider_->setTickInterval(1);
  jpgSlider_->setTickPosition(QSlider::TicksBelow);
  jpgSlider_->setValue(kDefaultJpegPosition);
  row->addWidget(new QLabel(QStringLiteral("Small, low")));
  row->addWidget(jpgSlider_, 1);
  row->addWidget(new QLabel(QStringLiteral("Large, good")));
  layout->addWidget(jpgQuality_);
  layout->addStretch();
  jpgQuality_->setEnabled(false);
  connect(pictureType_, &QComboBox::currentIndexChanged, this, &PicturePage::TypeChanged);
}

PictureType PicturePage::Type() const {
  return PictureType(std::max(0, pictureType_->currentIndex()));
}

int PicturePage::JpegPosition() const {
  return jpgSlider_->value();
}

void PicturePage::TypeChanged() {
  const bool jpeg = pictureType_->currentIndex() == int(PictureType::Jpeg);
  jpgQuality_->setEnabled(jpeg);
  QPalette palette = jpgQuality_->palette();
  palette.setColor(QPalette::WindowText, jpeg ? QColor(0, 0, 0) : QColor(0x80, 0x80, 0x80));
  jpgQuality_->setPalette(palette);
}

void PicturePage::Apply(const Settings& settings) {
  pictureType_->setCurrentIndex(settings.pictureType >= 0 &&
                                        settings.pictureType < pictureType_->count()
                                    ? settings.pictureType
                                    : -1);
  jpgSlider_->setValue(settings.jpgQuality);
  TypeChanged();
}

void PicturePage::Fill(Settings& settings) const {
  settings.pictureType = pictureType_->currentIndex();
  settings.jpgQuality = jpgSlider_->value();
}

}  // namespace qm
