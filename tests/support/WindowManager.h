#pragma once

#include <QProcess>
#include <QTemporaryDir>

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

 private:
  QTemporaryDir home_;
  QProcess process_;
};

}  // namespace qm::test
