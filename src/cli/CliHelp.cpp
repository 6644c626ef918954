#include "cli/CliHelp.h"

#include <QStringList>

namespace qm::cli {

namespace {

// clang-format off
// The options record and photo share.
constexpr OptionHelp kSelect{.Name = "--select", .Value = "",
  .Text = "draw the area on a still image of the screen (Enter accepts, Escape cancels)"};
constexpr OptionHelp kWindow{.Name = "--window", .Value = "",
  .Text = "pick the window under the pointer the same way (the portal source: ask the desktop "
          "for a window)"};
constexpr OptionHelp kMonitor{.Name = "--monitor", .Value = "NAME|NUMBER",
  .Text = "that monitor's rectangle, by its name or its number as \"monitors\" lists them "
          "(counting from 0, as xrandr --listmonitors does); not with --area or the portal, whose "
          "dialog chooses the monitor"};
constexpr OptionHelp kSource{.Name = "--source", .Value = "x11|portal",
  .Text = "read the screen from the X server, or through the desktop's screen-sharing portal "
          "and PipeWire, which shows the desktop's own dialog (default: the portal on a "
          "Wayland desktop that offers it, else x11)"};
constexpr OptionHelp kRestoreToken{.Name = "--restore-token", .Value = "FILE",
  .Text = "with the portal: keep the desktop's restore token in FILE, so that later runs "
          "share the same monitor or window without the dialog"};

constexpr OptionHelp kRecordOptions[] = {
  {.Name = "--area", .Value = "LEFT,TOP,WIDTH,HEIGHT",
   .Text = "the area of the screen to record (default: the whole screen)"},
  kMonitor,
  {.Name = "--fps", .Value = "N", .Text = "frames per second, 1 to 32 (default: 15)"},
  {.Name = "--seconds", .Value = "S",
   .Text = "stop after S seconds (default: at SIGINT or SIGTERM)"},
  {.Name = "--codec", .Value = "CODE",
   .Text = "the video compressor, a code that \"codecs\" lists (default: MP42)"},
  {.Name = "--cursor", .Value = "", .Text = "draw the mouse cursor into the frames"},
  {.Name = "--follow", .Value = "", .Text = "move the area with the mouse cursor"},
  kSelect, kWindow, kSource, kRestoreToken,
  {.Name = "--every-frame", .Value = "",
   .Text = "write every frame in full, also one that repeats the frame before"},
  {.Name = "--quiet", .Value = "",
   .Text = "no progress line on a terminal's standard error"},
  {.Name = "--sound", .Value = "desktop|mic|both",
   .Text = "record sound too: the default output's sound, the default input, or the two mixed"},
  {.Name = "--sound-codec", .Value = "pcm|mp3",
   .Text = "the sound's format in the file: 16-bit PCM or MP3 (default: pcm)"},
  {.Name = "--help", .Value = "", .Text = "print this text and exit"},
};

constexpr OptionHelp kPhotoOptions[] = {
  {.Name = "--area", .Value = "LEFT,TOP,WIDTH,HEIGHT",
   .Text = "the area of the screen to take (default: the whole screen)"},
  kMonitor,
  {.Name = "--quality", .Value = "0..24",
   .Text = "JPEG quality: higher gives larger files of better quality (default: 17)"},
  {.Name = "--cursor", .Value = "", .Text = "draw the mouse cursor into the picture"},
  {.Name = "--follow", .Value = "", .Text = "centre the area on the mouse cursor"},
  kSelect, kWindow, kSource, kRestoreToken,
  {.Name = "--help", .Value = "", .Text = "print this text and exit"},
};

constexpr OptionHelp kExportOptions[] = {
  {.Name = "--from", .Value = "SECONDS",
   .Text = "start there (a copy of H264 pictures starts at the key frame at or before it)"},
  {.Name = "--to", .Value = "SECONDS", .Text = "end there (default: the recording's end)"},
  {.Name = "--width", .Value = "PIXELS",
   .Text = "scale down to this width, keeping the aspect; both sides even (default: the "
           "recording's size)"},
  {.Name = "--fps", .Value = "N",
   .Text = "at most N pictures a second, 1 to 60 (default: the recording's rate; for GIF at "
           "most 15)"},
  {.Name = "--force", .Value = "", .Text = "replace an existing file"},
  {.Name = "--quiet", .Value = "",
   .Text = "no progress line on a terminal's standard error"},
  {.Name = "--help", .Value = "", .Text = "print this text and exit"},
};

constexpr OptionHelp kOnlyHelp[] = {
  {.Name = "--help", .Value = "", .Text = "print this text and exit"},
};

constexpr CommandHelp kCommands[] = {
  {.Name = "record", .Arguments = "FILE.avi",
   .Summary = "record an area of the screen into an AVI file",
   .Details = "The recording runs until --seconds have passed or the tool receives SIGINT, "
              "SIGTERM, SIGHUP or SIGQUIT; the file is completed in every case. SIGUSR1 pauses "
              "it (the pictures and the sound), and SIGUSR1 again continues it. Files above "
              "2 GiB continue as OpenDML (AVI 2.0) parts. A frame in which nothing inside the "
              "area changed is written as an empty chunk, which players show as the frame "
              "before; --every-frame writes it in full. When standard error is a terminal, a line "
              "rewritten about once a second tells the time recorded, the file's size and the "
              "rate achieved. With --sound the file has a second stream of 48 kHz stereo sound "
              "from the sound server, in step with the pictures; without a server or device "
              "the recording goes on without it and says \"No sound: REASON\" once.",
   .Options = kRecordOptions},
  {.Name = "photo", .Arguments = "FILE.gif|FILE.jpg|FILE.bmp",
   .Summary = "take one picture of an area of the screen",
   .Details = "The file name's extension chooses the format. The area taken is printed on "
              "standard output as FILE: LEFT,TOP,WIDTH,HEIGHT.",
   .Options = kPhotoOptions},
  {.Name = "codecs", .Arguments = "",
   .Summary = "list the video compressors: code, a tab, description",
   .Details = "DIB stores uncompressed frames.",
   .Options = kOnlyHelp},
  {.Name = "monitors", .Arguments = "",
   .Summary = "list the monitors of the X screen: NAME WxH+X+Y, primary, and the scale",
   .Details = "One line each, in the order of xrandr --listmonitors, which numbers them from 0: "
              "the name, the size and place in device pixels, \"primary\" for the primary "
              "monitor, and \"scale S\", the scale the toolkit draws windows with there "
              "(QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS, Xft.dpi).",
   .Options = kOnlyHelp},
  {.Name = "sounds", .Arguments = "",
   .Summary = "list the sound inputs the sound server offers: name, kind, description",
   .Details = "A monitor hears an output; \"--sound desktop\" takes the default output's.",
   .Options = kOnlyHelp},
  {.Name = "export", .Arguments = "FILE.avi OUT.mp4|OUT.webm|OUT.mkv|OUT.gif",
   .Summary = "make a copy of a recording to share: MP4, WebM, Matroska or animated GIF",
   .Details = "The extension chooses the kind: .mp4 (H264 and AAC sound, ready to stream), .webm "
              "(VP9 and Opus), .mkv (H264 and the sound as PCM or Opus), .gif (an animation that "
              "loops forever). H264 recordings go into MP4 and Matroska unchanged unless --width "
              "or --fps asks for new pictures; others are encoded. A repeated picture makes the "
              "one before it last longer, in every kind. The file appears under its name only "
              "when it is complete; an interrupted recording is read as repair would complete "
              "it, and the recording itself is never changed. When standard error is a "
              "terminal, a line rewritten in place tells the percentage done and the time left.",
   .Options = kExportOptions},
  {.Name = "repair", .Arguments = "FILE.avi",
   .Summary = "complete a recording that was cut off (a crash, a power cut)",
   .Details = "", .Options = kOnlyHelp},
};

constexpr OptionHelp kExitCodes[] = {
  {.Name = "0", .Value = "", .Text = "the work is done (a recording stopped by --seconds or a signal)"},
  {.Name = "1", .Value = "", .Text = "it failed; the reason is on standard error (a recording "
                                     "that could not go on still completes its file)"},
  {.Name = "2", .Value = "", .Text = "a bad command line"},
};

constexpr OptionHelp kEnvironment[] = {
  {.Name = "DISPLAY", .Value = "", .Text = "the X display whose screen is recorded"},
  {.Name = "XDG_SESSION_TYPE", .Value = "",
   .Text = "\"wayland\" (or a set WAYLAND_DISPLAY) makes the portal the default source"},
};
// clang-format on

// The words of text in lines of at most width characters, each begun with indent.
QString Wrapped(const char* text, int width, const QString& indent) {
  QString out;
  QString line = indent;
  for (const QString& word : QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (line.size() > indent.size() && line.size() + 1 + word.size() > width) {
      out += line + QLatin1Char('\n');
      line = indent;
    }
    if (line.size() > indent.size()) line += QLatin1Char(' ');
    line += word;
  }
  return out + line + QLatin1Char('\n');
}

}  // namespace

std::span<const CommandHelp> CommandTable() {
  return kCommands;
}

const CommandHelp* FindCommand(const QString& name) {
  for (const CommandHelp& command : kCommands)
    if (name == QLatin1String(command.Name)) return &command;
  return nullptr;
}

const char* ToolDescription() {
  return "quillmark-capture records an area of the screen into an AVI file, or takes one "
         "still picture of it, from a shell or a script: on X11 directly, on Wayland desktops "
         "through the desktop's screen-sharing portal. It is the command-line companion of "
         "quillmark(1) and writes the same files.";
}

std::span<const OptionHelp> ExitCodes() {
  return kExitCodes;
}

std::span<const OptionHelp> EnvironmentHelp() {
  return kEnvironment;
}

QString OptionSynopsis(const OptionHelp& option) {
  QString text = QLatin1String(option.Name);
  if (*option.Value) text += QLatin1Char(' ') + QLatin1String(option.Value);
  return text;
}

QString UsageText() {
  QString text =
      QStringLiteral("usage: quillmark-capture COMMAND ARGUMENTS [OPTIONS]\n\ncommands:\n");
  for (const CommandHelp& command : kCommands) {
    text += QStringLiteral("  ") + QLatin1String(command.Name);
    if (*command.Arguments) text += QLatin1Char(' ') + QLatin1String(command.Arguments);
    text += QLatin1Char('\n') + Wrapped(command.Summary, 78, QStringLiteral("      "));
  }
  text += QStringLiteral(
      "\n\"quillmark-capture COMMAND --help\" lists a command's options;\n"
      "\"quillmark-capture --version\" prints the version.\n");
  return text;
}

namespace {

QString UsageLine(const CommandHelp& command) {
  QString text = QStringLiteral("usage: quillmark-capture ") + QLatin1String(command.Name);
  if (*command.Arguments) text += QLatin1Char(' ') + QLatin1String(command.Arguments);
  if (command.Options.size() > 1) text += QStringLiteral(" [OPTIONS]");
  return text;
}

}  // namespace

QString MistakeText(const QString& error, const CommandHelp* command) {
  return QStringLiteral("quillmark-capture: ") + error + QLatin1Char('\n') +
         (command ? UsageLine(*command)
                  : QStringLiteral("usage: quillmark-capture COMMAND ARGUMENTS [OPTIONS]")) +
         QStringLiteral("\nsee --help\n");
}

QString CommandUsage(const CommandHelp& command) {
  QString text = UsageLine(command);
  text += QStringLiteral("\n\n") + Wrapped(command.Summary, 78, QString());
  if (*command.Details) text += Wrapped(command.Details, 78, QString());
  text += QStringLiteral("\noptions:\n");
  for (const OptionHelp& option : command.Options) {
    text += QStringLiteral("  ") + OptionSynopsis(option) + QLatin1Char('\n') +
            Wrapped(option.Text, 78, QStringLiteral("      "));
  }
  return text;
}

QString VersionText() {
  return QStringLiteral("quillmark-capture (Quillmark) ") + QLatin1String(QM_VERSION) +
         QLatin1Char('\n');
}

}  // namespace qm::cli
