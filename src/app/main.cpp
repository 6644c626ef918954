#include <QSessionManager>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/MainWindow.h"
#include "app/MessageCopier.h"
#include "app/QuillmarkApplication.h"
#include "app/SettingsStore.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "common/UserMessages.h"
#include "ui/DialogMessages.h"
#include "video/RecordingJournal.h"

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
  qm::MessageCopier copier;
  app.installEventFilter(&copier);

  qm::SingleInstance instance;
  if (!instance.Claim()) {
    qm::ShowMessage(instance.RunningMessage());
    instance.WakeFirst();
    qm::SetUserMessages(nullptr);
    return 0;
  }

  // An X11 client under Wayland sees only other X11 clients; the user is told once.
  if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
      qgetenv("XDG_SESSION_TYPE").toLower() == "wayland") {
    qm::ShowMessage(
        QStringLiteral("This is a Wayland session: Quillmark sees only the windows of "
                       "X11 programs; those of Wayland programs are recorded black."));
  }

  // Recordings that a crash or a kill interrupted are completed first, while their index spools
  // are still there and before anything records; the user learns what each one kept. Only the
  // instance that owns the journal gets here, so no live recording is touched.
  for (const qm::RecoveredRecording& recovered : qm::RecoverInterrupted())
    qm::ShowMessage(qm::RecoveryMessage(recovered));

  auto window = std::make_unique<qm::MainWindow>(std::make_unique<qm::SettingsStore>());
  messages.SetParent(window.get());
  QObject::connect(&instance, &qm::SingleInstance::WakeRequested, window.get(),
                   &qm::MainWindow::Wake);
  // A signal to end, or the end of the session, ends the application as Exit does, without
  // asking: the recording's file is completed and the settings are saved.
  qm::TerminationSignals termination;
  QObject::connect(&termination, &qm::TerminationSignals::Received, window.get(),
                   &qm::MainWindow::EndWithoutAsking);
  QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(),
                   [&window](QSessionManager&) { window->EndWithoutAsking(); });
  window->show();
  const int result = app.exec();
  window.reset();
  qm::SetUserMessages(nullptr);
  return result;
}
