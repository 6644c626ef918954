#pragma once

#include "common/UserMessages.h"

namespace qm {

class UiHandoff;

// Tells the user through another receiver, but a message from a worker thread travels
// through the hand-off: the user-interface thread runs hand-off steps also while it waits for
// that worker to end, so the message can never leave the two waiting for each other.
class HandoffMessages : public UserMessages {
 public:
  // Neither is owned; both must outlive this object.
  HandoffMessages(UserMessages& inner, UiHandoff& handoff) : inner_(inner), handoff_(handoff) {}

  void ShowMessage(const QString& text) override;
  bool ShowErrorReport(const QString& message) override;

 private:
  UserMessages& inner_;
  UiHandoff& handoff_;
};

}  // namespace qm
