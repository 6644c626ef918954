#include "platform/portal/PortalShortcuts.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "platform/portal/PortalRequest.h"

namespace qm {

// One shortcut as the portal passes it: its id and a dictionary of what is known of it.
struct PortalShortcutEntry {
  QString id;
  QVariantMap values;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcutEntry& entry) {
  argument.beginStructure();
  argument << entry.id << entry.values;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcutEntry& entry) {
  argument.beginStructure();
  argument >> entry.id >> entry.values;
  argument.endStructure();
  return argument;
}

}  // namespace qm

Q_DECLARE_METATYPE(qm::PortalShortcutEntry)

namespace qm {

namespace {

using Entries = QList<PortalShortcutEntry>;

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// A path the portal may send as a string or as an object path.
QString PathText(const QVariant& value) {
  return value.metaType() == QMetaType::fromType<QDBusObjectPath>()
             ? value.value<QDBusObjectPath>().path()
             : value.toString();
}

}  // namespace

PortalShortcuts::PortalShortcuts(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  qDBusRegisterMetaType<PortalShortcutEntry>();
  qDBusRegisterMetaType<Entries>();
  bus_.connect(PortalService(), PortalPath(), kInterface, QStringLiteral("Activated"), this,
               SLOT(OnActivated(QDBusMessage)));
  bus_.connect(PortalService(), PortalPath(), kInterface, QStringLiteral("ShortcutsChanged"), this,
               SLOT(OnShortcutsChanged(QDBusMessage)));
}

PortalShortcuts::~PortalShortcuts() {
  ++generation_;
  bus_.disconnect(PortalService(), PortalPath(), kInterface, QStringLiteral("Activated"), this,
                  SLOT(OnActivated(QDBusMessage)));
  bus_.disconnect(PortalService(), PortalPath(), kInterface, QStringLiteral("ShortcutsChanged"),
                  this, SLOT(OnShortcutsChanged(QDBusMessage)));
  CloseSession();
}

void PortalShortcuts::SetState(State state, const QString& failure) {
  // A session that binds nothing is of no more use.
  if (state == State::Refused || state == State::Failed) CloseSession();
  state_ = state;
  failure_ = failure;
  emit Changed();
}

void PortalShortcuts::Bind(std::vector<Shortcut> shortcuts) {
  const unsigned generation = ++generation_;
  CloseSession();
  DropRequest();
  shortcuts_ = std::move(shortcuts);
  triggers_.clear();
  if (!bus_.isConnected()) return SetState(State::Missing);
  SetState(State::Binding);
  const QDBusMessage get = PortalPropertyCall(kInterface, QStringLiteral("version"));
  auto* reply = new QDBusPendingCallWatcher(bus_.asyncCall(get, kCallTimeoutMs), this);
  connect(reply, &QDBusPendingCallWatcher::finished, this,
          [this, generation](QDBusPendingCallWatcher* answer) { OnVersion(answer, generation); });
}

void PortalShortcuts::OnVersion(QDBusPendingCallWatcher* answer, unsigned generation) {
  answer->deleteLater();
  if (generation != generation_) return;
  const QDBusPendingReply<QDBusVariant> reply = *answer;
  if (reply.isError()) {
    // A portal that does not answer in time is there but stuck; any other error means the
    // desktop has no such portal.
    if (reply.error().type() == QDBusError::NoReply || reply.error().type() == QDBusError::Timeout)
      return SetState(State::Failed, reply.error().message());
    return SetState(State::Missing);
  }
  if (reply.value().variant().toUInt() < 1) return SetState(State::Missing);
  CreateSession();
}

PortalRequest* PortalShortcuts::NewRequest(const QString& method, const QVariantList& args,
                                           const QVariantMap& options) {
  DropRequest();
  request_ =
      std::make_unique<PortalRequest>(bus_, kInterface, method, args, options, kCallTimeoutMs);
  connect(request_.get(), &PortalRequest::Failed, this,
          [this](const QString& error) { SetState(State::Failed, error); });
  return request_.get();
}

void PortalShortcuts::DropRequest() {
  if (!request_) return;
  // It may still be emitting the answer that led here: it goes once that is done, and says
  // nothing more.
  disconnect(request_.get(), nullptr, this, nullptr);
  request_.release()->deleteLater();
}

void PortalShortcuts::CreateSession() {
  PortalRequest* request = NewRequest(QStringLiteral("CreateSession"), {},
                                      {{QStringLiteral("session_handle_token"), PortalToken()}});
  connect(request, &PortalRequest::Answered, this,
          [this](uint response, const QVariantMap& results) {
            const QString session = PathText(results.value(QStringLiteral("session_handle")));
            if (response != 0 || session.isEmpty())
              return SetState(State::Failed, QStringLiteral("the desktop made no session"));
            session_ = session;
            bus_.connect(PortalService(), session_, kSessionInterface, QStringLiteral("Closed"),
                         this, SLOT(OnSessionClosed(QDBusMessage)));
            BindInSession();
          });
  request->Start();
}

void PortalShortcuts::BindInSession() {
  Entries entries;
  for (const Shortcut& shortcut : shortcuts_) {
    PortalShortcutEntry entry{shortcut.id, {{QStringLiteral("description"), shortcut.description}}};
    if (!shortcut.trigger.isEmpty())
      entry.values[QStringLiteral("preferred_trigger")] = shortcut.trigger;
    entries << entry;
  }
  // No parent window: the desktop places its dialog itself.
  PortalRequest* request = NewRequest(
      QStringLiteral("BindShortcuts"),
      {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(entries), QString()},
      {});
  connect(request, &PortalRequest::Answered, this,
          [this](uint response, const QVariantMap& results) {
            if (response != 0) return SetState(State::Refused);
            TakeShortcuts(results.value(QStringLiteral("shortcuts")));
            SetState(triggers_.isEmpty() ? State::Refused : State::Bound);
          });
  request->Start();
}

void PortalShortcuts::TakeShortcuts(const QVariant& shortcuts) {
  triggers_.clear();
  if (!shortcuts.canConvert<QDBusArgument>()) return;
  const QDBusArgument argument = shortcuts.value<QDBusArgument>();
  if (argument.currentSignature() != QLatin1String("a(sa{sv})")) return;
  for (const PortalShortcutEntry& entry : qdbus_cast<Entries>(argument)) {
    for (const Shortcut& shortcut : shortcuts_) {
      if (shortcut.id == entry.id)
        triggers_.insert(entry.id,
                         entry.values.value(QStringLiteral("trigger_description")).toString());
    }
  }
}

void PortalShortcuts::OnActivated(const QDBusMessage& message) {
  const QVariantList args = message.arguments();
  if (state_ != State::Bound || args.size() < 2 || PathText(args.at(0)) != session_) return;
  const QString id = args.at(1).toString();
  for (size_t i = 0; i < shortcuts_.size(); ++i) {
    if (shortcuts_[i].id == id) {
      emit Activated(int(i));
      return;
    }
  }
}

void PortalShortcuts::OnShortcutsChanged(const QDBusMessage& message) {
  const QVariantList args = message.arguments();
  if (state_ != State::Bound || args.size() < 2 || PathText(args.at(0)) != session_) return;
  TakeShortcuts(args.at(1));
  emit Changed();
}

void PortalShortcuts::OnSessionClosed(const QDBusMessage&) {
  bus_.disconnect(PortalService(), session_, kSessionInterface, QStringLiteral("Closed"), this,
                  SLOT(OnSessionClosed(QDBusMessage)));
  session_.clear();
  triggers_.clear();
  SetState(State::Failed, QStringLiteral("the desktop closed the shortcuts' session"));
}

void PortalShortcuts::CloseSession() {
  if (session_.isEmpty()) return;
  bus_.disconnect(PortalService(), session_, kSessionInterface, QStringLiteral("Closed"), this,
                  SLOT(OnSessionClosed(QDBusMessage)));
  // Nothing waits for the answer.
  bus_.send(QDBusMessage::createMethodCall(PortalService(), session_, kSessionInterface,
                                           QStringLiteral("Close")));
  session_.clear();
}

}  // namespace qm
