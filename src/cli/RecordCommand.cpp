#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "capture/CapInfo.h"
#include "capture/CapThread.h"
#include "capture/Grabber.h"
#include "capture/RecordingProgress.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/ScreenChoice.h"
#include "platform/audio/SoundInput.h"
#include "video/AviCompress.h"
#include "video/AviRepair.h"
#include "video/MovieWriter.h"

namespace qm::cli {

namespace {

// QTimer counts in int milliseconds; a longer recording is stopped by a signal instead.
constexpr double kMaxSeconds = 2000000.0;

struct RecordOptions : CaptureOptions {
  int Fps = 15;
  std::optional<int64_t> Milliseconds;
  QString Codec = QStringLiteral("MP42");
  bool EveryFrame = false;
  bool Quiet = false;
  SoundChoice Sound = SoundChoice::Off;
  std::optional<SoundCodec> SoundFormat;
};

RecordOptions ParseRecordOptions(const QStringList& args) {
  RecordOptions options;
  const CommandLine line = ReadCommandLine("record", args);
  for (const CommandLine::Option& option : line.Options) {
    const QString& name = option.Name;
    const QString& value = option.Value;
    if (name == QLatin1String("--fps"))
      options.Fps = ParseInt(value, 1, 32, name);
    else if (name == QLatin1String("--seconds"))
      options.Milliseconds = ParseSeconds(value, kMaxSeconds, name);
    else if (name == QLatin1String("--codec"))
      options.Codec = value;
    else if (name == QLatin1String("--every-frame"))
      options.EveryFrame = true;
    else if (name == QLatin1String("--quiet"))
      options.Quiet = true;
    else if (name == QLatin1String("--sound")) {
      if (value == QLatin1String("desktop"))
        options.Sound = SoundChoice::Desktop;
      else if (value == QLatin1String("mic"))
        options.Sound = SoundChoice::Microphone;
      else if (value == QLatin1String("both"))
        options.Sound = SoundChoice::Both;
      else
        throw UsageError("--sound takes desktop, mic or both, not " + value.toStdString());
    } else if (name == QLatin1String("--sound-codec")) {
      if (value == QLatin1String("pcm"))
        options.SoundFormat = SoundCodec::Pcm;
      else if (value == QLatin1String("mp3"))
        options.SoundFormat = SoundCodec::Mp3;
      else
        throw UsageError("--sound-codec takes pcm or mp3, not " + value.toStdString());
    } else
      TakeCaptureOption(option, options);
  }
  TakeOutputFile(line.Others, options, "record");
  if (options.SoundFormat && options.Sound == SoundChoice::Off)
    throw UsageError("--sound-codec needs --sound");
  // The file is an AVI file whatever its name says: a name that promises anything else is
  // refused.
  if (!options.File.endsWith(QStringLiteral(".avi"), Qt::CaseInsensitive))
    throw UsageError("record writes .avi files, not " + options.File.toStdString());
  return options;
}

// The handler code of the compressor named on the command line, from the listed entries.
uint32_t FindCodec(const AviCompress& compressor, const QString& code) {
  for (const CompressorEntry& entry : compressor.Entries())
    if (EntryCodeText(entry) == code) return entry.Handler;
  throw UsageError("unknown codec: " + code.toStdString() +
                   " (quillmark-capture codecs lists them)");
}

// Turns SIGINT, SIGTERM, SIGHUP (the terminal went away) and SIGQUIT into a stop, and SIGUSR1
// into a pause or a continuation, on the event loop: the handler only writes the signal's
// number into a pipe, which a socket notifier watches. The previous handlers come back at the
// end.
class RecordSignals {
 public:
  template <class Stop, class Pause>
  RecordSignals(Stop onStop, Pause onPause) {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
      fds_[0] = fds_[1] = -1;
      return;
    }
    writeFd_ = fds_[1];
    notifier_.emplace(fds_[0], QSocketNotifier::Read);
    QObject::connect(&*notifier_, &QSocketNotifier::activated, [this, onStop, onPause] {
      char buffer[16];
      ssize_t got = 0;
      while ((got = read(fds_[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
          if (buffer[i] == SIGUSR1)
            onPause();
          else
            onStop();
        }
      }
    });
    struct sigaction action = {};
    action.sa_handler = &RecordSignals::OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &old_[i]);
  }

  ~RecordSignals() {
    if (fds_[0] < 0) return;
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &old_[i], nullptr);
    writeFd_ = -1;
    notifier_.reset();
    close(fds_[0]);
    close(fds_[1]);
  }

  RecordSignals(const RecordSignals&) = delete;
  RecordSignals& operator=(const RecordSignals&) = delete;

 private:
  static void OnSignal(int number) {
    const int saved = errno;
    const int fd = writeFd_;
    if (fd >= 0) {
      const char byte = char(number);
      [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = saved;
  }

  static inline volatile sig_atomic_t writeFd_ = -1;
  int fds_[2] = {-1, -1};
  std::optional<QSocketNotifier> notifier_;
  static constexpr std::array<int, 5> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1};
  std::array<struct sigaction, 5> old_ = {};
};

// The exit code of a completed recording. A recording that ended because the screen could not
// be read or a frame could not be written has failed, although its file is complete; the
// engine has written the reason to standard error. The user's stop, the desktop's end of the
// sharing (which the user asked for there) and the size limit (whose message the writer has
// given) are normal ends.
int ExitCodeOf(CaptureEnd end) {
  switch (end) {
    case CaptureEnd::Stopped:
    case CaptureEnd::SizeLimit:
    case CaptureEnd::SharingEnded:
      return kExitOk;
    case CaptureEnd::ScreenUnreadable:
    case CaptureEnd::WriteFailed:
    case CaptureEnd::Failed:
      break;
  }
  return kExitFailed;
}

// The progress line on a terminal's standard error, rewritten in place about once a second;
// nothing when standard error is no terminal (a script reads it) or with --quiet.
class ProgressLine {
 public:
  ProgressLine(bool quiet, int fps) : on_(!quiet && isatty(STDERR_FILENO) == 1), progress_(fps) {}

  void Follow(const CapThread& thread) {
    if (!on_) return;
    timer_.setInterval(1000);
    QObject::connect(&timer_, &QTimer::timeout, [this, &thread] {
      const QByteArray line = progress_.Update(thread.Figures()).toLocal8Bit();
      // Back to the line's start, the line, and the rest of a longer one before it cleared.
      std::fprintf(stderr, "\r%s\033[K", line.constData());
      std::fflush(stderr);
      shown_ = true;
    });
    timer_.start();
  }
  // Leaves the last line standing, so the messages after it begin on a line of their own.
  void End() {
    timer_.stop();
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  bool on_;
  bool shown_ = false;
  RecordingProgress progress_;
  QTimer timer_;
};

}  // namespace

int RunRecord(const QStringList& args) {
  const RecordOptions options = ParseRecordOptions(args);

  // Each recording has a spool of its own beside its file, so the tool can record while the
  // application (or another run of the tool) records too.
  MovieWriter writer;
  const uint32_t code = FindCodec(writer.Compressor(), options.Codec);
  if (!writer.Compressor().Select(code)) {
    PrintError(QStringLiteral("Can not open the compressor ") + options.Codec);
    return kExitFailed;
  }

  // A refused or cancelled dialog ends here: no file is touched.
  const ChosenScreen screen = OpenScreen(options);
  if (!screen.Ok) return kExitFailed;
  const std::optional<Rect> chosen = AreaToCapture(options, screen.Source);
  if (!chosen) return kExitFailed;
  const Rect area = *chosen;

  QEventLoop loop;
  std::optional<CaptureEnd> end;
  QString why;

  CapInfo info;
  info.Receiver = &loop;
  info.Area = area;
  info.Writer = &writer;
  info.FileName = options.File;
  info.ShowCursor = options.ShowCursor;
  info.FollowCursor = options.FollowCursor;
  info.FramesPerSecond = uint16_t(options.Fps);
  info.EveryFrame = options.EveryFrame;
  info.Source = screen.Source;
  info.Sound = options.Sound;
  info.SoundFormat = options.SoundFormat.value_or(SoundCodec::Pcm);
  info.Finished = [&](CaptureEnd ended, const QString& reason) {
    end = ended;
    why = reason;
    loop.quit();
  };

  CapThread thread;
  thread.SetInfo(info);
  ProgressLine progressLine(options.Quiet, options.Fps);
  {
    RecordSignals handlers([&] { thread.Stop(); },
                           [&] {
                             if (thread.IsPaused())
                               thread.Continue();
                             else
                               thread.Pause();
                           });
    QTimer timer;
    timer.setSingleShot(true);
    // A coarse timer may fire 5 % early or late, which would be frames too few or too many.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] { thread.Stop(); });
    if (options.Milliseconds) {
      // No time at all: the stop comes before the first pass, so the file has no frames.
      if (*options.Milliseconds == 0)
        thread.Stop();
      else
        timer.start(int(*options.Milliseconds));
    }
    thread.Start();
    progressLine.Follow(thread);
    loop.exec();
    progressLine.End();
    // The thread has said how it ended; wait for it to be gone while signals still stop it.
    thread.WaitFor();
  }

  if (!end || *end == CaptureEnd::Failed) {
    PrintError(QStringLiteral("Error: ") +
               (why.isEmpty() ? QStringLiteral("With unknown reason") : why));
    return kExitFailed;
  }
  if (!why.isEmpty()) PrintError(why);
  long double rate = thread.GetActualFrameRate();
  if (rate == 0) rate = options.Fps;  // the file keeps the requested rate
  // A closed or vanished standard output loses this line, never the recording's result.
  const uint32_t frames = writer.Frame().FrameNumber;
  std::printf("%s: %u frames, %.3f fps\n", options.File.toLocal8Bit().constData(), unsigned(frames),
              double(rate));
  std::fflush(stdout);
  // A compressor far slower than the rate leaves few frames for the time: the file is honest
  // about its time, and this says where the frames went.
  const QString kept = RecordingProgress::KeptNote(frames, thread.GetActiveTime(), options.Fps);
  if (!kept.isEmpty()) PrintError(kept);
  if (thread.Figures().MonitorsChanged) PrintError(RecordingProgress::MonitorsNote());
  return ExitCodeOf(*end);
}

int RunRepair(const QStringList& args) {
  if (args.size() != 1 || args[0].startsWith(QLatin1Char('-')))
    throw UsageError("repair takes one file");
  const RepairResult result = AviRepair::Repair(args[0]);
  if (result.Result == RepairResult::Outcome::Refused) {
    PrintError(result.Message);
    return kExitFailed;
  }
  std::printf("%s\n", result.Message.toLocal8Bit().constData());
  std::fflush(stdout);
  return kExitOk;
}

int RunSounds(const QStringList& args) {
  if (!args.isEmpty()) throw UsageError("sounds takes no arguments");
  std::vector<SoundDevice> devices;
  QString failure;
  if (!SoundInput::List(devices, failure)) {
    PrintError(QStringLiteral("No sound: ") + failure);
    return kExitFailed;
  }
  for (const SoundDevice& device : devices) {
    const QString line = device.Name + QLatin1Char('\t') +
                         (device.Monitor ? QStringLiteral("monitor") : QStringLiteral("input")) +
                         QLatin1Char('\t') + device.Description;
    std::printf("%s\n", line.toLocal8Bit().constData());
  }
  return kExitOk;
}

int RunCodecs(const QStringList& args) {
  if (!args.isEmpty()) throw UsageError("codecs takes no arguments");
  AviCompress compressor;
  std::vector<DisplayItem> items;
  compressor.FillDisplayList(items);
  for (const DisplayItem& item : items) {
    const QString line =
        (item.Entry ? EntryCodeText(*item.Entry) : QString()) + QLatin1Char('\t') + item.Text;
    std::printf("%s\n", line.toLocal8Bit().constData());
  }
  return kExitOk;
}

}  // namespace qm::cli
