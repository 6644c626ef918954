#pragma once

#include "common/UserMessages.h"

class QObject;

namespace qm {

// Tells the user through another receiver. A message from any other thread than the
// user-interface thread is posted there and shown on a later pass of the event loop, so a
// worker never waits for a message box (an error report's answer is then no e-mail).
class PostedMessages : public UserMessages {
 public:
  // Both must outlive this object's use by workers; messages still posted when context goes
  // are dropped with it.
  PostedMessages(UserMessages& inner, QObject* context) : inner_(inner), context_(context) {}

  void ShowMessage(const QString& text) override;
  bool ShowErrorReport(const QString& message) override;

 private:
  bool OnUiThread() const;

  UserMessages& inner_;
  QObject* context_;
};

}  // namespace qm
