#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace qm {

// Support flag of a driver that compresses or decompresses audio.
inline constexpr uint32_t kAudioSupportCodec = 1;

// What a driver tells of itself.
struct AudioEncoderDetails {
  uint32_t Support = 0;
  uint32_t FormatTagCount = 0;
  QString ShortName;
  QString LongName;
};

// What a driver tells of one of its format tags.
struct AudioFormatTagDetails {
  uint32_t FormatTagIndex = 0;
  uint32_t FormatTag = 0;  // the WAVE format tag
  uint32_t FormatSize = 0;
  uint32_t Support = 0;
  QString FormatTagName;
};

// The installed audio compression drivers: every audio encoder of the codec library that has
// a WAVE format tag acts as one driver with that tag. An opened driver is closed when the
// object goes. User-interface thread.
class AudioEncoder {
 public:
  // Called once per installed driver with its identifier and support flags; returning false
  // ends the enumeration. Exceptions thrown by the callback pass through.
  using EnumCallback = std::function<bool(uint32_t driverId, uint32_t support)>;
  static void Enumerate(const EnumCallback& callback);
  // The codec library's names of the installed drivers ("pcm_s16le", "mp3", ...), in the
  // order of their identifiers.
  static QStringList Names();

  AudioEncoder() = default;
  ~AudioEncoder() { Close(); }
  AudioEncoder(const AudioEncoder&) = delete;
  AudioEncoder& operator=(const AudioEncoder&) = delete;

  bool Open(uint32_t driverId);
  void Close();
  bool IsOpen() const { return codec_ != nullptr; }

  bool Details(AudioEncoderDetails& details) const;
  // Details of the format tag at index (0 .. FormatTagCount - 1).
  bool FormatTagDetails(uint32_t index, AudioFormatTagDetails& details) const;

 private:
  const void* codec_ = nullptr;  // the encoder behind the open driver
};

}  // namespace qm
