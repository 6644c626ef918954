#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qm {

// The codec of a recording's sound stream.
enum class SoundCodec { Pcm, Mp3 };

// Turns 16-bit stereo 48 kHz samples into the chunks of a recording's sound stream: PCM as it
// is, or MP3 frames from the codec library's LAME encoder. One recording; the writer's thread.
class SoundEncoder {
 public:
  // One chunk: a whole MP3 frame, or PCM sample blocks.
  using ChunkWriter = std::function<bool(const uint8_t* data, uint32_t size)>;

  SoundEncoder();
  ~SoundEncoder();
  SoundEncoder(const SoundEncoder&) = delete;
  SoundEncoder& operator=(const SoundEncoder&) = delete;

  // False when the codec is not there (the codec library was built without LAME).
  bool Open(SoundCodec codec);
  void Close();
  bool IsOpen() const { return open_; }
  // The stream's WAVEFORMATEX (rest zero), for the file's header.
  const std::array<uint8_t, 128>& Format() const { return format_; }
  // Encodes frames interleaved stereo samples and hands out the chunks that are complete.
  // False when a chunk could not be written.
  bool Encode(const int16_t* samples, size_t frames, const ChunkWriter& write);
  // Hands out what the encoder still holds, at the end of the recording.
  bool Flush(const ChunkWriter& write);

 private:
  bool Drain(const ChunkWriter& write);
  bool SendFrame(const int16_t* samples, int frames, const ChunkWriter& write);

  bool open_ = false;
  SoundCodec codec_ = SoundCodec::Pcm;
  std::array<uint8_t, 128> format_{};
  struct Codec;
  std::unique_ptr<Codec> encoder_;
  std::vector<int16_t> pending_;  // samples short of a whole encoder frame
};

}  // namespace qm
