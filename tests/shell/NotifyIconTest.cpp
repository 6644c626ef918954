#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "shell/NotifyIcon.h"
#include "shell/TrayImages.h"
#include "shell/TrayMenu.h"
#include "support/TrayHost.h"
#include "support/XScreen.h"

namespace qm {
namespace {

// The bounds of our icon where the notification area docked it, as the X server sees them.
Rect DockedIcon(const test::XScreen& screen) {
  return screen.EmbeddedWindow(QCoreApplication::applicationName().toStdString());
}

// An icon animated as the application animates it, docked in a fresh notification area.
class NotifyIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(screen_.Ok());
    ASSERT_TRUE(tray_.Ok()) << "trayer did not start";
    icon_.SetImageList(TrayImages::Recording());
    icon_.SetAnimated(true);
    icon_.SetAnimateDelay(200);
    icon_.SetHint(QStringLiteral("Click mouse to show the menu"));
    icon_.SetPopupMenu(menu_.Menu());
    icon_.SetActive(true);
    ASSERT_TRUE(test::SpinUntil([this] { return DockedIcon(screen_).Width() > 0; }));
    docked_ = DockedIcon(screen_);
  }

  test::XScreen screen_;
  test::TrayHost tray_;
  TrayMenu menu_;
  NotifyIcon icon_;
  Rect docked_;
};

TEST_F(NotifyIconTest, DocksAndShowsEveryFrameOfItsList) {
  // Each of the eight frames looks different; the screen shows all of them in turn.
  std::set<std::vector<test::Colour>> frames;
  EXPECT_TRUE(test::SpinUntil([&] {
    frames.insert(screen_.Pixels(docked_));
    return frames.size() >= 8;
  })) << frames.size()
      << " different pictures seen";
}

TEST_F(NotifyIconTest, LeftAndRightButtonOpenTheMenuWithTheItemsOfTheStateMiddleDoesNot) {
  const struct {
    unsigned Button;
    bool Recording, Paused;
  } cases[] = {{1, false, false}, {3, false, false}, {1, true, false}, {3, true, false},
               {1, true, true},   {3, true, true},   {2, false, false}};
  int pressed = 0;
  QObject::connect(&icon_, &NotifyIcon::Pressed, [&] { ++pressed; });
  QMenu* const menu = menu_.Menu();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "button " << c.Button << " recording " << c.Recording
                                    << " paused " << c.Paused);
    menu_.SetState(c.Recording, c.Paused);
    // The panel reacts to a press only once it has seen the pointer arrive.
    screen_.MovePointer((docked_.Left + docked_.Right) / 2, (docked_.Top + docked_.Bottom) / 2);
    QThread::msleep(150);
    QCoreApplication::processEvents();
    const int before = pressed;
    {
      // Released on every way out: the server would keep a button down for later tests.
      screen_.PressButton(c.Button);
      const std::unique_ptr<test::XScreen, std::function<void(test::XScreen*)>> release(
          &screen_, [&c](test::XScreen* s) { s->ReleaseButton(c.Button); });
      ASSERT_TRUE(test::SpinUntil([&] {
        return pressed > before && (c.Button == 2 || QApplication::activePopupWidget() == menu);
      }));
    }
    QCoreApplication::processEvents();
    if (c.Button == 2) {
      EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
      continue;
    }
    ASSERT_EQ(QApplication::activePopupWidget(), menu);
    const TrayMenuEnabling e = TrayMenu::Enabling(c.Recording, c.Paused);
    std::vector<bool> enabled;
    for (const QAction* action : menu->actions()) {
      if (!action->isSeparator()) enabled.push_back(action->isEnabled());
    }
    EXPECT_EQ(enabled, std::vector<bool>({e.Record, e.Pause, e.Stop, e.ShowWindow, e.TakePhoto,
                                          true, true, true, e.Exit}));
    EXPECT_EQ(menu->actions()[0]->text(), e.RecordCaption);
    menu->close();
    ASSERT_TRUE(test::SpinUntil([] { return QApplication::activePopupWidget() == nullptr; }));
  }
}

}  // namespace
}  // namespace qm
