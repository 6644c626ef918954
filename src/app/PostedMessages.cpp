#include "app/PostedMessages.h"

#include <QCoreApplication>
#include <QThread>

namespace qm {

bool PostedMessages::OnUiThread() const {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void PostedMessages::ShowMessage(const QString& text) {
  if (OnUiThread() || !context_) {
    inner_.ShowMessage(text);
    return;
  }
  UserMessages* inner = &inner_;
  QMetaObject::invokeMethod(
      context_, [inner, text] { inner->ShowMessage(text); }, Qt::QueuedConnection);
}

bool PostedMessages::ShowErrorReport(const QString& message) {
  if (OnUiThread() || !context_) return inner_.ShowErrorReport(message);
  UserMessages* inner = &inner_;
  QMetaObject::invokeMethod(
      context_, [inner, message] { inner->ShowErrorReport(message); }, Qt::QueuedConnection);
  return false;
}

}  // namespace qm
