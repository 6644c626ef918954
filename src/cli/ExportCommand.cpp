#include <QElapsedTimer>

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "export/ExportError.h"
#include "export/Exporter.h"

namespace qm::cli {

namespace {

constexpr double kMaxSeconds = 2000000.0;

ExportRequest ParseExportOptions(const QStringList& args, bool& quiet) {
  ExportRequest request;
  const CommandLine line = ReadCommandLine("export", args);
  for (const auto& [name, value] : line.Options) {
    if (name == QLatin1String("--from"))
      request.From = double(ParseSeconds(value, kMaxSeconds, name)) / 1000;
    else if (name == QLatin1String("--to"))
      request.To = double(ParseSeconds(value, kMaxSeconds, name)) / 1000;
    else if (name == QLatin1String("--width"))
      request.Width = ParseInt(value, 2, 16384, name);
    else if (name == QLatin1String("--fps"))
      request.Fps = ParseInt(value, 1, 60, name);
    else if (name == QLatin1String("--force"))
      request.Force = true;
    else if (name == QLatin1String("--quiet"))
      quiet = true;
  }
  const QStringList& files = line.Others;
  if (files.size() != 2) throw UsageError("export takes a recording and the file to write");
  request.Input = files[0];
  request.Output = files[1];
  if (request.From && request.To && *request.From >= *request.To)
    throw UsageError("--from must lie before --to");
  if (!ExportPlan::KindOf(request.Output))
    throw UsageError("unknown kind of file: " + request.Output.toStdString() +
                     " (the kinds: " + ExportPlan::KindNames().toStdString() + ")");
  return request;
}

volatile sig_atomic_t g_stop = 0;

void Stop(int) {
  g_stop = 1;
}

// SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the export (its file goes) for as long as it runs.
class StopSignals {
 public:
  StopSignals() {
    struct sigaction action {};
    action.sa_handler = Stop;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &previous_[i]);
  }
  ~StopSignals() {
    for (size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  std::array<struct sigaction, 4> previous_{};
};

// "Exporting 45% - 0:12 left", rewritten in place on a terminal's standard error about
// twice a second.
class ExportProgress {
 public:
  explicit ExportProgress(bool quiet) : on_(!quiet && isatty(STDERR_FILENO) == 1) {
    clock_.start();
  }
  ~ExportProgress() { End(); }
  ExportProgress(const ExportProgress&) = delete;
  ExportProgress& operator=(const ExportProgress&) = delete;

  // Leaves the last line standing, so a message after it begins on a line of its own.
  void End() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

  bool operator()(double done) {
    if (g_stop) return false;
    if (!on_ || clock_.elapsed() < next_) return true;
    next_ = clock_.elapsed() + 500;
    QString line = QStringLiteral("Exporting %1%").arg(int(done * 100));
    if (done > 0.01 && clock_.elapsed() > 1000) {
      const auto left = qint64(std::lround(double(clock_.elapsed()) / done * (1 - done) / 1000));
      line +=
          QStringLiteral(" - %1:%2 left").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
    }
    std::fprintf(stderr, "\r%s\033[K", line.toLocal8Bit().constData());
    std::fflush(stderr);
    shown_ = true;
    return true;
  }

 private:
  bool on_;
  bool shown_ = false;
  QElapsedTimer clock_;
  qint64 next_ = 0;
};

}  // namespace

int RunExport(const QStringList& args) {
  bool quiet = false;
  const ExportRequest request = ParseExportOptions(args, quiet);
  StopSignals stopSignals;
  g_stop = 0;
  QString done;
  {
    ExportProgress progress(quiet);
    try {
      done = Exporter::Run(request, [&progress](double fraction) { return progress(fraction); });
    } catch (const ExportError& e) {
      progress.End();
      PrintError(QString::fromUtf8(e.what()));
      return kExitFailed;
    }
  }
  std::printf("%s\n", done.toLocal8Bit().constData());
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace qm::cli
