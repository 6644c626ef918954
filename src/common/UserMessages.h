#pragma once

#include <QString>

namespace qm {

// The one way the system tells the user things. The application shows modal message boxes;
// the command-line tool and the tests write to standard error. The engine never creates
// widgets itself. Implementations must accept calls from any thread.
class UserMessages {
 public:
  virtual ~UserMessages() = default;

  // A simple message with an OK button.
  virtual void ShowMessage(const QString& text) = 0;

  // The "Error encountered" report. Returns true when the user asked for the e-mail report,
  // which the receiver then opens (ErrorReportMailUrl).
  virtual bool ShowErrorReport(const QString& message) = 0;
};

// Writes every message as one line to standard error.
class StderrMessages : public UserMessages {
 public:
  void ShowMessage(const QString& text) override;
  bool ShowErrorReport(const QString& message) override;
};

// The receiver in use; standard error until SetUserMessages installs another.
UserMessages& Messages();

// Installs the receiver (not owned); nullptr goes back to standard error.
void SetUserMessages(UserMessages* messages);

// Shorthand for Messages().ShowMessage(text).
void ShowMessage(const QString& text);

}  // namespace qm
