#pragma once

#include <QApplication>

namespace qm {

// The application object. Its notify() is the one place where exceptions may meet the event
// loop: the silent abort is discarded (the user has been told already), anything else is
// shown in a message box.
class QuillmarkApplication : public QApplication {
  Q_OBJECT

 public:
  QuillmarkApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

 signals:
  // The application is asked to quit: by the end of the session ("die"), or by a quit of its
  // own. Sent before the windows are asked to close.
  void QuitRequested();

 protected:
  bool event(QEvent* event) override;
};

}  // namespace qm
