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

QString AudioCatalogue::FakeCodecWarning() {
  const QStringList lines = {
      QStringLiteral("One or more ACM Audio codec installed is fake or wrongly coded."),
      QString(),
      QStringLiteral("Disabled it first in Start\\Settings\\Control Panel\\System\\Hardware\\"),
      QStringLiteral("Device manager\\Sound video and Game controllers\\Audio codec\\Properties\\"
                     "Properties."),
      QString(),
      QStringLiteral("then select \"Do not use this audio codec\""),
      QString(),
      QStringLiteral("To pin point, you may need to disable all of them, check using Tools\\List "
                     "audio codec, "),
      QStringLiteral("then enable it one by one to locate the bad one."),
      QString(),
      QStringLiteral("Good luck."),
  };
  return lines.join(QLatin1Char('\n'));
}

bool AudioCatalogue::ListDrivers() {
  drivers_.clear();
  try {
    enumerate_(
        [this](uint32_t driverId, uint32_t support) { return AddDriver(driverId, support); });
  } catch (const SilentAbort&) {
    throw;
  } catch (const std::exception&) {
    ShowMessage(FakeCodecWarning());
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
