#pragma once

#include "common/UserMessages.h"

namespace qm {

// The application's receiver: modal message boxes and the error report dialog, always shown
// on the user-interface thread (a call from another thread waits until the box is closed).
class DialogMessages : public UserMessages {
 public:
  void ShowMessage(const QString& text) override;
  bool ShowErrorReport(const QString& message) override;
};

}  // namespace qm
