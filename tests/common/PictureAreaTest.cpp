#include <gtest/gtest.h>

#include "common/PictureArea.h"

namespace qm {
namespace {

// Areas of a 1920 x 1080 screen placed on a 640 x 480 shared picture.
TEST(PictureArea, AreasOfTheScreenArePlacedOnTheSharedPicture) {
  const Rect screen{0, 0, 1920, 1080}, picture{0, 0, 640, 480};
  struct Case {
    const char* Name;
    Rect Area, Picture, Placed;
  };
  const Case cases[] = {
      {"the whole screen", screen, picture, picture},
      {"a size still centred", {800, 420, 1120, 660}, picture, {160, 120, 480, 360}},
      {"a size centred, larger than the picture",
       {160, 60, 1760, 1020},
       picture,
       {-480, -240, 1120, 720}},
      {"inside stays", {10, 20, 330, 260}, picture, {10, 20, 330, 260}},
      {"beyond the right and bottom", {600, 400, 700, 500}, picture, {540, 380, 640, 480}},
      {"before the left and top", {-30, -5, 70, 95}, picture, {0, 0, 100, 100}},
      {"wider than the picture", {1000, 10, 1800, 110}, picture, {-80, 10, 720, 110}},
      {"a picture with an origin", {0, 0, 50, 50}, {100, 100, 300, 300}, {100, 100, 150, 150}},
      {"no picture yet", {600, 400, 700, 500}, {}, {600, 400, 700, 500}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const Rect placed = AreaOnPicture(c.Area, screen, c.Picture);
    EXPECT_EQ(placed, c.Placed) << placed.Left << "," << placed.Top << " " << placed.Width() << "x"
                                << placed.Height();
  }
}

}  // namespace
}  // namespace qm
