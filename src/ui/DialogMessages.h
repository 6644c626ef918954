#pragma once

#include <QPointer>
#include <QWidget>

#include "common/UserMessages.h"

namespace qm {

// The application's receiver: modal message boxes and the error report dialog, always shown
// on the user-interface thread (a call from another thread waits until the box is closed).
// The boxes belong to the parent set here (the main window, once it exists). The error
// report opens its e-mail when the user asks for it.
class DialogMessages : public UserMessages {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const QString& text) override;
  bool ShowErrorReport(const QString& message) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace qm
