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
#include "platform/files/BinaryFile.h"
#include "platform/portal/PortalScreen.h"
#include "ui/DialogMessages.h"
#include "video/RecordingJournal.h"

int main(int argc, char** argv) {
  // A file-size limit fails the write that passes it, whoever writes (the sound library grows a
  // shared-memory file at its start), instead of ending the program without a word.
  qm::BinaryFile::IgnoreFileSizeSignal();
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

  // The first instance wins; a second one wakes it and ends. Where no folder can be trusted
  // with the guard, Quillmark still runs, without it, after saying why; a lock that cannot be
  // used for any other reason ends the start with the reason.
  QString unguarded;
  const QString runtime = qm::SingleInstance::RuntimeFolder(&unguarded);
  std::unique_ptr<qm::SingleInstance> instance;
  if (runtime.isEmpty()) {
    qm::ShowMessage(unguarded);
  } else {
    instance = std::make_unique<qm::SingleInstance>(runtime);
    switch (instance->TryClaim()) {
      case qm::SingleInstance::Claim::First:
        break;
      case qm::SingleInstance::Claim::Running:
        qm::ShowMessage(instance->RunningMessage());
        instance->WakeFirst();
        qm::SetUserMessages(nullptr);
        return 0;
      case qm::SingleInstance::Claim::Failed:
        qm::ShowMessage(instance->Failure());
        qm::SetUserMessages(nullptr);
        return 1;
    }
  }

  // An X11 client under Wayland sees only other X11 clients: the user is told once, where the
  // screen is not read through the desktop's portal instead.
  if (qm::PortalScreen::WaylandSession() &&
      !qm::MainWindow::ScreenFromPortal(qm::SettingsStore())) {
    qm::ShowMessage(
        QStringLiteral("This is a Wayland session: Quillmark sees only the windows of "
                       "X11 programs; those of Wayland programs are recorded black."));
  }

  // Recordings that a crash or a kill interrupted are completed first, while their index spools
  // are still there and before anything records; the user learns what each one kept. A live
  // recording holds the lock of its file and spool, which the completion respects, so even a
  // start without the guard touches none.
  for (const qm::RecoveredRecording& recovered : qm::RecoverInterrupted())
    qm::ShowMessage(qm::RecoveryMessage(recovered));
  if (const QString refused = qm::RecordingJournal::Refusal(); !refused.isEmpty())
    qm::ShowMessage(refused);

  auto window = std::make_unique<qm::MainWindow>(std::make_unique<qm::SettingsStore>());
  messages.SetParent(window.get());
  if (instance) {
    QObject::connect(instance.get(), &qm::SingleInstance::WakeRequested, window.get(),
                     &qm::MainWindow::Wake);
  }
  // A signal to end, or the end of the session, ends the application as Exit does, without
  // asking: the recording's file is completed and the settings are saved. The session
  // manager's request to commit data comes before a checkpoint as well as before a log-out
  // that another program may still cancel: it only saves. The session really ends with its
  // "die", which the toolkit turns into a quit of the application.
  qm::TerminationSignals termination;
  QObject::connect(&termination, &qm::TerminationSignals::Received, window.get(),
                   &qm::MainWindow::EndWithoutAsking);
  QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(),
                   [&window](QSessionManager&) { window->SaveSettingsNow(); });
  QObject::connect(&app, &qm::QuillmarkApplication::QuitRequested, window.get(),
                   &qm::MainWindow::EndWithoutAsking);
  window->show();
  const int result = app.exec();
  window.reset();
  qm::SetUserMessages(nullptr);
  return result;
}
