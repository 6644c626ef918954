#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#ifdef QM_TEST_APPLICATION
#include "app/QuillmarkApplication.h"
using TestApplication = qm::QuillmarkApplication;
#else
using TestApplication = QApplication;
#endif

namespace {

// A test that hangs fails on its own within two minutes (QM_TEST_TIMEOUT seconds), naming
// itself, instead of holding the whole run until ctest gives up on the program.
char g_running[512] = "";

void OnHang(int) {
  static const char kPrefix[] = "\nTest hung and was stopped: ";
  (void)!write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  (void)!write(STDERR_FILENO, g_running, std::strlen(g_running));
  (void)!write(STDERR_FILENO, "\n", 1);
  _exit(124);
}

class HangWatch : public ::testing::EmptyTestEventListener {
 public:
  HangWatch() {
    const int seconds = qEnvironmentVariableIntValue("QM_TEST_TIMEOUT");
    seconds_ = seconds > 0 ? unsigned(seconds) : 120;
    std::signal(SIGALRM, OnHang);
  }
  void OnTestStart(const ::testing::TestInfo& test) override {
    std::snprintf(g_running, sizeof g_running, "%s.%s", test.test_suite_name(), test.name());
    alarm(seconds_);
  }
  void OnTestEnd(const ::testing::TestInfo&) override { alarm(0); }

 private:
  unsigned seconds_;
};

}  // namespace

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
  ::testing::UnitTest::GetInstance()->listeners().Append(new HangWatch);
  return RUN_ALL_TESTS();
}
