#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm {

// Tells key frames from the others by decoding a stream's frames in order with the machine's
// decoder for the stream's code: what an index needs when the encoder's own flags are lost.
// Uncompressed frames ("DIB " or 0) are all key frames. One thread at a time.
class KeyFrameReader {
 public:
  // handler: the stream's four-character code; format: its 40-byte BITMAPINFOHEADER.
  KeyFrameReader(uint32_t handler, const uint8_t* format);
  ~KeyFrameReader();
  KeyFrameReader(const KeyFrameReader&) = delete;
  KeyFrameReader& operator=(const KeyFrameReader&) = delete;

  // A decoder for the code exists (always for uncompressed frames).
  bool Usable() const;
  // The next frame of the stream, in file order: true when it is a key frame. A frame the
  // decoder refuses is not a key frame.
  bool IsKeyFrame(const uint8_t* data, size_t size);

 private:
  struct Decoder;
  bool uncompressed_ = false;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace qm
