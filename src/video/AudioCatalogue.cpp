#include "video/AudioCatalogue.h"

#include <QStringList>

#include <exception>

#include "common/SilentAbort.h"
#include "common/UserMessages.h"

namespace qm {

AudioCatalogue::AudioCatalogue() : AudioCatalogue(&AudioEncoder::Enumerate) {}

AudioCatalogue::AudioCatalogue(Enumerator enumerate) : enumerate_(std::move(enumerate)) {
  ListDrivers();
}

AudioCatalogue::~AudioCatalogue() {
  CloseStream();
}

void AudioCatalogue::CloseStream() {
  streamOpen_ = false;
}

QString AudioCatalogue::FaultWarning(const QString& reason) {
  // The names, several to a line, so that the message box stays narrow.
  constexpr qsizetype kLineLength = 72;
  QStringList lines = {
      QStringLiteral("An audio encoder failed while the list of audio encoders was built: %1.")
          .arg(reason),
      QStringLiteral("The list keeps the encoders gathered before the failure. Recordings carry "
                     "no sound, so they are not affected."),
      QString(),
      QStringLiteral("The audio encoders this FFmpeg build offers:"),
  };
  QString line;
  for (const QString& name : AudioEncoder::Names()) {
    if (!line.isEmpty() && line.size() + 2 + name.size() > kLineLength) {
      lines << line + QLatin1Char(',');
      line.clear();
    }
    line += (line.isEmpty() ? QString() : QStringLiteral(", ")) + name;
  }
  lines << (line.isEmpty() ? QStringLiteral("(none)") : line);
  return lines.join(QLatin1Char('\n'));
}

bool AudioCatalogue::ListDrivers() {
  drivers_.clear();
  try {
    enumerate_(
        [this](uint32_t driverId, uint32_t support) { return AddDriver(driverId, support); });
  } catch (const SilentAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessage(FaultWarning(QString::fromLocal8Bit(e.what())));
  }
  return true;
}

bool AudioCatalogue::AddDriver(uint32_t driverId, uint32_t support) {
  if (!(support & kAudioSupportCodec)) return true;
  AudioEncoder driver;
  if (!driver.Open(driverId)) return true;
  AudioEncoderDetails details;
  if (!driver.Details(details)) return true;

  drivers_.push_back(std::make_unique<AudioDriverEntry>());
  AudioDriverEntry& codec = *drivers_.back();
  codec.Details = details;
  codec.DriverId = driverId;
  codec.LongName = details.LongName.left(128);

  for (uint32_t index = 0; index < details.FormatTagCount; ++index) {
    AudioFormatTag& kind = codec.AddTag();
    AudioFormatTagDetails tag;
    if (!driver.FormatTagDetails(index, tag)) break;
    kind.TagDetails = tag;
    kind.FormatTagName = tag.FormatTagName.left(48);
    kind.FormatTag = tag.FormatTag;
  }
  return true;
}

}  // namespace qm
