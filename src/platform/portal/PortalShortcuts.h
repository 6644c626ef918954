#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace qm {

class PortalRequest;

// Keyboard shortcuts that the desktop itself watches, through its GlobalShortcuts portal
// (Wayland desktops, where no program sees the keys that go to another). Bind makes a session
// and hands the desktop the shortcuts with their descriptions and preferred keys; the desktop
// may ask the user, and decides the keys in the end (Triggers). A session binds once, so
// binding again closes the session and makes a new one. Every call is asynchronous: nothing
// here waits on the thread that owns the object (the user-interface thread).
class PortalShortcuts : public QObject {
  Q_OBJECT

 public:
  struct Shortcut {
    QString id;           // the setting name, "StartMovie"
    QString description;  // what the user reads, "To start taking movie"
    // The preferred keys as the portal writes triggers, "CTRL+ALT+s"; empty for none.
    QString trigger;
  };

  enum class State {
    Idle,     // nothing bound yet
    Binding,  // the portal or the user has not answered yet
    Bound,    // the desktop watches the keys
    Refused,  // the user refused or cancelled, or the desktop bound none
    Failed,   // a call failed, timed out, or the portal left the bus
    Missing,  // the bus has no portal that offers GlobalShortcuts
  };

  explicit PortalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);
  ~PortalShortcuts() override;
  PortalShortcuts(const PortalShortcuts&) = delete;
  PortalShortcuts& operator=(const PortalShortcuts&) = delete;

  // Binds the shortcuts in a new session (closing an earlier one); Activated reports a
  // shortcut by its position in this list.
  void Bind(std::vector<Shortcut> shortcuts);

  State GetState() const { return state_; }
  // Why the bind failed (the portal's error, no answer in time); empty unless Failed.
  const QString& Failure() const { return failure_; }
  // The keys the desktop reports, by shortcut id, in its own words ("Ctrl+Alt+S"); only the
  // shortcuts it bound are present.
  const QHash<QString, QString>& Triggers() const { return triggers_; }

  // How long a portal call may take before the bind counts as failed.
  static constexpr int kCallTimeoutMs = 10000;

 signals:
  // The user pressed the keys of the shortcut at index in the bound list.
  void Activated(int index);
  // GetState or Triggers changed.
  void Changed();

 private slots:
  void OnActivated(const QDBusMessage& message);
  void OnShortcutsChanged(const QDBusMessage& message);
  void OnSessionClosed(const QDBusMessage& message);

 private:
  void OnVersion(QDBusPendingCallWatcher* reply, unsigned generation);
  void CreateSession();
  void BindInSession();
  void TakeShortcuts(const QVariant& shortcuts);
  void CloseSession();
  void SetState(State state, const QString& failure = {});
  // A portal request of the current bind; its answer is dropped once another bind started.
  PortalRequest* NewRequest(const QString& method, const QVariantList& args,
                            const QVariantMap& options);
  void DropRequest();

  QDBusConnection bus_;
  std::vector<Shortcut> shortcuts_;
  State state_ = State::Idle;
  QString failure_;
  QString session_;
  QHash<QString, QString> triggers_;
  unsigned generation_ = 0;  // counts the binds, so a late answer of an earlier one is dropped
  std::unique_ptr<PortalRequest> request_;
};

}  // namespace qm
