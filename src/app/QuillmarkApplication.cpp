#include "app/QuillmarkApplication.h"

#include <QMessageBox>

#include <exception>

#include "common/Product.h"
#include "common/SilentAbort.h"
#include "ui/AppIcon.h"

namespace qm {

QuillmarkApplication::QuillmarkApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Quillmark"));
  setOrganizationName(QStringLiteral("Zorvek"));
  setApplicationVersion(QLatin1String(kVersion));
  setWindowIcon(AppIcon());
  // Every dialog belongs to the main window; one closed while the window is hidden in the
  // tray must not end the application.
  setQuitOnLastWindowClosed(false);
}

bool QuillmarkApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const SilentAbort&) {
    return false;
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, applicationName(), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, applicationName(), QStringLiteral("Unknown error"));
  }
  return false;
}

bool QuillmarkApplication::event(QEvent* event) {
  if (event->type() == QEvent::Quit) emit QuitRequested();
  return QApplication::event(event);
}

}  // namespace qm
