#pragma once

#include <cstdint>
#include <memory>

#include "common/Rect.h"
#include "platform/screen/PixelTarget.h"

namespace qm {

class XConnection;

// Copies areas of the X screen (the root window) into pixel blocks. Uses a MIT-SHM image
// that is kept until the size of the copied area changes, or plain XGetImage where the server
// has no shared memory for us. The part of an area outside the screen comes out black.
// One grabber is used by one thread at a time; several grabbers may run on several threads.
class ScreenGrabber {
 public:
  enum class GrabResult { Ok, NoScreen, Failed };

  // useSharedMemory false always takes the XGetImage road.
  explicit ScreenGrabber(bool useSharedMemory = true);
  ~ScreenGrabber();
  ScreenGrabber(const ScreenGrabber&) = delete;
  ScreenGrabber& operator=(const ScreenGrabber&) = delete;

  // (0, 0, root width, root height) now; an empty rectangle when there is no display.
  static Rect ScreenBounds();

  // Copies target.Width x target.Height pixels of the screen from (x, y) into the target,
  // which must be 24 or 32 bits per pixel. NoScreen when no display can be reached (the
  // target is unchanged), Failed when the server refused the copy or the target's format is
  // not one we write.
  GrabResult Grab(int32_t x, int32_t y, const PixelTarget& target);

  // Whether the last successful copy came through shared memory.
  bool UsedSharedMemory() const { return usedShm_; }

 private:
  struct ShmImage;

  bool GrabShm(int32_t x, int32_t y, int32_t width, int32_t height);
  bool GrabPlain(int32_t x, int32_t y, int32_t width, int32_t height, const PixelTarget& target,
                 int32_t dx, int32_t dy);
  bool RefreshScreenSize();

  const bool allowShm_;
  bool usedShm_ = false;
  bool shmBroken_ = false;
  std::shared_ptr<XConnection> connection_;
  std::unique_ptr<ShmImage> shm_;
  Rect screen_;
};

}  // namespace qm
