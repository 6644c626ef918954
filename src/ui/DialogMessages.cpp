#include "ui/DialogMessages.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "common/ErrorReport.h"
#include "platform/desktop/Desktop.h"
#include "ui/ErrorReportDialog.h"

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
  OnUiThread([&] { QMessageBox::information(parent_, QApplication::applicationName(), text); });
}

bool DialogMessages::ShowErrorReport(const QString& message) {
  bool sendMail = false;
  OnUiThread([&] {
    ErrorReportDialog dialog(message, parent_);
    QApplication::beep();
    dialog.exec();
    sendMail = dialog.SendMail();
    if (sendMail) OpenWithShell(ErrorReportMailUrl(message));
  });
  return sendMail;
}

}  // namespace qm
