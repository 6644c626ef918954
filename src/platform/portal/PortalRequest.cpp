#include "platform/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <atomic>

namespace qm {

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

std::atomic<unsigned> gTokens{0};

}  // namespace

QString PortalService() {
  return QStringLiteral("org.freedesktop.portal.Desktop");
}

QString PortalPath() {
  return QStringLiteral("/org/freedesktop/portal/desktop");
}

QString PortalToken() {
  return QStringLiteral("quillmark%1").arg(++gTokens);
}

QDBusMessage PortalPropertyCall(const QString& interface, const QString& name) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      PortalService(), PortalPath(), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  call << interface << name;
  return call;
}

PortalRequest::PortalRequest(QDBusConnection bus, const QString& interface, const QString& method,
                             const QVariantList& args, QVariantMap options, int callTimeoutMs,
                             QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      interface_(interface),
      method_(method),
      args_(args),
      callTimeoutMs_(callTimeoutMs) {
  const QString token = PortalToken();
  options[QStringLiteral("handle_token")] = token;
  args_ << options;
  // The portal names the Request object after the caller's unique name and the token.
  QString sender = bus_.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  listened_ = PortalPath() + QStringLiteral("/request/%1/%2").arg(sender, token);
}

PortalRequest::~PortalRequest() {
  StopListening();
}

void PortalRequest::Listen(const QString& path) {
  listened_ = path;
  bus_.connect(PortalService(), listened_, kRequestInterface, QStringLiteral("Response"), this,
               SLOT(OnResponse(uint, QVariantMap)));
}

void PortalRequest::StopListening() {
  if (listened_.isEmpty()) return;
  bus_.disconnect(PortalService(), listened_, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(OnResponse(uint, QVariantMap)));
  listened_.clear();
}

void PortalRequest::Start() {
  // Listening before the call, so an answer that comes at once is not missed.
  Listen(listened_);
  auto* gone = new QDBusServiceWatcher(PortalService(), bus_,
                                       QDBusServiceWatcher::WatchForUnregistration, this);
  connect(gone, &QDBusServiceWatcher::serviceUnregistered, this, &PortalRequest::OnGone);
  QDBusMessage call =
      QDBusMessage::createMethodCall(PortalService(), PortalPath(), interface_, method_);
  call.setArguments(args_);
  auto* reply = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs_), this);
  connect(reply, &QDBusPendingCallWatcher::finished, this, &PortalRequest::OnReply);
}

void PortalRequest::OnReply(QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  if (done_) return;
  const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
  if (reply.isError()) {
    Finish();
    emit Failed(reply.error().message().isEmpty() ? reply.error().name() : reply.error().message());
    return;
  }
  const QString handle = reply.value().path();
  if (handle != listened_) {
    // An older portal names its own Request object.
    StopListening();
    Listen(handle);
  }
}

void PortalRequest::OnResponse(uint response, const QVariantMap& results) {
  if (done_) return;
  Finish();
  emit Answered(response, results);
}

void PortalRequest::OnGone() {
  if (done_) return;
  Finish();
  emit Failed(QStringLiteral("the desktop portal went away"));
}

void PortalRequest::Finish() {
  done_ = true;
  StopListening();
}

}  // namespace qm
