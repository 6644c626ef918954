#include <QApplication>
#include <QCoreApplication>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "cli/CliOptions.h"
#include "cli/Commands.h"

using namespace qm::cli;

// Standard input, output and error may come closed (`>&-`); the files the tool opens would
// then take their numbers and its messages would land in a recording. /dev/null stands in.
// A reader that goes away (a closed pipe) fails the write instead of ending the tool.
static void GuardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  signal(SIGPIPE, SIG_IGN);
}

int main(int argc, char** argv) {
  GuardStandardStreams();
  // The selection screen is a window; everything else runs without the widget toolkit, so
  // recording needs no more than a reachable X display.
  std::unique_ptr<QCoreApplication> app;
  if (NeedsSelectionScreen(argc, argv)) {
    app = std::make_unique<QApplication>(argc, argv);
    // Closing the selection screen must not end the recording's event loop.
    QApplication::setQuitOnLastWindowClosed(false);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCoreApplication::setApplicationName(QStringLiteral("quillmark-capture"));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  const QByteArray usage = UsageText().toLocal8Bit();
  if (args.isEmpty()) {
    std::fprintf(stderr, "%s", usage.constData());
    return kExitUsage;
  }
  const QString command = args.takeFirst();
  try {
    if (command == QLatin1String("record")) return RunRecord(args);
    if (command == QLatin1String("codecs")) return RunCodecs(args);
    if (command == QLatin1String("photo")) return RunPhoto(args);
    if (command == QLatin1String("repair")) return RunRepair(args);
    throw UsageError("unknown command: " + command.toStdString());
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quillmark-capture: %s\n%s", e.what(), usage.constData());
    return kExitUsage;
  }
}
