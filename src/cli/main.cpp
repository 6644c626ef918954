#include <QApplication>
#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "capture/Grabber.h"
#include "cli/CliHelp.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "platform/files/BinaryFile.h"

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
  // A file-size limit fails the write that passes it, whoever writes (the sound library grows a
  // shared-memory file at its start), instead of ending the tool without a word.
  qm::BinaryFile::IgnoreFileSizeSignal();
}

// Prints text on standard output; the exit code tells whether it got there.
static int PrintHelp(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  const bool written =
      std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
  return written && std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

static bool IsHelp(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// --help, --version, "help [COMMAND]" and "COMMAND --help" are answered before anything else:
// they need neither a display nor the toolkit.
static std::optional<int> AnswerHelp(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  if (std::strcmp(argv[1], "--version") == 0) return PrintHelp(VersionText());
  const bool helpCommand = std::strcmp(argv[1], "help") == 0;
  if (IsHelp(argv[1]) || (helpCommand && argc == 2)) return PrintHelp(UsageText());
  const CommandHelp* command = FindCommand(QString::fromLocal8Bit(argv[helpCommand ? 2 : 1]));
  if (!command) return std::nullopt;
  if (helpCommand) return PrintHelp(CommandUsage(*command));
  for (int i = 2; i < argc; ++i) {
    if (IsHelp(argv[i])) return PrintHelp(CommandUsage(*command));
  }
  return std::nullopt;
}

// An argument whose bytes do not survive the way into the toolkit's text and back (not valid
// UTF-8) would name another file than the one given; it is refused, with its bytes shown.
static std::optional<int> RefuseUndecodable(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray given(argv[i]);
    if (QFile::encodeName(QFile::decodeName(given)) == given) continue;
    QByteArray shown;
    for (const char c : given) {
      const auto byte = static_cast<unsigned char>(c);
      shown += byte >= 0x20 && byte < 0x7F
                   ? QByteArray(1, c)
                   : "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
    }
    const QString error =
        QString::fromLatin1(shown) + QStringLiteral(
                                         " is not valid UTF-8; only names in the system's "
                                         "encoding are taken");
    std::fputs(MistakeText(error, FindCommand(QString::fromLocal8Bit(argv[1]))).toLocal8Bit(),
               stderr);
    return kExitUsage;
  }
  return std::nullopt;
}

int main(int argc, char** argv) {
  GuardStandardStreams();
  if (const std::optional<int> answered = AnswerHelp(argc, argv)) return *answered;
  if (const std::optional<int> refused = RefuseUndecodable(argc, argv)) return *refused;
  // The selection screen is a window; everything else runs without the widget toolkit, so
  // recording needs no more than a reachable X display.
  std::unique_ptr<QCoreApplication> app;
  // The monitors' listing asks the toolkit for each monitor's scale, where a display is there
  // to open (the toolkit would end the process without one).
  const bool listing =
      argc > 1 && std::strcmp(argv[1], "monitors") == 0 && qm::Grabber::ScreenBounds().Width() > 0;
  if (NeedsSelectionScreen(argc, argv) || listing) {
    app = std::make_unique<QApplication>(argc, argv);
    // Closing the selection screen must not end the recording's event loop.
    QApplication::setQuitOnLastWindowClosed(false);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCoreApplication::setApplicationName(QStringLiteral("quillmark-capture"));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  if (args.isEmpty()) {
    std::fputs(MistakeText(QStringLiteral("a command is needed"), nullptr).toLocal8Bit(), stderr);
    return kExitUsage;
  }
  const QString command = args.takeFirst();
  try {
    if (command == QLatin1String("record")) return RunRecord(args);
    if (command == QLatin1String("codecs")) return RunCodecs(args);
    if (command == QLatin1String("photo")) return RunPhoto(args);
    if (command == QLatin1String("repair")) return RunRepair(args);
    if (command == QLatin1String("sounds")) return RunSounds(args);
    if (command == QLatin1String("monitors")) return RunMonitors(args);
    if (command == QLatin1String("export")) return RunExport(args);
    if (command == QLatin1String("help"))
      throw UsageError("unknown command: " + args.value(0).toStdString());
    throw UsageError("unknown command: " + command.toStdString());
  } catch (const UsageError& e) {
    std::fputs(MistakeText(QString::fromUtf8(e.what()), FindCommand(command)).toLocal8Bit(),
               stderr);
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "quillmark-capture: not enough memory\n");
    return kExitFailed;
  }
}
