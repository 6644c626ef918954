#include <gtest/gtest.h>

#include <memory>

#include "area/WindowFinder.h"
#include "support/WindowManager.h"
#include "support/XScreen.h"

namespace qm {
namespace {

using test::XScreen;

// The selection rules on a tree made by hand: margins of an eighth, descendants before
// their node, the earliest child, children searched outside their node.
TEST(WindowFinderRules, PicksByTheRules) {
  WindowFinder::Node top(1, Rect{0, 0, 160, 80}, true);  // margins 20 and 10
  top.AddChild(2, Rect{100, 0, 107, 7}, true);           // 7 wide: no margin
  top.AddChild(3, Rect{120, 40, 135, 55}, true);         // 15 wide: margin 1
  top.AddChild(4, Rect{30, 20, 70, 60}, true);           // overlaps 5, earlier
  top.AddChild(5, Rect{40, 30, 80, 70}, true);
  top.AddChild(6, Rect{200, 0, 240, 40}, true);  // outside its top-level
  top.AddChild(7, Rect{0, 0, 40, 40}, false);    // gone
  struct Row {
    Point At;
    uint64_t Want;
  } rows[] = {
      {{19, 40}, 0}, {{20, 40}, 1}, {{140, 40}, 0}, {{139, 40}, 1}, {{80, 9}, 0},   {{80, 10}, 1},
      {{100, 0}, 2}, {{106, 6}, 2}, {{120, 45}, 1}, {{121, 45}, 3}, {{133, 45}, 3}, {{134, 45}, 1},
      {{50, 40}, 4}, {{72, 60}, 5}, {{220, 20}, 6}, {{10, 10}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.At.X << "," << row.At.Y);
    const WindowFinder::Node* found = top.FindAt(row.At);
    EXPECT_EQ(found ? found->Handle() : 0, row.Want);
  }
  const WindowFinder::Node root(0, Rect{0, 0, 100, 100}, true);
  Rect r;
  EXPECT_FALSE(root.GetRect(r));
}

// The same finder on a real X server, with and without a window manager.
class WindowFinderOnX : public test::WithAndWithoutWindowManager {
 protected:
  static uint64_t Picked(WindowFinder& finder, Point at) {
    const WindowFinder::Node* found = finder.FindAt(at);
    return found ? found->Handle() : 0;
  }
  static Point Centre(const Rect& r) {
    return Point{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
  }
};

TEST_P(WindowFinderOnX, FindsTheWindowsAUserSees) {
  const unsigned long app = screen_.OpenWindow(Rect{200, 150, 600, 450}, 0x336699);
  const unsigned long first = screen_.OpenWindow(Rect{40, 40, 200, 140}, 0x00FF00, app);
  const unsigned long second = screen_.OpenWindow(Rect{100, 60, 260, 160}, 0x0000FF, app);
  const unsigned long hiddenChild =
      screen_.OpenWindow(Rect{280, 40, 380, 140}, 0xFFFF00, app, false);
  const unsigned long hidden = screen_.OpenWindow(Rect{700, 150, 900, 350}, 0xFF0000, 0, false);
  const unsigned long closing = screen_.OpenWindow(Rect{1000, 150, 1200, 350}, 0x00FFFF);
  const unsigned long menu = screen_.OpenWindow(Rect{450, 350, 550, 430}, 0xFF00FF, 0, true, true);

  WindowFinder finder;
  finder.Refresh();
  screen_.CloseWindow(closing);

  // The application window stands for its frame: it is a top-level node whose rectangle holds
  // the window (the frame's, decorations included, under a window manager).
  Rect frame;
  const WindowFinder::Node* top = nullptr;
  for (const auto& node : finder.Root().Children())
    if (node->Handle() == app) top = node.get();
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(top->GetRect(frame));
  const Rect inside = screen_.ScreenRectOf(app);
  EXPECT_TRUE(frame.Left <= inside.Left && frame.Top <= inside.Top && inside.Right <= frame.Right &&
              inside.Bottom <= frame.Bottom);
  if (!GetParam()) {
    EXPECT_EQ(frame, inside);
  }
  // Its descendants are its own windows only: none of a manager's decorations.
  EXPECT_EQ(top->Children().size(), 3u);

  const Rect app2 = screen_.ScreenRectOf(app);
  const int32_t dx = frame.Width() / 8;
  const int32_t lowY = app2.Top + 250;  // below the children
  struct Row {
    const char* What;
    Point At;
    unsigned long Want;
  } rows[] = {
      {"in the left margin", {frame.Left + dx - 1, lowY}, 0},
      {"past the margin", {frame.Left + dx, lowY}, app},
      {"two children: the topmost, listed first", {app2.Left + 150, app2.Top + 100}, second},
      {"one child", {app2.Left + 60, app2.Top + 60}, first},
      {"a hidden child", Centre(screen_.ScreenRectOf(hiddenChild)), hiddenChild},
      {"a hidden top-level window", {800, 250}, 0},
      {"a menu above the window", {500, 390}, menu},
      {"a window closed after the tree was built", {1100, 250}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    EXPECT_EQ(Picked(finder, row.At), row.Want);
  }
  (void)hidden;

  screen_.MovePointer(500, 390);
  const WindowFinder::Node* under = finder.FindUnderCursor();
  EXPECT_EQ(under ? under->Handle() : 0, menu);
}

INSTANTIATE_TEST_SUITE_P(WindowManager, WindowFinderOnX, testing::Bool(),
                         test::WindowManager::ParamName);

}  // namespace
}  // namespace qm
