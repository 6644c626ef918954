#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

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

  // For a target that still holds an earlier copy: only the pixels inside the rectangles
  // (of the target, counted from its top left) and around them are written; the others keep
  // what they hold. Taken only through shared memory and when Layout() is still Since, which
  // says the pixels left alone would come out as they were, given that nothing was drawn on
  // them; otherwise every pixel is written. Fetched runs once the screen is copied and before
  // the target is written, and may add rectangles (what was drawn since they were gathered).
  struct Partial {
    std::vector<Rect>* Rects = nullptr;
    uint64_t Since = 0;
    std::function<void()> Fetched;
  };
  GrabResult Grab(int32_t x, int32_t y, const PixelTarget& target, const Partial& partial);
  // Changes whenever a copy is laid out into its target differently from the copy before
  // (another place, size or road), so a row's bytes depend on the screen's pixels alone
  // while it stays.
  uint64_t Layout() const { return layout_; }

  // Whether the last successful copy came through shared memory.
  bool UsedSharedMemory() const { return usedShm_; }

 private:
  struct ShmImage;

  bool GrabShm(int32_t x, int32_t y, int32_t width, int32_t height);
  // Copies only boxes around the partial copy's rectangles (of the target, which lies at
  // (x, y) on the screen; onScreen is its part on the screen) through the segment into the
  // target. False when that is not the cheaper way or the server refused: nothing is written.
  bool GrabShmChanges(int32_t x, int32_t y, const Rect& onScreen, const Partial& partial,
                      const PixelTarget& target);
  // Asks the server for the boxes (of an area at (x, y)) into the segment, one after another.
  bool FetchBoxes(int32_t x, int32_t y, const std::vector<Rect>& boxes);
  // Bytes a row of a box of that width takes in the segment.
  size_t BoxRowBytes(int32_t width) const;
  bool GrabPlain(int32_t x, int32_t y, int32_t width, int32_t height, const PixelTarget& target,
                 int32_t dx, int32_t dy);
  bool RefreshScreenSize();

  const bool allowShm_;
  bool usedShm_ = false;
  bool shmBroken_ = false;
  // How a copy lands in its target; a new one counts up layout_.
  struct Placement {
    int Road = 0;  // 0 none on the screen, 1 shared memory, 2 plain
    int32_t Dx = 0, Dy = 0, Width = 0, Height = 0;
    int32_t TargetWidth = 0, TargetHeight = 0;
    uint32_t Stride = 0;
    int BitsPerPixel = 0;
    bool operator==(const Placement&) const = default;
  };
  // Whether the copy laid out as placed lands as the one before.
  bool SamePlacement(const Placement& placed);

  Placement placed_;
  uint64_t layout_ = 1;
  std::shared_ptr<XConnection> connection_;
  std::unique_ptr<ShmImage> shm_;
  Rect screen_;
};

}  // namespace qm
