#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/Grabber.h"
#include "common/DIBBitmap.h"
#include "platform/screen/ScreenGrabber.h"
#include "platform/screen/XConnection.h"
#include "support/RecordingMessages.h"
#include "support/XScreen.h"

// Last, and with the macros that clash with the test framework and the toolkit removed.
#include <X11/Xlib.h>
#undef Bool
#undef None
#undef Status
#undef CursorShape

namespace qm {
namespace {

using test::Colour;
using test::XScreen;

constexpr Colour kCursorColour = 0xFF00FF;

// The test display's screen, read once; the cases need at least 1024 x 768.
const Rect& Screen() {
  static const Rect bounds = XScreen().Bounds();
  return bounds;
}

Colour PixelOf(const DIBBitmap& b, int32_t x, int32_t y) {
  const int bytes = DIBBitmap::BitsPerPixel(b.Format()) / 8;
  const uint8_t* p = b.ScanLine(y) + size_t(x) * bytes;
  return Colour(p[2]) << 16 | Colour(p[1]) << 8 | p[0];
}

// What a grab of area must show: the pattern where the area lies on the screen, black
// elsewhere, and the cursor box (in bitmap coordinates) where one is expected.
struct Expected {
  explicit Expected(Rect area, Rect cursor = Rect()) : Area(area), Cursor(cursor) {}
  Colour At(int32_t x, int32_t y) const {
    if (Cursor.Contains(Point{x, y})) return kCursorColour;
    const Point s{Area.Left + x, Area.Top + y};
    return Screen().Contains(s) ? XScreen::Pattern(s.X, s.Y) : 0;
  }
  Rect Area;
  Rect Cursor;  // empty: no cursor
};

// Every pixel compared; the first few differences are named.
::testing::AssertionResult Shows(const DIBBitmap& b, const Expected& e) {
  if (b.Width() != e.Area.Width() || b.Height() != e.Area.Height()) {
    return ::testing::AssertionFailure() << "bitmap is " << b.Width() << "x" << b.Height();
  }
  int wrong = 0;
  std::string first;
  for (int32_t y = 0; y < b.Height(); ++y) {
    for (int32_t x = 0; x < b.Width(); ++x) {
      const Colour got = PixelOf(b, x, y), want = e.At(x, y);
      if (got == want) continue;
      if (++wrong <= 5) {
        first += " (" + std::to_string(x) + "," + std::to_string(y) + ") got " +
                 std::to_string(got) + " want " + std::to_string(want) + ";";
      }
    }
  }
  if (wrong == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << wrong << " pixels differ:" << first;
}

class GrabberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(screen_.Ok()) << "no X display";
    ASSERT_GE(Screen().Width(), 1024);
    ASSERT_GE(Screen().Height(), 768);
    screen_.Show(screen_.Bounds());
    screen_.SetBoxCursor(6, 4, 2, 1, kCursorColour);
    screen_.MovePointer(1, 1);
  }

  // Grabs area (not following) into a fresh bitmap of its size.
  bool GrabArea(const Rect& area, DIBBitmap& b, bool showCursor = false,
                PixelFormat format = PixelFormat::Bits24) {
    b.SetFormat(area.Width(), area.Height(), format);
    Rect captured;
    const bool ok = lib_.Grab(b, Point{area.Left, area.Top}, captured, false, showCursor);
    if (ok) {
      EXPECT_EQ(captured, area);
    }
    return ok;
  }

  // Grabs a width x height area following the mouse at mouse; returns the captured rectangle.
  Rect Follow(Grabber& lib, Point mouse, int32_t width, int32_t height, DIBBitmap& b) {
    screen_.MovePointer(mouse.X, mouse.Y);
    b.SetFormat(width, height, PixelFormat::Bits24);
    Rect captured{-1, -1, -1, -1};
    EXPECT_TRUE(lib.Grab(b, Point{7, 9}, captured, true, false));
    return captured;
  }

  test::RecordingMessages messages_;
  XScreen screen_;
  Grabber lib_;
};

TEST_F(GrabberTest, ScreenRectIsTheWholeRootWindow) {
  EXPECT_EQ(lib_.ScreenRect(), screen_.Bounds());
  EXPECT_EQ(Grabber::ScreenBounds(), lib_.ScreenRect());
}

TEST_F(GrabberTest, CopiesAreasPixelForPixel) {
  DIBBitmap b;
  const int32_t W = Screen().Right, H = Screen().Bottom;
  const Rect areas[] = {
      Screen(),
      {13, 7, 13 + 241, 7 + 17},
      {500, 300, 821, 540},
      {1, 2, 2, 3},
      {W - 1, H - 1, W, H},
      {256, 512, 256 + 77, 512 + 3},
      {3, H - 80, 3 + 5, H},
  };
  for (const Rect& area : areas) {
    SCOPED_TRACE(std::to_string(area.Left) + "," + std::to_string(area.Top) + " " +
                 std::to_string(area.Width()) + "x" + std::to_string(area.Height()));
    ASSERT_TRUE(GrabArea(area, b));
    EXPECT_TRUE(Shows(b, Expected{area}));
  }
  // Back to an earlier size: the kept shared-memory image must follow.
  ASSERT_TRUE(GrabArea({13, 7, 13 + 241, 7 + 17}, b));
  EXPECT_TRUE(Shows(b, Expected{{13, 7, 13 + 241, 7 + 17}}));
  EXPECT_TRUE(messages_.Messages().isEmpty());
}

TEST_F(GrabberTest, PackedBitsStartWithTheBottomLeftPixelBlueFirst) {
  DIBBitmap b;
  b.SetFormat(16, 8, PixelFormat::Bits24);
  Rect captured;
  ASSERT_TRUE(lib_.Grab(b, Point{40, 300}, captured, false, false));
  EXPECT_TRUE(b.RefreshBits());
  const Colour bottomLeft = XScreen::Pattern(40, 307);
  EXPECT_EQ(b.Bits()[0], bottomLeft & 0xFF);
  EXPECT_EQ(b.Bits()[1], (bottomLeft >> 8) & 0xFF);
  EXPECT_EQ(b.Bits()[2], (bottomLeft >> 16) & 0xFF);
}

// Shared-memory segments this process created and still has (perms 1600: removed, kept only
// by their attachments).
int OwnSharedSegments() {
  std::ifstream table("/proc/sysvipc/shm");
  std::string line;
  std::getline(table, line);
  int count = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string key, id, perms, size, creator;
    fields >> key >> id >> perms >> size >> creator;
    count += creator == std::to_string(getpid());
  }
  return count;
}

TEST_F(GrabberTest, OneSharedSegmentPerGrabberWhateverTheSizes) {
  DIBBitmap b;
  for (int32_t side = 16; side <= 1024; side *= 2) {
    ASSERT_TRUE(GrabArea({0, 0, side, side / 2}, b));
    ASSERT_TRUE(GrabArea({0, 0, side / 2, side / 4}, b));
  }
  EXPECT_EQ(OwnSharedSegments(), 1);
  {
    Grabber second;
    Rect captured;
    ASSERT_TRUE(second.Grab(b, Point{0, 0}, captured, false, false));
    EXPECT_EQ(OwnSharedSegments(), 2);
  }
  EXPECT_EQ(OwnSharedSegments(), 1);
}

TEST_F(GrabberTest, ScreenChangesReachTheNextGrab) {
  DIBBitmap b;
  const Rect area{600, 400, 600 + 241, 400 + 100};
  ASSERT_TRUE(GrabArea(area, b));
  ASSERT_TRUE(Shows(b, Expected{area}));
  const auto inverse = [](int32_t x, int32_t y) { return ~XScreen::Pattern(x, y) & 0xFFFFFF; };
  screen_.Show({650, 420, 700, 450}, inverse);
  ASSERT_TRUE(GrabArea(area, b));
  int changed = 0;
  for (int32_t y = 0; y < area.Height(); ++y) {
    for (int32_t x = 0; x < area.Width(); ++x) {
      const Point s{area.Left + x, area.Top + y};
      const bool inside = Rect{650, 420, 700, 450}.Contains(s);
      const Colour want = inside ? inverse(s.X, s.Y) : XScreen::Pattern(s.X, s.Y);
      changed += PixelOf(b, x, y) != want;
    }
  }
  EXPECT_EQ(changed, 0);
}

TEST_F(GrabberTest, PartsOffTheScreenAreBlack) {
  DIBBitmap b;
  const Rect areas[] = {
      {-10, -5, 90, 45},         // above and left
      {1900, 1070, 1950, 1100},  // below and right
      {-3, 500, 1923, 501},      // wider than the screen
      {3000, 3000, 3010, 3010},  // wholly off
      {-400, -300, -79, -60},    // wholly off, odd width
  };
  for (const Rect& area : areas) {
    SCOPED_TRACE(std::to_string(area.Left) + "," + std::to_string(area.Top));
    ASSERT_TRUE(GrabArea(area, b));
    EXPECT_TRUE(Shows(b, Expected{area}));
  }
  EXPECT_TRUE(messages_.Messages().isEmpty());
}

TEST_F(GrabberTest, ThirtyTwoBitBitmapsAndSnapshot) {
  DIBBitmap b;
  ASSERT_TRUE(GrabArea({5, 6, 5 + 321, 6 + 9}, b, false, PixelFormat::Bits32));
  EXPECT_TRUE(Shows(b, Expected{{5, 6, 5 + 321, 6 + 9}}));

  screen_.MovePointer(100, 100);  // the snapshot leaves the cursor out
  const std::unique_ptr<DIBBitmap> shot = lib_.Snapshot();
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Format(), PixelFormat::Bits32);
  EXPECT_TRUE(Shows(*shot, Expected{Screen()}));
  int unusedSet = 0;  // the fourth byte of every pixel is 0, as in any 32-bit RGB bitmap
  for (uint32_t i = 3; i < shot->ImageSize(); i += 4) unusedSet += shot->Bits()[i] != 0;
  EXPECT_EQ(unusedSet, 0);
}

TEST_F(GrabberTest, XGetImageRoadGivesTheSamePixels) {
  ScreenGrabber plain(false);
  DIBBitmap b;
  const int32_t H = Screen().Bottom;
  for (const Rect& area : {Screen(), Rect{-7, H - 79, 234, H + 20}}) {
    b.SetFormat(area.Width(), area.Height(), PixelFormat::Bits24);
    const PixelTarget target{b.Bits(), b.Width(), b.Height(), b.Stride(), 24};
    ASSERT_EQ(plain.Grab(area.Left, area.Top, target), ScreenGrabber::GrabResult::Ok);
    EXPECT_FALSE(plain.UsedSharedMemory());
    EXPECT_TRUE(Shows(b, Expected{area}));
  }
  ScreenGrabber shared;
  b.SetFormat(8, 8, PixelFormat::Bits24);
  ASSERT_EQ(shared.Grab(0, 0, {b.Bits(), 8, 8, b.Stride(), 24}), ScreenGrabber::GrabResult::Ok);
  EXPECT_TRUE(shared.UsedSharedMemory()) << "the test server offers MIT-SHM";
}

// A partial copy that learns, once the boxes are copied, of drawing outside them copies all
// it knows again as one later moment: after drawing once, each strip as drawn; after drawing
// at every copy, the whole area at the third, where the last strip, drawn after it, is left
// for the next frame.
TEST_F(GrabberTest, DrawingOutsideTheCopiedBoxesIsCopiedInALaterRound) {
  const Rect changed{10, 10, 60, 40};
  const auto strip = [](int k) { return Rect{500, 400 + 40 * k, 560, 420 + 40 * k}; };
  const auto drawn = [](int k) -> test::PatternFunction {
    return [k](int32_t x, int32_t y) { return XScreen::Pattern(x + 31 * k, y * (k + 2)); };
  };
  for (const int drawings : {1, 4}) {
    SCOPED_TRACE(drawings);
    screen_.Show(Screen());
    DIBBitmap b;
    b.SetFormat(800, 600, PixelFormat::Bits32);
    const PixelTarget target{b.Bits(), b.Width(), b.Height(), b.Stride(), 32};
    ScreenGrabber grabber;
    ASSERT_EQ(grabber.Grab(0, 0, target), ScreenGrabber::GrabResult::Ok);
    screen_.Show(changed, drawn(9));
    std::vector<Rect> rects{changed};
    int calls = 0;
    ScreenGrabber::Partial partial{&rects, grabber.Layout(), [&] {
                                     if (calls == drawings) return;
                                     screen_.Show(strip(calls), drawn(calls));
                                     rects.push_back(strip(calls++));
                                   }};
    ASSERT_EQ(grabber.Grab(0, 0, target, partial), ScreenGrabber::GrabResult::Ok);
    std::vector<std::pair<Rect, test::PatternFunction>> expected{{changed, drawn(9)}};
    for (int k = 0; k < drawings; ++k)
      expected.emplace_back(strip(k), k < 3 ? drawn(k) : XScreen::Pattern);
    for (const auto& [area, colour] : expected)
      for (const Point p : {Point{area.Left, area.Top}, Point{area.Right - 1, area.Bottom - 1}})
        EXPECT_EQ(PixelOf(b, p.X, p.Y), colour(p.X, p.Y)) << p.X << "," << p.Y;
  }
}

TEST_F(GrabberTest, BitmapFormatsTheGrabberCannotWriteFailWithTheMessage) {
  DIBBitmap b;
  b.SetFormat(10, 10, PixelFormat::Bits8);
  b.Bits()[0] = 0x5A;
  Rect captured{1, 2, 3, 4};
  EXPECT_FALSE(lib_.Grab(b, Point{0, 0}, captured, false, true));
  EXPECT_EQ(lib_.Failure(), Grabber::CopyFailedMessage());
  EXPECT_EQ(captured, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(b.Bits()[0], 0x5A);
}

// Follow-the-cursor geometry on a 1024 x 768 screen rectangle.
TEST_F(GrabberTest, FollowCentresOnTheMouseAndClampsRightBottomFirst) {
  Grabber lib;
  lib.SetScreenRect(Rect{0, 0, 1024, 768});
  DIBBitmap b;
  EXPECT_EQ(Follow(lib, {10, 10}, 320, 240, b), (Rect{0, 0, 320, 240}));
  EXPECT_TRUE(Shows(b, Expected{{0, 0, 320, 240}}));
  EXPECT_EQ(Follow(lib, {1020, 760}, 320, 240, b), (Rect{704, 528, 1024, 768}));
  EXPECT_TRUE(Shows(b, Expected{{704, 528, 1024, 768}}));
  EXPECT_EQ(Follow(lib, {500, 400}, 320, 240, b), (Rect{340, 280, 660, 520}));
  EXPECT_TRUE(Shows(b, Expected{{340, 280, 660, 520}}));
  // Larger than the screen: sticks to the top-left corner.
  EXPECT_EQ(Follow(lib, {600, 500}, 1280, 1024, b), (Rect{0, 0, 1280, 1024}));
  // Odd width: 321 div 2 is 160.
  EXPECT_EQ(Follow(lib, {500, 400}, 321, 241, b).Left, 340);
  EXPECT_EQ(Follow(lib, {500, 400}, 321, 241, b).Top, 280);
}

TEST_F(GrabberTest, FollowStaysOnTheRealScreen) {
  DIBBitmap b;
  const int32_t W = Screen().Right, H = Screen().Bottom;
  EXPECT_EQ(Follow(lib_, {W - 1, H - 1}, 320, 240, b), (Rect{W - 320, H - 240, W, H}));
  EXPECT_TRUE(Shows(b, Expected{{W - 320, H - 240, W, H}}));
  EXPECT_EQ(Follow(lib_, {0, H - 1}, 241, 100, b), (Rect{0, H - 100, 241, H}));
}

TEST_F(GrabberTest, CursorIsDrawnAtItsHotSpot) {
  const Rect area{100, 100, 300, 250};
  DIBBitmap b;
  screen_.MovePointer(150, 130);
  const CursorState state = lib_.GetCursorState();
  EXPECT_NE(state.CursorHandle, 0u);
  EXPECT_EQ(state.CursorPos, (Point{150, 130}));

  ASSERT_TRUE(GrabArea(area, b, true));
  // Top-left corner of the 6 x 4 box at mouse - origin - hot spot (2, 1).
  EXPECT_TRUE(Shows(b, Expected{area, {48, 29, 54, 33}}));

  ASSERT_TRUE(GrabArea(area, b, false));
  EXPECT_TRUE(Shows(b, Expected{area}));
}

TEST_F(GrabberTest, CursorIsClippedAtTheBitmapEdges) {
  const Rect area{100, 100, 300, 250};
  DIBBitmap b;
  screen_.MovePointer(100, 100);  // hot spot on the top-left pixel: box starts at (-2, -1)
  ASSERT_TRUE(GrabArea(area, b, true));
  EXPECT_TRUE(Shows(b, Expected{area, {-2, -1, 4, 3}}));

  screen_.MovePointer(299, 249);  // the last pixel inside
  ASSERT_TRUE(GrabArea(area, b, true));
  EXPECT_TRUE(Shows(b, Expected{area, {197, 148, 203, 152}}));
}

TEST_F(GrabberTest, CursorOnTheRightOrBottomEdgeIsNotDrawn) {
  const Rect area{100, 100, 300, 250};
  DIBBitmap b;
  for (const Point mouse : {Point{300, 130}, Point{150, 250}, Point{99, 130}, Point{150, 99}}) {
    SCOPED_TRACE(std::to_string(mouse.X) + "," + std::to_string(mouse.Y));
    screen_.MovePointer(mouse.X, mouse.Y);
    ASSERT_TRUE(GrabArea(area, b, true));
    // Part of the box would fall inside the area, but the hot spot is outside.
    EXPECT_TRUE(Shows(b, Expected{area}));
  }
}

TEST_F(GrabberTest, FollowingWithTheCursorShownPutsItNearTheCentre) {
  DIBBitmap b;
  screen_.MovePointer(800, 600);
  b.SetFormat(321, 241, PixelFormat::Bits24);
  Rect captured;
  ASSERT_TRUE(lib_.Grab(b, Point{0, 0}, captured, true, true));
  EXPECT_EQ(captured, (Rect{640, 480, 961, 721}));
  EXPECT_TRUE(Shows(b, Expected{captured, {158, 119, 164, 123}}));
}

TEST_F(GrabberTest, ACursorChangeReachesEveryGrabber) {
  const Rect area{100, 100, 300, 250};
  DIBBitmap b;
  Grabber other;
  screen_.MovePointer(150, 130);
  ASSERT_TRUE(GrabArea(area, b, true));
  ASSERT_TRUE(Shows(b, Expected{area, {48, 29, 54, 33}}));

  // The other grabber is the first to see the change; ours must still notice it.
  screen_.SetBoxCursor(3, 5, 0, 4, kCursorColour);
  EXPECT_NE(other.GetCursorState().CursorHandle, 0u);
  ASSERT_TRUE(GrabArea(area, b, true));
  EXPECT_TRUE(Shows(b, Expected{area, {50, 26, 53, 31}}));
}

TEST_F(GrabberTest, XErrorsOnTheSharedConnectionBecomeFailedResults) {
  const std::shared_ptr<XConnection> connection = XConnection::Shared();
  ASSERT_TRUE(connection);
  {
    XConnection::Lock lock(*connection);
    Display* display = connection->Display();
    const uint64_t before = connection->ErrorCount();
    // Outside the root window: BadMatch, which Xlib's default handler would end us for.
    XImage* image =
        XGetImage(display, DefaultRootWindow(display), 5000, 5000, 4, 4, AllPlanes, ZPixmap);
    EXPECT_EQ(image, nullptr);
    XFreePixmap(display, 0x7fffffff);  // BadPixmap, reported asynchronously
    XSync(display, False);
    EXPECT_EQ(connection->ErrorCount(), before + 2);
  }
  DIBBitmap b;
  ASSERT_TRUE(GrabArea({0, 0, 64, 64}, b));
  EXPECT_TRUE(Shows(b, Expected{{0, 0, 64, 64}}));
}

TEST_F(GrabberTest, GrabberCreatedOnAnotherThreadWhileGrabbing) {
  std::atomic<bool> done{false};
  std::atomic<int> wrongBounds{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      Grabber lib;
      if (!(lib.ScreenRect() == Screen())) ++wrongBounds;
      lib.GetCursorState();
    }
    done = true;
  });
  DIBBitmap b;
  const Rect area{10, 20, 10 + 241, 20 + 50};
  int grabs = 0;
  while (!done || grabs < 5) {
    ASSERT_TRUE(GrabArea(area, b));
    ++grabs;
  }
  worker.join();
  EXPECT_EQ(wrongBounds, 0);
  EXPECT_TRUE(Shows(b, Expected{area}));
}

// A screen-cast stream whose one grey picture carries the cursor report it is given.
struct ReportedCursor : ScreenSource {
  // A 64 x 48 picture; the cursor known and visible, 2 x 2 white, shape 1.
  ReportedCursor(Point position, Point hotSpot)
      : picture{
            bits.data(), 64,
            48,          256,
            1,           true,
            {},          {true, true, position, hotSpot, 1, 2, 2, std::vector<uint8_t>(16, 255)}} {}
  bool Read(const std::function<void(const SourcePicture&)>& read) override {
    read(picture);
    return true;
  }
  Rect Bounds() override { return Rect{0, 0, 64, 48}; }
  std::vector<uint8_t> bits = std::vector<uint8_t>(64 * 48 * 4, 0x80);
  SourcePicture picture;
};

// Any cursor position or hot spot a stream reports is drawn, or followed, inside the picture.
TEST_F(GrabberTest, ExtremeCursorReportsStayInsideThePicture) {
  constexpr int32_t kMin = INT32_MIN, kMax = INT32_MAX;
  for (const auto& [position, hotSpot] :
       {std::pair{Point{5, 5}, Point{kMin, kMin}}, std::pair{Point{5, 5}, Point{kMax, kMax}},
        std::pair{Point{kMin, kMin}, Point{0, 0}},
        std::pair{Point{kMax, kMax}, Point{kMin, kMax}}}) {
    Grabber lib;
    lib.UseSource(std::make_shared<ReportedCursor>(position, hotSpot));
    for (const bool follow : {false, true}) {
      DIBBitmap b;
      b.SetFormat(16, 16, PixelFormat::Bits24);
      Rect captured;
      ASSERT_TRUE(lib.Grab(b, Point{0, 0}, captured, follow, true));
      EXPECT_TRUE(captured.Left >= 0 && captured.Right <= 64 && captured.Top >= 0 &&
                  captured.Bottom <= 48);
    }
  }
}

}  // namespace
}  // namespace qm
