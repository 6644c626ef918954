#include "cli/ScreenChoice.h"

#include "platform/files/RestoreTokenFile.h"
#include "platform/portal/PortalScreen.h"

namespace qm::cli {

ChosenScreen OpenScreen(const CaptureOptions& options) {
  ChosenScreen chosen;
  const bool portal = options.From == CaptureOptions::Source::Portal ||
                      (options.From == CaptureOptions::Source::Auto &&
                       PortalScreen::Chosen(QStringLiteral("auto")));
  if (!portal) {
    chosen.Ok = true;
    return chosen;
  }
  if (!options.Monitor.isEmpty())
    throw UsageError(
        "--monitor names a monitor of the X screen; with the portal the desktop's "
        "dialog chooses the monitor");
  // The desktop's dialog chooses what is shared: with --window it offers windows only.
  // A token file that is no plain file of the user's stops the run before the dialog.
  QString problem;
  const QString token = options.RestoreTokenFile.isEmpty()
                            ? QString()
                            : ReadRestoreToken(options.RestoreTokenFile, &problem);
  if (!problem.isEmpty()) {
    PrintError(problem);
    return chosen;
  }
  auto screen = std::make_shared<PortalScreen>();
  switch (screen->Open(
      token, options.Window ? PortalScreen::Kind::Window : PortalScreen::Kind::MonitorOrWindow)) {
    case PortalScreen::Outcome::NotAllowed:
      PrintError(PortalScreen::NotAllowedMessage());
      return chosen;
    case PortalScreen::Outcome::Failed:
      PrintError(screen->Failure());
      return chosen;
    case PortalScreen::Outcome::Shared:
      break;
  }
  // The desktop hands out a new token for each session: the file keeps the newest.
  if (!options.RestoreTokenFile.isEmpty() && !screen->RestoreToken().isEmpty() &&
      screen->RestoreToken() != token) {
    if (const QString failure = WriteRestoreToken(options.RestoreTokenFile, screen->RestoreToken());
        !failure.isEmpty())
      PrintError(failure);
  }
  if (options.FollowCursor && !screen->CursorReported())
    PrintError(PortalScreen::NoCursorReportMessage());
  chosen.Ok = true;
  chosen.Source = std::move(screen);
  return chosen;
}

}  // namespace qm::cli
