#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common/Rect.h"
#include "common/ScreenSource.h"

namespace qm::cli {

// Exit codes of quillmark-capture.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A bad command line; what() is the message shown above the usage text.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "LEFT,TOP,WIDTH,HEIGHT" as a rectangle; width and height at least 1.
Rect ParseArea(const QString& text);

// An integer in [low, high]; name appears in the error.
int ParseInt(const QString& text, int low, int high, const QString& name);

// A duration in seconds, a decimal number from 0 up to maxSeconds; returned in whole
// milliseconds (rounded). name appears in the error.
int64_t ParseSeconds(const QString& text, double maxSeconds, const QString& name);

// One command's command line as its option table reads it (the table that --help and the
// manual page show): the options in the order given, each with its value ("" for a switch),
// and the other arguments. An option the table lacks, or one without its value, is a usage
// error.
struct CommandLine {
  struct Option {
    QString Name;
    QString Value;
  };
  std::vector<Option> Options;
  QStringList Others;
};
CommandLine ReadCommandLine(const char* command, const QStringList& args);

// What every capturing command takes: one output file, an area and the cursor flags.
struct CaptureOptions {
  QString File;
  std::optional<Rect> Area;
  bool ShowCursor = false;
  bool FollowCursor = false;
  bool Select = false;  // draw the area on the selection screen first
  bool Window = false;  // pick a window: on the selection screen, or in the desktop's dialog
  QString Monitor;      // --monitor: a monitor's name or number; empty for none
  // Where the pictures come from: the X server, the desktop's screen-cast portal, or (Auto)
  // the portal on a Wayland desktop that offers it and the X server elsewhere.
  enum class Source { Auto, X11, Portal } From = Source::Auto;
  QString RestoreTokenFile;  // keeps the portal's restore token between runs; may be empty
};

// Takes --area, --monitor, --cursor, --follow, --select, --window, --source or --restore-token;
// false
// for any other option.
bool TakeCaptureOption(const CommandLine::Option& option, CaptureOptions& options);

// Takes the one output file, refusing none or more, --select with --window and --area with
// --monitor.
void TakeOutputFile(const QStringList& files, CaptureOptions& options, const char* command);

// The area the options name (--area, or the rectangle of the monitor --monitor names), or the
// whole screen; with --select or --window the area the user chose on the selection screen
// (printed on standard error), starting there. nullopt, after telling why, when there is no
// screen or the user cancelled ("cancelled"). A monitor that the screen does not have is a
// usage error whose message lists the monitors. With a screen-cast source the screen is its
// picture, and an area that does not lie inside it is moved there.
std::optional<Rect> AreaToCapture(const CaptureOptions& options,
                                  const std::shared_ptr<ScreenSource>& source = nullptr);

// The rectangle of the monitor of the X screen named or numbered so; a usage error that lists
// the monitors when there is none.
Rect MonitorArea(const QString& nameOrNumber);

// True when the command line asks for the selection screen, which needs the widget toolkit.
bool NeedsSelectionScreen(int argc, char** argv);

// One line to standard error.
void PrintError(const QString& text);

}  // namespace qm::cli
