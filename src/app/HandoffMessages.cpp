#include "app/HandoffMessages.h"

#include "capture/UiHandoff.h"

namespace qm {

void HandoffMessages::ShowMessage(const QString& text) {
  // On the user-interface thread the hand-off runs the step at once.
  handoff_.Run([&] { inner_.ShowMessage(text); });
}

bool HandoffMessages::ShowErrorReport(const QString& message) {
  bool sendMail = false;
  handoff_.Run([&] { sendMail = inner_.ShowErrorReport(message); });
  return sendMail;
}

}  // namespace qm
