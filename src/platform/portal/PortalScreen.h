#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

#include "common/ScreenSource.h"

namespace qm {

class PipeWireSource;

// The screen as the desktop's ScreenCast portal shares it: a session on the session bus
// (CreateSession, SelectSources with monitors and windows, Start, which shows the desktop's
// dialog unless a restore token lets it pass, OpenPipeWireRemote) and the PipeWire stream it
// names. The calls wait for the portal's answers in a local event loop, on the thread that owns
// the object; the pictures are read on any thread. The session is closed when the object goes.
class PortalScreen : public QObject, public ScreenSource {
  Q_OBJECT

 public:
  enum class Outcome {
    Shared,      // the stream runs and has delivered its first picture
    NotAllowed,  // the user refused or cancelled the dialog
    Failed,      // no portal, no ScreenCast, or a step failed: Failure() says why
  };

  PortalScreen();
  ~PortalScreen() override;
  PortalScreen(const PortalScreen&) = delete;
  PortalScreen& operator=(const PortalScreen&) = delete;

  // True when the session bus has a portal that offers ScreenCast.
  static bool Offered();
  // True when the portal can report the cursor beside the pictures.
  static bool CursorReportOffered();
  // Why following the cursor is not available where the desktop cannot report it.
  static QString NoCursorReportMessage();
  // True when the portal can share a single window.
  static bool WindowOffered();
  // True when the desktop session is a Wayland one.
  static bool WaylandSession();
  // Whether the screen is read through the portal, for the setting "Source": "portal" always,
  // "x11" never, anything else ("auto") on a Wayland session whose portal offers ScreenCast.
  static bool Chosen(const QString& source);

  // What the desktop's dialog offers to share.
  enum class Kind {
    MonitorOrWindow,
    Window,  // a window only: the recording follows one program's window
  };

  // Asks for the screen. restoreToken (may be empty) is the token of an earlier session, which
  // lets the desktop share the same monitor or window again without asking; one the portal
  // refuses is dropped, and the desktop asks with its dialog (once).
  Outcome Open(const QString& restoreToken, Kind kind = Kind::MonitorOrWindow);

  // The token that lets the next session start without the dialog; empty when the desktop gave
  // none. Valid after Open succeeded.
  QString RestoreToken() const { return restoreToken_; }
  // The stream reports the cursor beside its pictures (else the cursor is in them).
  bool CursorReported() const { return cursorMetadata_; }
  QString Failure() const { return failure_; }
  static QString NotAllowedMessage();

  bool Read(const std::function<void(const SourcePicture&)>& read) override;
  Rect Bounds() override;
  bool Lost() override;

 private slots:
  void OnClosed(const QVariantMap& details);

 private:
  // Calls a ScreenCast method that answers through a Request object; false (with failure_ set)
  // when the call failed; else response and results hold the answer.
  bool Request(const QString& method, const QVariantList& args, QVariantMap options, uint& response,
               QVariantMap& results);
  Outcome Fail(const QString& reason);
  // One session from CreateSession to the first picture; tokenRefused tells that the portal
  // refused the restore token given.
  Outcome OpenSession(const QString& restoreToken, Kind kind, bool& tokenRefused);
  void CloseSession();

  QString sessionPath_;
  QString restoreToken_;
  QString failure_;
  bool cursorMetadata_ = false;
  std::unique_ptr<PipeWireSource> stream_;
};

}  // namespace qm
