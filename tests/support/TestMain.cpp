#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

#ifdef QM_TEST_APPLICATION
#include "app/QuillmarkApplication.h"
using TestApplication = qm::QuillmarkApplication;
#else
using TestApplication = QApplication;
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The suite runs under the private Xvfb of scripts/test; without a display the
  // toolkit still starts, and the tests that need the X server fail loudly.
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The tests run without a session bus: the toolkit then docks tray icons by XEmbed in the
  // notification area the tray tests start, and libdbus does not leak a little on every
  // dialog shown, which the leak checker would count against the test.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  TestApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
