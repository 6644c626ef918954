#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "area/SelectionScreen.h"
#include "support/ToolRun.h"
#include "support/TrayHost.h"
#include "support/UiScript.h"
#include "support/WindowManager.h"
#include "support/XKeys.h"
#include "support/XScreen.h"

namespace qm {
namespace {

using test::UiScript;
using test::XScreen;

constexpr test::Colour kRed = 0xFF0000;

int Count(const std::vector<test::Colour>& pixels, test::Colour colour) {
  return int(std::count(pixels.begin(), pixels.end(), colour));
}

bool ScreenReady() {
  return test::SelectionScreenReady();
}
bool QuestionShown() {
  return qobject_cast<QMessageBox*>(test::ActiveModal()) != nullptr;
}

// The question has gone and the screen has the keyboard again, or has closed.
bool BackFromQuestion() {
  return !QuestionShown() && (ScreenReady() || !QApplication::activeModalWidget());
}

// Selection runs driven as a user drives them, with and without a window manager.
class SelectionScreenTest : public test::WithAndWithoutWindowManager {
 protected:
  test::XKeys keys_;
};

TEST_P(SelectionScreenTest, DragsAreAppliedRefusedAndRounded) {
  struct Row {
    const char* What;
    Rect Start;
    bool FixedSize;
    Point Grab;  // in the box
    Point Move;  // from the grab point, in one step
    Rect Want;   // what Execute answers
  } rows[] = {
      {"resized to 333 x 250",
       {400, 300, 720, 540},
       false,
       {316, 236},
       {13, 10},
       {400, 300, 736, 556}},
      {"by the top-left handle",
       {400, 300, 720, 540},
       false,
       {2, 2},
       {-16, -8},
       {384, 292, 720, 540}},
      {"narrower than 32",
       {400, 300, 720, 540},
       false,
       {316, 236},
       {-300, 0},
       {400, 300, 720, 540}},
      {"past the left edge", {10, 300, 330, 540}, false, {160, 120}, {-20, 0}, {10, 300, 330, 540}},
      {"fixed: a handle moves it",
       {400, 300, 720, 540},
       true,
       {316, 236},
       {13, 10},
       {413, 310, 733, 550}},
      {"fixed, starting off the screen",
       {-20, 300, 300, 540},
       true,
       {160, 120},
       {10, 0},
       {-20, 300, 300, 540}},
      {"500 x 401 accepted", {100, 100, 600, 501}, false, {250, 200}, {0, 0}, {100, 100, 604, 508}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    const Point at{row.Start.Left + row.Grab.X, row.Start.Top + row.Grab.Y};
    // A window manager may hold the pointer's events until it has seen a click (to focus the
    // window), so keys could overtake them: each step waits for the button state it caused.
    const auto buttonDown = [] { return QGuiApplication::mouseButtons() & Qt::LeftButton; };
    UiScript script;
    if (row.Move.X || row.Move.Y) {
      script
          .When(ScreenReady,
                [&] {
                  screen_.FakeMotion(at.X, at.Y);
                  screen_.PressButton(1);
                })
          .When(buttonDown,
                [&] {
                  screen_.FakeMotion(at.X + row.Move.X, at.Y + row.Move.Y);
                  screen_.ReleaseButton(1);
                })
          .When([&] { return !buttonDown(); });
    }
    script.When(ScreenReady, [&] { keys_.Tap(XK_Return); });
    script.Start();
    Rect rect = row.Start;
    uint64_t window = 0;
    EXPECT_TRUE(SelectionScreen::Execute(rect, window, false, row.FixedSize, false));
    EXPECT_EQ(rect, row.Want);
    EXPECT_TRUE(script.Done());
  }
}

TEST_P(SelectionScreenTest, KeysActOnlyOnReleasesOfTheirOwnPresses) {
  // Each key is pressed and released apart, as a user does: the release of the key that
  // answered the question comes when the screen has the keyboard again.
  const auto press = [this](unsigned long key) { return [=, this] { keys_.Press({key}); }; };
  const auto release = [this](unsigned long key) { return [=, this] { keys_.Release({key}); }; };
  const Rect start{400, 300, 720, 540};
  struct Row {
    const char* What;
    bool HoldEscape;
    unsigned long Answer;  // the key answering the question
    bool Accepted;
  } rows[] = {
      {"Escape, then OK by Enter: cancelled", false, XK_Return, false},
      {"Escape, then Cancel by Escape: goes on, Enter accepts", false, XK_Escape, true},
      {"Escape held down asks once", true, XK_Escape, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    UiScript script;
    script.When(ScreenReady, press(XK_Escape));
    // A held key repeats (here from 300 ms on, every 50 ms); the question comes with the
    // real release only.
    if (row.HoldEscape) {
      keys_.SetAutoRepeat(300, 50);
      script.Pause(1000).Then([] { EXPECT_FALSE(QuestionShown()); });
    }
    script.Then(release(XK_Escape))
        .When(QuestionShown, press(row.Answer))
        .When(BackFromQuestion, release(row.Answer));
    if (row.Accepted) script.Pause(300).Then([this] { keys_.Tap(XK_Return); });
    script.Start();
    Rect rect = start;
    uint64_t window = 0;
    EXPECT_EQ(SelectionScreen::Execute(rect, window, false, false, false), row.Accepted);
    EXPECT_EQ(rect, start);
    script.RunOut();  // no key is left down
  }
}

// The help lines stand on a plate until the first drag, however long that takes; a drag beside
// the box draws a new one, its size showing beside it meanwhile; Shift and Ctrl let go alone do
// not accept.
TEST_P(SelectionScreenTest, HelpStaysUntilADragDrawsANewBoxWithItsSize) {
  const Rect box{400, 300, 720, 540};
  const Rect help{box.Left + 20, box.Top + 10, box.Right - 4, box.Top + 45};
  const Rect sizeBeside{305, 255, 400, 270};  // beside the corner the drag has reached
  const auto down = [] { return bool(QGuiApplication::mouseButtons() & Qt::LeftButton); };
  UiScript script;
  script.When(ScreenReady)
      .Pause(5500)
      .Then([&] {
        EXPECT_GT(Count(screen_.Pixels(help), kRed), 100);
        EXPECT_GT(Count(screen_.Pixels(help), 0xFFFFFF), 1000);
        screen_.FakeMotion(100, 100);
        screen_.PressButton(1);
        screen_.FakeMotion(300, 250);
      })
      .When([&] { return down() && Count(screen_.Pixels(sizeBeside), kRed) > 20; },
            [&] { screen_.ReleaseButton(1); })
      .When([&] { return !down(); }, [&] { keys_.Tap(XK_Shift_L); })
      .Then([&] { keys_.Tap(XK_Control_L); })
      .Pause(300)
      .Then([&] {
        EXPECT_TRUE(ScreenReady());
        EXPECT_EQ(Count(screen_.Pixels(help), kRed), 0);
        keys_.Tap(XK_Return);
      });
  script.Start();
  Rect rect = box;
  uint64_t window = 0;
  EXPECT_TRUE(SelectionScreen::Execute(rect, window, false, false, false));
  EXPECT_EQ(rect, (Rect{100, 100, 308, 252}));  // 201 x 151 rounded up
  EXPECT_TRUE(script.Done());
}

// The flash only shows: the window the user types into keeps the keyboard.
TEST_P(SelectionScreenTest, FlashRunOutlinesIgnoresInputAndCloses) {
  QWidget typing;
  typing.setGeometry(40, 40, 200, 100);
  typing.show();
  typing.activateWindow();
  ASSERT_TRUE(test::SpinUntil([&] { return QApplication::activeWindow() == &typing; }));
  const unsigned long focus = screen_.FocusWindow();
  const Rect area{300, 200, 500, 360};
  UiScript script;
  // The top edge: red dots with white gaps, half and half.
  const Rect edge{area.Left, area.Top, area.Right, area.Top + 1};
  script.When([&] { return Count(screen_.Pixels(edge), kRed) >= 90; },
              [&] {
                EXPECT_GE(Count(screen_.Pixels(edge), 0xFFFFFF), 90);
                EXPECT_EQ(screen_.FocusWindow(), focus);
                EXPECT_EQ(QApplication::activeWindow(), &typing);
                keys_.Tap(XK_Return);
                screen_.FakeClick(400, 280);
                screen_.FakeClick(400, 280);
              });
  script.Start();
  Rect rect = area;
  uint64_t window = 0;
  EXPECT_FALSE(SelectionScreen::Execute(rect, window, false, true, true));
  EXPECT_EQ(rect, area);
  EXPECT_EQ(window, 0u);
  EXPECT_TRUE(script.Done());
}

TEST_P(SelectionScreenTest, ObjectModeFollowsTheWindowUnderThePointer) {
  const unsigned long first = screen_.OpenWindow(Rect{100, 100, 500, 400}, 0x336699);
  const unsigned long second = screen_.OpenWindow(Rect{700, 200, 957, 401}, 0x993366);
  const Rect secondInside = screen_.ScreenRectOf(second);
  screen_.MovePointer(300, 250);
  UiScript script;
  script.When(ScreenReady, [&] {
    screen_.FakeMotion((secondInside.Left + secondInside.Right) / 2,
                       (secondInside.Top + secondInside.Bottom) / 2);
  });
  script.Pause(200).Then([&] { keys_.Tap(XK_Return); });
  script.Start();
  Rect rect{0, 0, 320, 240};
  uint64_t window = 0;
  ASSERT_TRUE(SelectionScreen::Execute(rect, window, true, false, false));
  EXPECT_EQ(window, second);
  // The frame's rectangle (the window itself without a manager), rounded up.
  EXPECT_LE(rect.Left, secondInside.Left);
  EXPECT_LE(rect.Top, secondInside.Top);
  EXPECT_GE(rect.Right, secondInside.Right);
  EXPECT_GE(rect.Bottom, secondInside.Bottom);
  EXPECT_EQ(rect.Width() % 8, 0);
  EXPECT_EQ(rect.Height() % 8, 0);
  if (!GetParam()) {
    EXPECT_EQ(rect, (Rect{700, 200, 964, 408}));
  }
  (void)first;
}

// With two monitors on the X screen the selection screen covers all of it pixel for pixel at
// any scale: the snapshot lies on the screen's own pixels, and a drag moves the box by the
// pointer's device pixels. The toolkit reads the monitors and the scale when it starts, so a
// second run of this test program does the selecting at each.
TEST(SelectionScreenMonitors, CoversTheXScreenPixelForPixelAtEachScale) {
  if (!qEnvironmentVariableIsSet("QM_TEST_TWO_MONITORS")) {
    const auto xrandr = [](const QStringList& args) {
      return test::RunProcess(QStringLiteral("xrandr"), args, 30000).ExitCode == 0;
    };
    XScreen x;
    const Rect b = x.Bounds();
    const QString half = QStringLiteral("%1/254x%2/286").arg(b.Width() / 2).arg(b.Height());
    ASSERT_TRUE(xrandr({"--setmonitor", "qm-left", half + "+0+0", "screen"}));
    ASSERT_TRUE(xrandr(
        {"--setmonitor", "qm-right", half + QStringLiteral("+%1+0").arg(b.Width() / 2), "none"}));
    qputenv("QM_TEST_TWO_MONITORS", "1");
    // Xft.dpi is the X server's resource (144: scale 1.5), the others the toolkit's variables.
    for (const auto& [variable, value] :
         {std::pair{"QT_SCALE_FACTOR", "1"}, std::pair{"QT_SCALE_FACTOR", "1.5"},
          std::pair{"QT_SCALE_FACTOR", "2"},
          std::pair{"QT_SCREEN_SCALE_FACTORS", "qm-left=2;qm-right=1"},
          std::pair{"Xft.dpi", "144"}}) {
      SCOPED_TRACE(value);
      const bool resource = std::string(variable) == "Xft.dpi";
      if (resource) {
        ASSERT_EQ(test::RunProcess(
                      "sh", {"-c", QStringLiteral("echo 'Xft.dpi: %1' | xrdb -merge").arg(value)})
                      .ExitCode,
                  0);
      }
      EXPECT_EQ(test::RunThisProgramAgain(resource ? "QM_UNUSED" : variable, value,
                                          "SelectionScreenMonitors.*"),
                0);
      if (resource) test::RunProcess("xrdb", {"-remove"});
    }
    qunsetenv("QM_TEST_TWO_MONITORS");
    xrandr({"--delmonitor", "qm-left"});
    xrandr({"--delmonitor", "qm-right"});
    return;
  }
  ASSERT_GE(QGuiApplication::screens().size(), 2);
  XScreen x;
  const Rect b = x.Bounds();
  x.Show(b);
  // The screen's corners and the monitors' border, away from the box.
  const Rect strips[] = {{0, 0, 64, 32},
                         {b.Right - 64, b.Bottom - 32, b.Right, b.Bottom},
                         {b.Width() / 2 - 32, b.Bottom - 64, b.Width() / 2 + 32, b.Bottom}};
  const auto down = [] { return bool(QGuiApplication::mouseButtons() & Qt::LeftButton); };
  Rect covered;
  int wrong = 0;
  UiScript script;
  script.When(ScreenReady)
      .Pause(300)
      .Then([&] {
        covered = x.ScreenRectOf(test::ActiveWindowNamed("SelectionScreen")->winId());
        for (const Rect& strip : strips) {
          const std::vector<test::Colour> pixels = x.Pixels(strip);
          for (int32_t i = 0; i < int32_t(pixels.size()); ++i)
            wrong += pixels[size_t(i)] != XScreen::Pattern(strip.Left + i % strip.Width(),
                                                           strip.Top + i / strip.Width());
        }
        x.FakeMotion(260, 220);
        x.PressButton(1);
      })
      .When(down,
            [&] {
              x.FakeMotion(300, 251);
              x.ReleaseButton(1);
            })
      .When([&] { return !down(); }, [&] { test::XKeys().Tap(XK_Return); });
  script.Start();
  Rect rect{100, 100, 420, 340};
  uint64_t window = 0;
  EXPECT_TRUE(SelectionScreen::Execute(rect, window, false, true, false));
  EXPECT_EQ(covered, b);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(rect, (Rect{140, 131, 460, 371}));

  // The flash outlines the area on its own device pixels: red dots along its top edge.
  const Rect area{1000, 200, 1200, 360};
  int dots = 0;
  UiScript flash;
  flash.When(
      [&] {
        return Count(x.Pixels({area.Left, area.Top, area.Right, area.Top + 1}), kRed) >= 90;
      },
      [&] {
        dots = Count(x.Pixels({area.Left, area.Top - 1, area.Right, area.Top}), kRed);
      });
  flash.Start();
  rect = area;
  SelectionScreen::Execute(rect, window, false, true, true);
  EXPECT_TRUE(flash.Done());
  EXPECT_EQ(dots, 0);  // nothing a row above
}

INSTANTIATE_TEST_SUITE_P(WindowManager, SelectionScreenTest, testing::Bool(),
                         test::WindowManager::ParamName);

}  // namespace
}  // namespace qm
