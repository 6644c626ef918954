#include "video/AudioCodec.h"

#include <QStringList>

#include <exception>

#include "common/SilentAbort.h"
#include "common/UserMessages.h"

namespace qm {

TAudioCodec::TAudioCodec() : TAudioCodec(&TAcmDriver::Enumerate) {}

TAudioCodec::TAudioCodec(TEnumerator enumerate) : enumerate_(std::move(enumerate)) {
  ListDrivers();
}

TAudioCodec::~TAudioCodec() {
  CloseStream();
}

void TAudioCodec::CloseStream() {
  streamOpen_ = false;
}

QString TAudioCodec::FakeCodecWarning() {
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

bool TAudioCodec::ListDrivers() {
  drivers_.clear();
  try {
    enumerate_(
        [this](uint32_t driverId, uint32_t support) { return AddDriver(driverId, support); });
  } catch (const ESilentAbort&) {
    throw;
  } catch (const std::exception&) {
    ShowMessage(FakeCodecWarning());
  }
  return true;
}

bool TAudioCodec::AddDriver(uint32_t driverId, uint32_t support) {
  if (!(support & kAcmSupportCodec)) return true;
  TAcmDriver driver;
  if (!driver.Open(driverId)) return true;
  TAcmDriverDetails details;
  if (!driver.Details(details)) return true;

  drivers_.push_back(std::make_unique<TAudCodec>());
  TAudCodec& codec = *drivers_.back();
  codec.Details = details;
  codec.DriverId = driverId;
  codec.LongName = details.LongName.left(128);

  for (uint32_t index = 0; index < details.FormatTagCount; ++index) {
    TAudCodecKind& kind = codec.AddKind();
    TAcmFormatTagDetails tag;
    if (!driver.FormatTagDetails(index, tag)) break;
    kind.TagDetails = tag;
    kind.FormatTagName = tag.FormatTagName.left(48);
    kind.FormatTag = tag.FormatTag;
  }
  return true;
}

}  // namespace qm
