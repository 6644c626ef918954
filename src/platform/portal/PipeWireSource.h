#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "common/ScreenSource.h"

namespace qm {

// One screen-cast stream read through PipeWire: an input stream on the node the desktop named,
// over the connection the desktop handed out. It takes shared-memory buffers only, in the usual
// 32-bit layouts (BGRx, BGRA, RGBx, RGBA, xRGB, xBGR), and reads the header, crop, cursor and
// damage reports that come with them. PipeWire's own thread keeps the newest buffer of the
// blue-green-red layouts out of the stream and lets readers see it in place under the lock,
// giving the one before back; pictures of the other layouts it copies (their cropped part, in
// blue-green-red order) into a spare block and swaps that in. It does nothing else with them.
class PipeWireSource : public ScreenSource {
 public:
  // Takes the descriptor. Start connects; until then and after a failed start the source has
  // ended.
  explicit PipeWireSource(int fd, uint32_t node);
  ~PipeWireSource() override;
  PipeWireSource(const PipeWireSource&) = delete;
  PipeWireSource& operator=(const PipeWireSource&) = delete;

  // Connects and waits (at most timeoutMs) for the first picture. False when none came.
  bool Start(int timeoutMs);
  // Ends the sharing as seen by readers: the desktop closed the session.
  void End();

  bool Read(const std::function<void(const SourcePicture&)>& read) override;
  Rect Bounds() override;
  // PipeWire went away (its connection broke) before the desktop ended the sharing.
  bool Lost() override;

  struct Stream;

 private:
  friend struct Stream;
  std::unique_ptr<Stream> stream_;

  std::mutex mutex_;
  std::condition_variable arrived_;
  bool ended_ = false;
  bool lost_ = false;
  SourcePicture picture_;  // Bits points into the buffer kept, or into front_
  std::vector<uint8_t> front_;
  std::vector<uint8_t> back_;  // PipeWire's thread only
  uint64_t cursorShape_ = 0;
};

}  // namespace qm
