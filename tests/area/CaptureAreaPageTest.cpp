#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "area/CaptureAreaPage.h"
#include "capture/Grabber.h"
#include "common/SilentAbort.h"
#include "support/MonitorLayout.h"
#include "support/UiScript.h"
#include "support/XKeys.h"
#include "support/XScreen.h"

namespace qm {
namespace {

using test::UiScript;

TEST(CaptureAreaModes, RectanglesOnTwoScreens) {
  const Rect window{5, 6, 405, 306};
  const Rect wide{0, 0, 1024, 768}, narrow{0, 0, 600, 400};
  struct Row {
    int Mode;
    Rect OnWide, OnNarrow;
  } rows[] = {
      {0, {0, 0, 1024, 768}, {0, 0, 600, 400}},
      {1, {392, 304, 632, 464}, {180, 120, 420, 280}},
      {2, {352, 264, 672, 504}, {140, 80, 460, 320}},
      {3, {272, 204, 752, 564}, {60, 20, 540, 380}},  // 480 x 360
      {4, {192, 144, 832, 624}, {-20, -40, 620, 440}},
      {5, window, window},
      {6, {352, 264, 672, 504}, {140, 80, 460, 320}},
      {-1, {352, 264, 672, 504}, {140, 80, 460, 320}},
      {9, {352, 264, 672, 504}, {140, 80, 460, 320}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Mode);
    EXPECT_EQ(CaptureAreaPage::ModeRect(row.Mode, wide, window), row.OnWide);
    EXPECT_EQ(CaptureAreaPage::ModeRect(row.Mode, narrow, window), row.OnNarrow);
  }
}

class FakeHost : public WindowHost {
 public:
  void HideForSnapshot() override {
    ++hides;
    hidden = true;
  }
  void ShowAfterSnapshot() override { hidden = false; }
  int hides = 0;
  bool hidden = false;
};

class CaptureAreaPageTest : public testing::Test {
 protected:
  QString Label(const char* name) const {
    return page_.findChild<QLabel*>(QLatin1String(name))->text();
  }
  FakeHost host_;
  CaptureAreaPage page_{host_};
  const Rect screen_ = Grabber::ScreenBounds();
};

TEST_F(CaptureAreaPageTest, ModesSetTheAreaTheLabelsAndTheButton) {
  EXPECT_EQ(page_.Area().Mode, -1);  // nothing selected before the settings load
  auto* list = page_.findChild<QComboBox*>(QStringLiteral("cbArea"));
  auto* set = page_.findChild<QPushButton*>(QStringLiteral("sbRect"));
  ASSERT_EQ(list->count(), 7);
  EXPECT_EQ(list->itemText(3), QStringLiteral("480 x 360"));

  page_.SetMode(3);
  const Rect& r = page_.Area().Rect;
  EXPECT_EQ(r.Width(), 480);
  EXPECT_EQ(r.Height(), 360);
  EXPECT_EQ(Label("lbInfoLeft"), QStringLiteral("Left: %1").arg((screen_.Width() - 480) / 2));
  EXPECT_EQ(Label("lbInfoTop"), QStringLiteral("Top: %1").arg((screen_.Height() - 360) / 2));
  EXPECT_EQ(Label("lbInfoWidth"), QStringLiteral("Width: 480"));
  EXPECT_EQ(Label("lbInfoHeight"), QStringLiteral("Height: 360"));
  EXPECT_TRUE(set->isEnabled());

  page_.SetMode(0);
  EXPECT_EQ(page_.Area().Rect, screen_);
  EXPECT_FALSE(set->isEnabled());

  page_.SetFollowCursor(true);
  page_.SetMode(5);
  EXPECT_TRUE(page_.Area().ObjectMode);
  EXPECT_FALSE(page_.Area().EffectiveFollow());
  EXPECT_EQ(page_.Area().ObjectWindow, 0u);

  page_.SetMode(6);
  EXPECT_FALSE(page_.Area().FixedSize);
  EXPECT_TRUE(page_.Area().EffectiveFollow());

  page_.SetMode(7);
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_EQ(page_.Area().Rect.Width(), 320);
}

// A desktop that does not report the cursor: following is off, cannot be ticked, and the page
// says why.
TEST_F(CaptureAreaPageTest, FollowUnavailableSaysWhy) {
  page_.SetFollowCursor(true);
  page_.FollowUnavailable(QStringLiteral("no cursor report"));
  EXPECT_FALSE(page_.Area().FollowCursor);
  EXPECT_FALSE(page_.findChild<QCheckBox*>(QStringLiteral("cbFollowMode"))->isEnabled());
  EXPECT_EQ(Label("lbFollowReason"), QStringLiteral("no cursor report"));
  EXPECT_FALSE(page_.findChild<QLabel*>(QStringLiteral("lbFollowReason"))->isHidden());
}

// Where the desktop shares its screen, "Set" reads it there: "Selected object" takes the whole
// window the desktop's dialog gave, the other modes select on the shared picture; a refused
// dialog changes nothing.
TEST_F(CaptureAreaPageTest, SetOnASharedScreen) {
  struct SharedScreen : ScreenSource {
    bool Read(const std::function<void(const SourcePicture&)>&) override { return false; }
    Rect Bounds() override { return {0, 0, 200, 100}; }
  };
  const auto shared = std::make_shared<SharedScreen>();
  const Rect drawn{8, 8, 48, 40};
  struct Case {
    int Mode;
    bool Allowed;
    bool Shares;
    const char* Asked;  // window or screen, and what the selection screen read
    Rect After;         // empty: unchanged
    Rect Offered = {};  // where the selection started; empty: the area as it was
  };
  for (const Case& c :
       {Case{5, true, true, "window;", {0, 0, 200, 100}},
        // The 320 x 240 centred on the X screen starts centred on the shared picture.
        Case{6, true, true, "screen;shared;", drawn, {-60, -70, 260, 170}},
        Case{6, true, false, "screen;x;", drawn}, Case{5, false, true, "window;", {}}}) {
    SCOPED_TRACE(c.Mode);
    page_.SetMode(c.Mode);
    const Rect kept = page_.Area().Rect;
    std::string log;
    page_.SetScreenOpener([&](bool window, std::shared_ptr<ScreenSource>& source) {
      log += window ? "window;" : "screen;";
      if (c.Shares) source = shared;
      return c.Allowed;
    });
    page_.SetSelectionRunner([&](Rect& rect, uint64_t&, bool, bool, bool, QWidget*,
                                 const std::shared_ptr<ScreenSource>& source) {
      log += source == shared ? "shared;" : "x;";
      EXPECT_EQ(rect, c.Offered.Width() ? c.Offered : kept);
      rect = drawn;
      return true;
    });
    page_.SetClicked();
    EXPECT_EQ(log, c.Asked);
    EXPECT_EQ(page_.Area().Rect, c.After.Width() ? c.After : kept);
  }
}

TEST_F(CaptureAreaPageTest, SetAcceptedCancelledAndFailing) {
  page_.SetMode(6);
  const Rect before = page_.Area().Rect;

  // Cancelled: Escape and the question answered OK.
  UiScript cancel;
  cancel.When([] { return test::SelectionScreenReady(); }, [] { test::XKeys().Tap(XK_Escape); })
      .When([] { return qobject_cast<QMessageBox*>(test::ActiveModal()) != nullptr; },
            [] { test::XKeys().Tap(XK_Return); });
  cancel.Start();
  page_.SetClicked();
  cancel.RunOut();
  EXPECT_EQ(page_.Area().Rect, before);
  EXPECT_EQ(host_.hides, 1);
  EXPECT_FALSE(host_.hidden);

  // Accepted after a resize by the bottom-right handle.
  UiScript accept;
  accept.When([&] { return test::SelectionScreenReady() && host_.hidden; },
              [&] {
                test::XScreen x;
                test::XKeys keys;
                x.FakeMotion(before.Right - 4, before.Bottom - 4);
                x.PressButton(1);
                x.FakeMotion(before.Right + 9, before.Bottom + 6);
                x.ReleaseButton(1);
                keys.Tap(XK_Return);
              });
  accept.Start();
  page_.SetClicked();
  EXPECT_EQ(page_.Area().Rect,
            (Rect{before.Left, before.Top, before.Right + 16, before.Bottom + 16}));
  EXPECT_EQ(Label("lbInfoWidth"), QStringLiteral("Width: 336"));
  EXPECT_FALSE(host_.hidden);

  // A snapshot that fails (told, then silently aborted) still brings the window back.
  const Rect kept = page_.Area().Rect;
  page_.SetSelectionRunner(
      [](Rect&, uint64_t&, bool, bool, bool, QWidget*,
         const std::shared_ptr<ScreenSource>&) -> bool { throw SilentAbort(); });
  page_.SetClicked();
  EXPECT_EQ(page_.Area().Rect, kept);
  EXPECT_EQ(host_.hides, 3);
  EXPECT_FALSE(host_.hidden);
}

// The monitors stand beside "Full screen" by name and size and give their rectangles; where the
// desktop's dialog chooses the monitor they go, and the page says so.
TEST(CaptureAreaMonitors, ListedBesideTheFullScreenUntilThePortalChooses) {
  const std::vector<Monitor>& layout = test::TestLayouts()[1];
  const test::MonitorLayout set(layout);
  FakeHost host;
  CaptureAreaPage page(host);
  auto* list = page.findChild<QComboBox*>(QStringLiteral("cbArea"));
  auto* notice = page.findChild<QLabel*>(QStringLiteral("lbPortalMonitor"));
  ASSERT_EQ(list->count(), 10);
  EXPECT_EQ(list->itemText(0), QStringLiteral("Full screen"));
  EXPECT_EQ(list->itemText(3), QStringLiteral("qm-top (800 x 400)"));
  EXPECT_EQ(list->itemText(4), QStringLiteral("240 * 160"));
  for (const Monitor& monitor : layout) {
    ASSERT_TRUE(page.SetMonitor(monitor.Name));
    EXPECT_EQ(page.Area().Rect, monitor.Bounds);
    EXPECT_EQ(page.Area().Monitor, monitor.Name);
    EXPECT_TRUE(page.Area().FixedSize);
    EXPECT_FALSE(page.findChild<QPushButton*>(QStringLiteral("sbRect"))->isEnabled());
    EXPECT_EQ(page.findChild<QLabel*>(QStringLiteral("lbInfoLeft"))->text(),
              QStringLiteral("Left: %1").arg(monitor.Bounds.Left));
  }
  EXPECT_FALSE(page.SetMonitor(QStringLiteral("qm-gone")));
  page.SetMode(6);
  EXPECT_EQ(page.Area().Mode, 6);
  EXPECT_TRUE(page.Area().Monitor.isEmpty());
  EXPECT_TRUE(notice->isHidden());

  page.SetMonitor(QStringLiteral("qm-top"));
  page.PortalChoosesMonitor();
  EXPECT_EQ(list->count(), 7);
  EXPECT_EQ(page.Area().Mode, 0);
  EXPECT_FALSE(notice->isHidden());
  EXPECT_FALSE(page.SetMonitor(QStringLiteral("qm-top")));
}

}  // namespace
}  // namespace qm
