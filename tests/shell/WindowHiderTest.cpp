#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "shell/NotifyIcon.h"
#include "shell/TrayImages.h"
#include "shell/WindowHider.h"
#include "support/TrayHost.h"
#include "support/XScreen.h"

namespace qm {
namespace {

class WindowHiderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    icon_.SetImageList(TrayImages::Still());
    icon_.SetAnimated(true);
    icon_.SetAnimateDelay(200);
    window_.resize(300, 200);
    window_.show();
    ASSERT_TRUE(test::SpinUntil([this] { return window_.isVisible(); }));
  }

  bool Docked() const {
    return screen_.EmbeddedWindow(QCoreApplication::applicationName().toStdString()).Width() > 0;
  }

  test::XScreen screen_;
  QWidget window_;
  NotifyIcon icon_;
  WindowHider hider_{&window_, &icon_};
};

TEST_F(WindowHiderTest, TheWindowComesBackWhenTheTrayGoesAway) {
  test::TrayHost tray;
  ASSERT_TRUE(tray.Ok());
  bool lost = false;
  QObject::connect(&hider_, &WindowHider::TrayLost, [&] { lost = true; });
  hider_.Hide();
  EXPECT_FALSE(window_.isVisible());
  ASSERT_TRUE(test::SpinUntil([this] { return Docked(); }));

  tray.Kill();
  ASSERT_TRUE(test::SpinUntil([this] { return window_.isVisible(); }));
  EXPECT_TRUE(lost);
  EXPECT_FALSE(hider_.Hidden());
  EXPECT_FALSE(icon_.Active());
}

TEST_F(WindowHiderTest, WithoutATrayTheWindowIsMinimisedAndALaterTrayGetsTheIcon) {
  ASSERT_TRUE(test::SpinUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }));
  // Restored from the taskbar, the window is no longer hidden (closing it must ask again).
  hider_.Hide();
  EXPECT_TRUE(window_.isMinimized());
  window_.setWindowState(Qt::WindowNoState);
  EXPECT_TRUE(test::SpinUntil([this] { return !hider_.Hidden(); }));
  EXPECT_FALSE(icon_.Active());

  hider_.Hide();
  test::SpinUntil([] { return false; }, 1);  // the minimising has settled
  EXPECT_TRUE(hider_.Hidden());
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(window_.isMinimized());

  test::TrayHost tray;
  ASSERT_TRUE(tray.Ok());
  EXPECT_TRUE(test::SpinUntil([this] { return Docked(); }));
  hider_.Show();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(window_.isMinimized());
  EXPECT_FALSE(icon_.Active());
}

}  // namespace
}  // namespace qm
