#include "common/DialogMessages.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "common/FrmExcept.h"

namespace qm {

namespace {

// Runs fn on the user-interface thread and waits for it.
template <typename Fn>
void OnUiThread(Fn fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

}  // namespace

void DialogMessages::ShowMessage(const QString& text) {
  OnUiThread([&] { QMessageBox::information(nullptr, QApplication::applicationName(), text); });
}

bool DialogMessages::ShowErrorReport(const QString& message) {
  bool sendMail = false;
  OnUiThread([&] {
    TFrmExcept dialog(message);
    QApplication::beep();
    dialog.exec();
    sendMail = dialog.SendMail();
  });
  return sendMail;
}

}  // namespace qm
