#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include "support/XScreen.h"

namespace qm::test {

// openbox on the test display for as long as this object lives, reading a private config
// home (never the user's). Start returns once openbox manages the screen, that is once the
// root names its _NET_SUPPORTING_WM_CHECK window and its substructure is redirected.
class WindowManager {
 public:
  WindowManager() = default;
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  bool Start();
  void Stop();

  // Names the cases of a test run with (true) and without (false) a window manager.
  static std::string ParamName(const testing::TestParamInfo<bool>& param) {
    return param.param ? "Openbox" : "None";
  }

 private:
  QTemporaryDir home_;
  QProcess process_;
};

// A test run once without (false) and once with (true) a window manager on the test display;
// the windows a case opens are closed after it.
class WithAndWithoutWindowManager : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(screen_.Ok()) << "no X display";
    if (GetParam()) {
      ASSERT_TRUE(manager_.Start()) << "openbox did not start";
    }
  }
  void TearDown() override {
    screen_.Clear();
    manager_.Stop();
  }

  XScreen screen_;
  WindowManager manager_;
};

}  // namespace qm::test
