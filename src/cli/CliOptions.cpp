#include "cli/CliOptions.h"

#include "capture/Grabber.h"
#include "cli/AreaChoice.h"
#include "cli/CliHelp.h"
#include "common/Monitor.h"
#include "common/PictureArea.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace qm::cli {

Rect ParseArea(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(','));
  if (parts.size() != 4) throw UsageError("--area takes LEFT,TOP,WIDTH,HEIGHT");
  long long v[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    v[i] = parts[i].trimmed().toLongLong(&ok);
    if (!ok || v[i] < std::numeric_limits<int32_t>::min() / 2 ||
        v[i] > std::numeric_limits<int32_t>::max() / 2)
      throw UsageError("--area takes four integers: LEFT,TOP,WIDTH,HEIGHT");
  }
  if (v[2] < 1 || v[3] < 1) throw UsageError("--area needs a width and a height of at least 1");
  return Rect{int32_t(v[0]), int32_t(v[1]), int32_t(v[0] + v[2]), int32_t(v[1] + v[3])};
}

int ParseInt(const QString& text, int low, int high, const QString& name) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  if (!ok || value < low || value > high)
    throw UsageError(QStringLiteral("%1 takes a whole number from %2 to %3")
                         .arg(name)
                         .arg(low)
                         .arg(high)
                         .toStdString());
  return value;
}

int64_t ParseSeconds(const QString& text, double maxSeconds, const QString& name) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(value) || value < 0 || value > maxSeconds)
    throw UsageError(QStringLiteral("%1 takes a number of seconds from 0 to %2")
                         .arg(name)
                         .arg(maxSeconds)
                         .toStdString());
  return std::llround(value * 1000.0);
}

CommandLine ReadCommandLine(const char* command, const QStringList& args) {
  const CommandHelp* help = FindCommand(QString::fromLatin1(command));
  CommandLine line;
  for (int i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (!arg.startsWith(QLatin1Char('-')) || arg.size() == 1) {
      line.Others << arg;
      continue;
    }
    const OptionHelp* known = nullptr;
    for (const OptionHelp& option : help ? help->Options : std::span<const OptionHelp>())
      if (arg == QLatin1String(option.Name)) known = &option;
    if (!known) throw UsageError("unknown option: " + arg.toStdString());
    QString value;
    if (*known->Value) {
      if (i + 1 >= args.size())
        throw UsageError((arg + QStringLiteral(" needs a value")).toStdString());
      value = args[++i];
    }
    line.Options.push_back({arg, value});
  }
  return line;
}

bool TakeCaptureOption(const CommandLine::Option& option, CaptureOptions& options) {
  const QString& name = option.Name;
  if (name == QLatin1String("--area"))
    options.Area = ParseArea(option.Value);
  else if (name == QLatin1String("--monitor"))
    options.Monitor = option.Value;
  else if (name == QLatin1String("--cursor"))
    options.ShowCursor = true;
  else if (name == QLatin1String("--follow"))
    options.FollowCursor = true;
  else if (name == QLatin1String("--select"))
    options.Select = true;
  else if (name == QLatin1String("--window"))
    options.Window = true;
  else if (name == QLatin1String("--source")) {
    if (option.Value == QLatin1String("x11"))
      options.From = CaptureOptions::Source::X11;
    else if (option.Value == QLatin1String("portal"))
      options.From = CaptureOptions::Source::Portal;
    else
      throw UsageError("--source takes x11 or portal");
  } else if (name == QLatin1String("--restore-token"))
    options.RestoreTokenFile = option.Value;
  else
    return false;
  return true;
}

void TakeOutputFile(const QStringList& files, CaptureOptions& options, const char* command) {
  if (files.size() > 1) throw UsageError(std::string(command) + " takes one output file");
  if (files.isEmpty()) throw UsageError(std::string(command) + " needs an output file");
  options.File = files[0];
  if (options.Select && options.Window)
    throw UsageError(std::string(command) + " takes --select or --window, not both");
  if (options.Area && !options.Monitor.isEmpty())
    throw UsageError(std::string(command) + " takes --area or --monitor, not both");
}

Rect MonitorArea(const QString& nameOrNumber) {
  const std::vector<Monitor> monitors = Grabber::Monitors();
  if (const Monitor* monitor = FindMonitor(monitors, nameOrNumber)) return monitor->Bounds;
  QStringList known;
  for (size_t i = 0; i < monitors.size(); ++i)
    known << QStringLiteral("%1: %2").arg(i).arg(MonitorText(monitors[i]));
  throw UsageError(QStringLiteral("no monitor %1; the screen has %2")
                       .arg(nameOrNumber, known.join(QStringLiteral(", ")))
                       .toStdString());
}

std::optional<Rect> AreaToCapture(const CaptureOptions& options,
                                  const std::shared_ptr<ScreenSource>& source) {
  if (source) {
    // The desktop's dialog has chosen the monitor or window; an area is a part of it, drawn
    // with --select on its picture, and a window asked for with --window is recorded whole.
    // The area is given in the picture's pixels: one that does not lie inside is moved there.
    if (options.Select) return ChooseArea(options, source->Bounds(), source);
    if (options.Area && !options.Window) {
      const Rect picture = source->Bounds();
      return AreaOnPicture(*options.Area, picture, picture);
    }
    return source->Bounds();
  }
  if (!options.Select && !options.Window && options.Area) return options.Area;
  const Rect screen = Grabber::ScreenBounds();
  if (screen.Width() < 1 || screen.Height() < 1) {
    PrintError(Grabber::NoDisplayMessage());
    return std::nullopt;
  }
  CaptureOptions chosen = options;
  if (!options.Monitor.isEmpty()) chosen.Area = MonitorArea(options.Monitor);
  if (!chosen.Select && !chosen.Window) return chosen.Area ? *chosen.Area : screen;
  return ChooseArea(chosen, screen);
}

bool NeedsSelectionScreen(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--select") == 0 || std::strcmp(argv[i], "--window") == 0) return true;
  }
  return false;
}

void PrintError(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace qm::cli
