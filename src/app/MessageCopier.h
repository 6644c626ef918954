#pragma once

#include <QObject>

namespace qm {

// Ctrl+C in a message box copies its title and text to the clipboard, so a user can paste an
// error message into a report. Install on the application object.
class MessageCopier : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qm
