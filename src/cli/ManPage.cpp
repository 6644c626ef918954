#include "cli/ManPage.h"

#include <QStringList>

#include "cli/CliHelp.h"

namespace qm::cli {

namespace {

// Text as roff prints it: backslashes escaped, a leading dot or quote kept from being a
// request, hyphens as minus signs (so options can be searched and copied).
QString Roff(const QString& text) {
  QString out;
  for (const QChar c : text) {
    if (c == QLatin1Char('\\'))
      out += QStringLiteral("\\e");
    else if (c == QLatin1Char('-'))
      out += QStringLiteral("\\-");
    else
      out += c;
  }
  if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
    out.prepend(QStringLiteral("\\&"));
  return out;
}

QString Roff(const char* text) {
  return Roff(QString::fromUtf8(text));
}

QString Header(const char* name, const QString& date, const char* title) {
  return QStringLiteral(".TH %1 1 %2 \"Quillmark %3\" \"%4\"\n")
      .arg(QString::fromLatin1(name).toUpper(), date, QLatin1String(QM_VERSION),
           QLatin1String(title));
}

// A tagged paragraph: the tag in bold, the text below it.
QString Tagged(const QString& tag, const char* text) {
  return QStringLiteral(".TP\n.B %1\n%2\n").arg(tag, Roff(text));
}

// The option in bold and its value in italics, joined by space (in the synopsis, one that
// does not break).
QString OptionTag(const OptionHelp& option, const QString& space = QStringLiteral(" ")) {
  QString tag = QStringLiteral("\\fB") + Roff(option.Name) + QStringLiteral("\\fR");
  if (*option.Value)
    tag += space + QStringLiteral("\\fI") + Roff(option.Value) + QStringLiteral("\\fR");
  return tag;
}

}  // namespace

QString CaptureManPage(const QString& date) {
  QString page = Header("quillmark-capture", date, "User Commands");
  page += QStringLiteral(
      ".SH NAME\nquillmark\\-capture \\- record the X11 screen from the "
      "command line\n.SH SYNOPSIS\n.ad l\n.nh\n");
  for (const CommandHelp& command : CommandTable()) {
    page += QStringLiteral(".B quillmark\\-capture\n.B %1\n").arg(Roff(command.Name));
    if (*command.Arguments) page += QStringLiteral(".I %1\n").arg(Roff(command.Arguments));
    for (const OptionHelp& option : command.Options) {
      if (QLatin1String(option.Name) != QLatin1String("--help"))
        page += QStringLiteral("[%1]\n").arg(OptionTag(option, QStringLiteral("\\ ")));
    }
    page += QStringLiteral(".br\n");
  }
  page += QStringLiteral(".B quillmark\\-capture \\-\\-version\n.ad\n.hy\n.SH DESCRIPTION\n") +
          Roff(ToolDescription()) + QLatin1Char('\n');
  page += QStringLiteral(".SH COMMANDS\n");
  for (const CommandHelp& command : CommandTable()) {
    QString tag = Roff(command.Name);
    if (*command.Arguments) tag += QStringLiteral(" \\fI") + Roff(command.Arguments) + "\\fR";
    page += QStringLiteral(".TP\n.B %1\n%2\n").arg(tag, Roff(command.Summary));
    if (*command.Details) page += QStringLiteral(".IP\n%1\n").arg(Roff(command.Details));
    page += QStringLiteral(".RS\n");
    for (const OptionHelp& option : command.Options)
      page += QStringLiteral(".TP\n%1\n%2\n").arg(OptionTag(option), Roff(option.Text));
    page += QStringLiteral(".RE\n");
  }
  page += QStringLiteral(".SH \"EXIT STATUS\"\n");
  for (const OptionHelp& code : ExitCodes()) page += Tagged(Roff(code.Name), code.Text);
  page += QStringLiteral(".SH ENVIRONMENT\n");
  for (const OptionHelp& variable : EnvironmentHelp())
    page += Tagged(Roff(variable.Name), variable.Text);
  page += QStringLiteral(
      ".SH EXAMPLES\n"
      "Ten seconds of the top left corner at 20 frames per second, with the cursor:\n"
      ".PP\n.nf\n.RS\nquillmark\\-capture record clip.avi \\-\\-area 0,0,800,600 "
      "\\-\\-fps 20 \\-\\-seconds 10 \\-\\-cursor\n.RE\n.fi\n"
      ".SH \"SEE ALSO\"\n.BR quillmark (1),\n.BR ffprobe (1)\n");
  return page;
}

QString ApplicationManPage(const QString& date, const QString& dataFolder) {
  QString page = Header("quillmark", date, "User Commands");
  page += QStringLiteral(
      ".SH NAME\nquillmark \\- record an area of the X11 screen into AVI files\n"
      ".SH SYNOPSIS\n.B quillmark\n.SH DESCRIPTION\n");
  page += Roff(
      "Quillmark records an area of the screen (the full screen, a fixed-size frame, a window "
      "or a rectangle drawn on a still image of the screen) into an AVI file, at 1 to 32 "
      "frames per second, after a start delay, through a video compressor of libavcodec or "
      "uncompressed. While it records it hides into the notification area (the tray); the "
      "tray menu and four global keyboard shortcuts pause, continue and stop the recording. "
      "It also takes single pictures of the area as GIF, JPEG or BMP files.");
  page += QStringLiteral("\n.PP\n") +
          Roff(
              "Only one Quillmark runs per user; starting it again brings the running one "
              "forward. It takes no options. Help > Help contents opens the help page.") +
          QLatin1Char('\n');
  page += QStringLiteral(".SH FILES\n");
  page += Tagged(QStringLiteral("$XDG_CONFIG_HOME/Zorvek/Quillmark.conf"),
                 "the settings (by default under ~/.config)");
  page += Tagged(QStringLiteral("$XDG_VIDEOS_DIR/Quillmark/"),
                 "the base output folder of videos and photos of an installed Quillmark "
                 "(by default ~/Videos/Quillmark/); a copy that runs from a folder it may "
                 "write uses Captures/ beside the program instead");
  page += Tagged(QStringLiteral("$XDG_STATE_HOME/Quillmark/"),
                 "notes of the recordings under way (by default under ~/.local/state); after a "
                 "crash or a power cut the next start completes the cut-off recording");
  page += Tagged(Roff(dataFolder) + QStringLiteral("/Zorvek/Quillmark/Help/Default.htm"),
                 "the help page");
  page += QStringLiteral(".SH ENVIRONMENT\n");
  page += Tagged(QStringLiteral("DISPLAY"), "the X display; Quillmark needs an X11 session");
  page += Tagged(QStringLiteral("WAYLAND_DISPLAY, XDG_SESSION_TYPE"),
                 "in a Wayland session Quillmark reads the screen through the desktop's "
                 "screen-cast portal; where it reads the X server instead, it warns at start "
                 "that windows of Wayland programs are recorded black");
  page += QStringLiteral(".SH \"SEE ALSO\"\n.BR quillmark\\-capture (1)\n");
  return page;
}

}  // namespace qm::cli
