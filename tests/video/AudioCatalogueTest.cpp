#include <gtest/gtest.h>

#include <stdexcept>

#include "support/RecordingMessages.h"
#include "video/AudioCatalogue.h"

namespace qm {
namespace {

uint32_t At16(const std::array<uint8_t, 128>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8;
}
uint32_t At32(const std::array<uint8_t, 128>& b, size_t at) {
  return At16(b, at) | At16(b, at + 2) << 16;
}

TEST(AudioCatalogue, ListsEncodersWithAWaveTagAsDriversWithTwelvePcmFormats) {
  test::RecordingMessages messages;
  AudioCatalogue catalogue;
  EXPECT_TRUE(messages.Messages().isEmpty());
  EXPECT_FALSE(catalogue.StreamOpen());
  ASSERT_FALSE(catalogue.Drivers().empty());

  bool pcm = false;
  for (const auto& driver : catalogue.Drivers()) {
    EXPECT_NE(driver->DriverId, 0u);
    EXPECT_FALSE(driver->LongName.isEmpty());
    ASSERT_EQ(driver->Tags.size(), size_t(driver->Details.FormatTagCount));
    for (const auto& kind : driver->Tags) {
      EXPECT_EQ(kind->Driver, driver.get());
      EXPECT_NE(kind->FormatTag, 0u);
      EXPECT_FALSE(kind->FormatTagName.isEmpty());
      EXPECT_EQ(kind->Formats.size(), 12u);
      pcm = pcm || kind->FormatTag == 1;
    }
  }
  EXPECT_TRUE(pcm) << "the plain PCM encoder has WAVE tag 1";
}

TEST(AudioCatalogue, PcmFormatsComeInTheirOrderWithFixedWidthNames) {
  AudioCatalogue catalogue;
  ASSERT_FALSE(catalogue.Drivers().empty());
  ASSERT_FALSE(catalogue.Drivers().front()->Tags.empty());
  const auto& details = catalogue.Drivers().front()->Tags.front()->Formats;
  const QStringList expected = {
      QStringLiteral("  48000, 16 bits Stereo"), QStringLiteral("  48000, 8  bits Stereo"),
      QStringLiteral("  48000, 16 bits Mono  "), QStringLiteral("  48000, 8  bits Mono  "),
      QStringLiteral("  44100, 16 bits Stereo"), QStringLiteral("  44100, 8  bits Stereo"),
      QStringLiteral("  44100, 16 bits Mono  "), QStringLiteral("  44100, 8  bits Mono  "),
      QStringLiteral("  22050, 16 bits Stereo"), QStringLiteral("  22050, 8  bits Stereo"),
      QStringLiteral("  22050, 16 bits Mono  "), QStringLiteral("  22050, 8  bits Mono  ")};
  ASSERT_EQ(details.size(), size_t(expected.size()));
  for (size_t i = 0; i < details.size(); ++i) {
    const AudioPcmFormat& d = *details[i];
    EXPECT_EQ(d.Name(), expected[qsizetype(i)]);
    const auto& f = d.Format();
    const uint32_t align = uint32_t(d.Channels()) * d.BitsPerSample() / 8;
    EXPECT_EQ(At16(f, 0), 1u);  // PCM
    EXPECT_EQ(At16(f, 2), d.Channels());
    EXPECT_EQ(At32(f, 4), d.SampleRate());
    EXPECT_EQ(At32(f, 8), align * d.SampleRate());
    EXPECT_EQ(At16(f, 12), align);
    EXPECT_EQ(At16(f, 14), d.BitsPerSample());
    EXPECT_EQ(At16(f, 16), 18u);
    for (size_t at = 18; at < f.size(); ++at) ASSERT_EQ(f[at], 0) << at;
  }
  // 44100 Hz, 16 bits, stereo: 4-byte blocks, 176400 bytes a second.
  EXPECT_EQ(At32(details[4]->Format(), 8), 176400u);
}

TEST(AudioCatalogue, MisbehavingDriverShowsTheWarningAndKeepsWhatWasGathered) {
  test::RecordingMessages messages;
  // The real drivers, with one that fails after the first two.
  AudioCatalogue catalogue([](const AudioEncoder::EnumCallback& callback) {
    int seen = 0;
    AudioEncoder::Enumerate([&](uint32_t id, uint32_t support) {
      if (++seen > 2) throw std::runtime_error("driver fault");
      return callback(id, support);
    });
  });
  EXPECT_EQ(catalogue.Drivers().size(), 2u);
  ASSERT_EQ(messages.Messages().size(), 1);
  const QString warning = messages.Messages().front();
  EXPECT_TRUE(warning.contains(QStringLiteral("driver fault"))) << warning.toStdString();
  // Every encoder the codec library offers is named, and no Windows control panel is.
  const QStringList names = AudioEncoder::Names();
  ASSERT_GT(names.size(), 2);
  const QString listed = warning.section(QStringLiteral("offers:\n"), 1).simplified();
  EXPECT_EQ(listed, names.join(QStringLiteral(", ")));
  EXPECT_FALSE(warning.contains(QStringLiteral("Control Panel")));
}

TEST(AudioCatalogue, DriversWithoutTheCodecFlagOrThatCannotOpenAreSkipped) {
  AudioCatalogue catalogue([](const AudioEncoder::EnumCallback& callback) {
    callback(1, 0);         // not a codec
    callback(0xFFFFFF, 1);  // no such driver
    callback(1, kAudioSupportCodec);
  });
  ASSERT_EQ(catalogue.Drivers().size(), 1u);
  EXPECT_EQ(catalogue.Drivers().front()->DriverId, 1u);
}

}  // namespace
}  // namespace qm
