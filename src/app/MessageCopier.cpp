#include "app/MessageCopier.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>

namespace qm {

bool MessageCopier::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  if (!static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) return false;
  auto* box = qobject_cast<QMessageBox*>(static_cast<QWidget*>(watched)->window());
  if (!box) return false;
  QGuiApplication::clipboard()->setText(box->windowTitle() + QLatin1Char('\n') + box->text());
  return true;
}

}  // namespace qm
