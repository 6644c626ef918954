#include <QMainWindow>

#include <cstdio>
#include <cstdlib>

#include "app/QuillmarkApplication.h"
#include "common/UserMessages.h"
#include "ui/DialogMessages.h"

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr, "Quillmark needs an X11 session: DISPLAY is not set.\n");
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  qm::QuillmarkApplication app(argc, argv);
  qm::DialogMessages messages;
  qm::SetUserMessages(&messages);

  // The application does not end when its last window closes (a dialog closed while the
  // window is hidden); this window ends it.
  auto* window = new QMainWindow;
  window->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(window, &QObject::destroyed, &app, &QCoreApplication::quit);
  window->setWindowTitle(QStringLiteral("Quillmark"));
  window->resize(480, 360);
  messages.SetParent(window);
  window->show();
  const int result = app.exec();
  qm::SetUserMessages(nullptr);
  return result;
}
