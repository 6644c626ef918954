#pragma once

#include <QString>

class QWidget;

namespace qm {

// A message that the user can silence for good with "Don't show this message again".
struct DialogText {
  enum class Kind { Question = 1, Information = 2 };  // OK and Cancel; OK only
  Kind kind = Kind::Question;
  QString key;   // names the message where its silencing is kept; unique per message
  QString text;  // lines separated by line feeds
};

// The messages of the application that use it.
DialogText ClosingIsHidingText();
DialogText HidingWindowText();
// The same two where the desktop has no notification area: the window is minimised instead.
DialogText ClosingIsMinimisingText();
DialogText MinimisingWindowText();
DialogText AutoUpdateCheckText();

// Where silenced messages are remembered (the settings store's "Dialogs" section).
class SilencedDialogs {
 public:
  virtual ~SilencedDialogs() = default;
  virtual bool IsSilenced(const QString& key) const = 0;
  virtual void Silence(const QString& key) = 0;
};

// Shows the message modally over parent unless it was silenced. True when the user pressed
// OK or the message is silenced; false when cancelled or closed. The message is silenced
// only when the box is ticked and the dialog ends with OK: Cancel never silences it.
bool ConfirmOnce(const DialogText& text, QWidget* parent, SilencedDialogs& silenced);

}  // namespace qm
