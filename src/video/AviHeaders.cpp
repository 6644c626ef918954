#include "video/AviHeaders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/FourCC.h"
#include "common/LittleEndian.h"
#include "platform/files/BinaryFile.h"

namespace qm {

namespace {

// Rounds to the nearest integer, ties to even (the default rounding mode); values outside
// the 32-bit range, and rates that are not positive, give the nearest representable value.
uint32_t RoundToU32(long double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0L) return 0xFFFFFFFFu;
  return uint32_t(std::nearbyint(value));
}

}  // namespace

void AviHeaders::Begin(const Stream& stream) {
  stream_ = stream;
  layout_ = AviLayout(uint32_t(stream.SoundFormat.size()));
  main_.fill(0);
  video_.fill(0);
  sound_.fill(0);
  const uint8_t* format = stream_.SoundFormat.data();
  soundBlock_ = HasSound() && GetLE16(format) == 1 ? GetLE16(format + 12) : 0;
}

void AviHeaders::Refresh(const Counts& counts) {
  using M = AviLayout::Main;
  using S = AviLayout::Stream;
  const long double rate = counts.FrameRate;
  uint8_t* avih = main_.data();
  PutLE32(avih + M::kMicroSecPerFrame, rate > 0 ? RoundToU32(1000000.0L / rate) : 0);
  PutLE32(avih + 4, 0);              // maximum bytes per second
  PutLE32(avih + 8, 0);              // padding granularity
  PutLE32(avih + M::kFlags, 0x110);  // has index, interleaved
  // An OpenDML file's main header counts the frames of the first part only; the stream header
  // and the extended header count them all.
  PutLE32(avih + M::kTotalFrames, counts.FirstPartFrames);
  PutLE32(avih + 20, 0);  // initial frames
  PutLE32(avih + M::kStreams, HasSound() ? 2 : 1);
  PutLE32(avih + 28, 0);  // suggested buffer size
  PutLE32(avih + 32, uint32_t(stream_.Width));
  PutLE32(avih + 36, uint32_t(stream_.Height));

  uint8_t* strh = video_.data();
  PutLE32(strh + S::kType, MakeFourCC("vids"));
  PutLE32(strh + S::kHandler, stream_.Handler);
  PutLE32(strh + S::kFlags, 0);
  PutLE16(strh + 12, 0);  // priority
  PutLE16(strh + 14, 0);  // language
  PutLE32(strh + 16, 0);  // initial frames
  PutLE32(strh + S::kScale, 10000);
  PutLE32(strh + S::kRate, RoundToU32(rate * 10000.0L));
  PutLE32(strh + 28, 0);  // start
  PutLE32(strh + S::kLength, counts.Frames);
  PutLE32(strh + S::kBufferSize, counts.LargestFrame);
  PutLE32(strh + 40, 10000);  // quality
  PutLE32(strh + S::kSampleSize, 0);
  PutLE16(strh + 48, 0);  // frame rectangle
  PutLE16(strh + 50, 0);
  PutLE16(strh + 52, uint32_t(stream_.Width));
  PutLE16(strh + 54, uint32_t(stream_.Height));
  if (!HasSound()) return;

  // PCM counts sample blocks; a compressed stream counts chunks, each one frame of the
  // encoder (nBlockAlign samples).
  const uint8_t* format = stream_.SoundFormat.data();
  uint8_t* auds = sound_.data();
  PutLE32(auds + S::kType, MakeFourCC("auds"));
  PutLE32(auds + S::kScale, soundBlock_ ? soundBlock_ : GetLE16(format + 12));
  PutLE32(auds + S::kRate, soundBlock_ ? GetLE32(format + 8) : GetLE32(format + 4));
  PutLE32(auds + S::kLength, uint32_t(std::min<uint64_t>(counts.SoundUnits, 0xFFFFFFFFu)));
  PutLE32(auds + S::kBufferSize, counts.LargestSound);
  PutLE32(auds + 40, 0xFFFFFFFFu);  // quality: the default
  PutLE32(auds + S::kSampleSize, soundBlock_);
}

std::vector<uint8_t> AviHeaders::Region() const {
  std::vector<uint8_t> region = layout_.Region();
  const auto put = [&](int64_t at, const uint8_t* data, size_t size) {
    std::memcpy(region.data() + at, data, size);
  };
  put(layout_.MainHeader(), main_.data(), main_.size());
  put(layout_.VideoHeader(), video_.data(), video_.size());
  put(layout_.VideoFormat(), stream_.VideoFormat.data(), stream_.VideoFormat.size());
  if (HasSound()) {
    put(layout_.SoundHeader(), sound_.data(), sound_.size());
    put(layout_.SoundFormat(), stream_.SoundFormat.data(), stream_.SoundFormat.size());
  }
  PutLE32(region.data() + layout_.ExtendedHeader(), AviLayout::kOnePartExtendedCount);
  return region;
}

bool AviHeaders::WriteMainHeader(BinaryFile& file) const {
  return file.WriteAt(layout_.MainHeader(), main_.data(), main_.size());
}

bool AviHeaders::WriteCounts(BinaryFile& file) const {
  return WriteMainHeader(file) &&
         file.WriteAt(layout_.VideoHeader(), video_.data(), video_.size()) &&
         (!HasSound() || file.WriteAt(layout_.SoundHeader(), sound_.data(), sound_.size()));
}

}  // namespace qm
