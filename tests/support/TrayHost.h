#pragma once

#include <QProcess>

#include <functional>

namespace qm::test {

// Runs the event loop until done() is true or a generous deadline (the machine is shared and
// slow at times) has passed; returns done()'s last answer.
bool SpinUntil(const std::function<bool()>& done, int seconds = 30);

// A notification area on the test display for the life of the object: trayer, which docks
// icons by XEmbed. The toolkit uses XEmbed when there is no session bus (TestMain.cpp).
class TrayHost {
 public:
  // Starts trayer and waits until the toolkit sees it; Ok() tells whether that worked.
  TrayHost();
  ~TrayHost();
  TrayHost(const TrayHost&) = delete;
  TrayHost& operator=(const TrayHost&) = delete;

  bool Ok() const { return ok_; }

  // Ends trayer the way a crash would, and waits until it is gone.
  void Kill();

 private:
  QProcess process_;
  bool ok_ = false;
};

}  // namespace qm::test
