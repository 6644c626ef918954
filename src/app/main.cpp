#include <QMainWindow>

#include <cstdio>
#include <cstdlib>

#include "app/QuillmarkApplication.h"
#include "common/DialogMessages.h"
#include "common/UserMessages.h"

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

  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Quillmark"));
  window.resize(480, 360);
  window.show();
  const int result = app.exec();
  qm::SetUserMessages(nullptr);
  return result;
}
