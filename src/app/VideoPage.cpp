#include "app/VideoPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/ClampingSpinBox.h"
#include "app/SoundMeter.h"
#include "video/AviCompress.h"

namespace qm {

VideoPage::VideoPage() {
  auto* layout = new QVBoxLayout(this);
  auto* compression = new QGroupBox(QStringLiteral("Select video compression"));
  auto* column = new QVBoxLayout(compression);
  auto* row = new QHBoxLayout;
  compressors_ = new QComboBox;
  compressors_->setObjectName(QStringLiteral("cbCompressor"));
  configure_ = new QPushButton(QStringLiteral("Set"));
  row->addWidget(compressors_, 1);
  row->addWidget(configure_);
  column->addLayout(row);
  speed_ = new QLabel;
  speed_->setObjectName(QStringLiteral("lbCompressorSpeed"));
  QPalette red = speed_->palette();
  red.setColor(QPalette::WindowText, Qt::darkRed);
  speed_->setPalette(red);
  speed_->hide();
  column->addWidget(speed_);
  layout->addWidget(compression);
  auto* rates = new QHBoxLayout;
  auto* fpsGroup = new QGroupBox(QStringLiteral("Frames per second:"));
  fps_ = ClampingSpinBox::Make("seFPS", 1, 32, 15);
  (new QVBoxLayout(fpsGroup))->addWidget(fps_);
  auto* delayGroup = new QGroupBox(QStringLiteral("Delay before capture"));
  startDelay_ = ClampingSpinBox::Make("seStartDelay", 0, 60, 3);
  (new QVBoxLayout(delayGroup))->addWidget(startDelay_);
  rates->addWidget(fpsGroup);
  rates->addWidget(delayGroup);
  layout->addLayout(rates);
  playResult_ = new QCheckBox(QStringLiteral("Play the video result when ready"));
  playResult_->setChecked(true);
  layout->addWidget(playResult_);
  sound_ = new QGroupBox(QStringLiteral("Record sound"));
  sound_->setObjectName(QStringLiteral("gbRecordSound"));
  sound_->setCheckable(true);
  sound_->setChecked(false);
  auto* soundRow = new QHBoxLayout(sound_);
  soundSource_ = new QComboBox;
  soundSource_->setObjectName(QStringLiteral("cbSoundSource"));
  soundSource_->addItems(
      {QStringLiteral("Desktop sound"), QStringLiteral("Microphone"), QStringLiteral("Both")});
  soundCodec_ = new QComboBox;
  soundCodec_->setObjectName(QStringLiteral("cbSoundCodec"));
  soundCodec_->addItems({QStringLiteral("PCM"), QStringLiteral("MP3")});
  soundMeter_ = new SoundMeter;
  soundRow->addWidget(soundSource_);
  soundRow->addWidget(soundCodec_);
  soundRow->addWidget(soundMeter_, 1);
  layout->addWidget(sound_);
  const auto soundChanged = [this] { soundMeter_->SetChoice(Sound()); };
  connect(sound_, &QGroupBox::toggled, this, soundChanged);
  connect(soundSource_, &QComboBox::currentIndexChanged, this, soundChanged);
  auto* copyRow = new QHBoxLayout;
  alsoSaveAs_ = new QComboBox;
  alsoSaveAs_->setObjectName(QStringLiteral("cbAlsoSaveAs"));
  alsoSaveAs_->addItems({QStringLiteral("nothing"), QStringLiteral("MP4"), QStringLiteral("WebM"),
                         QStringLiteral("GIF")});
  copyRow->addWidget(new QLabel(QStringLiteral("After each recording also save as:")));
  copyRow->addWidget(alsoSaveAs_);
  copyRow->addStretch();
  layout->addLayout(copyRow);
  layout->addStretch();
  connect(compressors_, &QComboBox::currentIndexChanged, this, &VideoPage::CompressorChosen);
  connect(configure_, &QPushButton::clicked, this, &VideoPage::ConfigureClicked);
  connect(fps_, &QSpinBox::valueChanged, this, &VideoPage::UpdateSpeedMark);
}

void VideoPage::ShowCompressorSpeed(double framesPerSecond) {
  measured_ = framesPerSecond;
  UpdateSpeedMark();
}

void VideoPage::UpdateSpeedMark() {
  // The text tells what was measured; it shows where the compressor keeps less than nine
  // tenths of the rate, below which a recording keeps few of its frames.
  speed_->setText(measured_ > 0 ? QStringLiteral("about %1 fps at this size")
                                      .arg(measured_, 0, 'f', measured_ < 10 ? 1 : 0)
                                : QString());
  speed_->setVisible(measured_ > 0 && measured_ < 0.9 * fps_->value());
}

void VideoPage::SetCompressors(const std::vector<DisplayItem>& items, int current) {
  const QSignalBlocker block(compressors_);
  compressors_->clear();
  for (const DisplayItem& item : items)
    compressors_->addItem(item.Text, item.Entry ? qulonglong(item.Entry->Handler) : 0ull);
  compressors_->setCurrentIndex(current);
}

int VideoPage::CompressorIndex() const {
  return compressors_->currentIndex();
}

void VideoPage::SetCompressorIndex(int index) {
  compressors_->setCurrentIndex(index);
}

uint32_t VideoPage::CompressorCode(int index) const {
  return uint32_t(compressors_->itemData(index).toULongLong());
}

int VideoPage::CompressorCount() const {
  return compressors_->count();
}

void VideoPage::SetConfigurable(bool configurable) {
  configure_->setEnabled(configurable);
}

void VideoPage::SetLocked(bool locked) {
  compressors_->setEnabled(!locked);
  fps_->setEnabled(!locked);
  soundSource_->setEnabled(!locked);
  soundCodec_->setEnabled(!locked);
}

bool VideoPage::IsLocked() const {
  return !compressors_->isEnabled();
}

int VideoPage::FramesPerSecond() const {
  return fps_->value();
}

int VideoPage::StartDelaySeconds() const {
  return startDelay_->value();
}

bool VideoPage::PlayResult() const {
  return playResult_->isChecked();
}

SoundChoice VideoPage::Sound() const {
  if (!sound_->isChecked()) return SoundChoice::Off;
  switch (soundSource_->currentIndex()) {
    case 1:
      return SoundChoice::Microphone;
    case 2:
      return SoundChoice::Both;
    default:
      return SoundChoice::Desktop;
  }
}

SoundCodec VideoPage::SoundFormat() const {
  return soundCodec_->currentIndex() == 1 ? SoundCodec::Mp3 : SoundCodec::Pcm;
}

std::optional<ExportKind> VideoPage::AlsoSaveAs() const {
  switch (alsoSaveAs_->currentIndex()) {
    case 1:
      return ExportKind::Mp4;
    case 2:
      return ExportKind::WebM;
    case 3:
      return ExportKind::Gif;
    default:
      return std::nullopt;
  }
}

void VideoPage::Apply(const Settings& settings) {
  fps_->setValue(settings.fps);
  startDelay_->setValue(settings.startDelay);
  playResult_->setChecked(settings.playResult);
  sound_->setChecked(settings.recordSound > 0);
  soundSource_->setCurrentIndex(std::clamp(settings.recordSound, 1, 3) - 1);
  soundCodec_->setCurrentIndex(std::clamp(settings.soundCodec, 0, 1));
  alsoSaveAs_->setCurrentIndex(std::clamp(settings.alsoSaveAs, 0, 3));
}

void VideoPage::Fill(Settings& settings) const {
  settings.videoCompression = compressors_->currentIndex();
  settings.fps = fps_->value();
  settings.startDelay = startDelay_->value();
  settings.playResult = playResult_->isChecked();
  settings.recordSound = sound_->isChecked() ? soundSource_->currentIndex() + 1 : 0;
  settings.soundCodec = soundCodec_->currentIndex();
  settings.alsoSaveAs = alsoSaveAs_->currentIndex();
}

}  // namespace qm
