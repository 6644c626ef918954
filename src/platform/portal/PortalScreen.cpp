#include "platform/portal/PortalScreen.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>

#include "platform/portal/PipeWireSource.h"
#include "platform/portal/PortalRequest.h"

namespace qm {

namespace {

const char* const kScreenCast = "org.freedesktop.portal.ScreenCast";

// Source types and cursor modes as the portal counts them.
constexpr uint kMonitor = 1;
constexpr uint kWindow = 2;
constexpr uint kCursorEmbedded = 2;
constexpr uint kCursorMetadata = 4;
// Kept until the user revokes it: the token outlives the program.
constexpr uint kPersistUntilRevoked = 2;
// How long the stream may take to deliver its first picture once the desktop has agreed.
constexpr int kFirstPictureMs = 10000;

// A portal property; an invalid variant when the portal or the property is missing.
QVariant PortalProperty(const char* name) {
  const QDBusMessage reply = QDBusConnection::sessionBus().call(
      PortalPropertyCall(QString::fromLatin1(kScreenCast), QString::fromLatin1(name)), QDBus::Block,
      5000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("v"))
    return {};
  // Both properties read are numbers: anything else counts as missing.
  const QVariant value = reply.arguments().at(0).value<QDBusVariant>().variant();
  return value.metaType() == QMetaType::fromType<uint>() ? value : QVariant();
}

// The answer's value under key when it has the D-Bus type T; else an empty T.
template <class T>
T Answer(const QVariantMap& results, const char* key) {
  const QVariant value = results.value(QLatin1String(key));
  return value.metaType() == QMetaType::fromType<T>() ? value.value<T>() : T();
}

// The node of the first stream in a Start answer's "streams" (a(ua{sv})); false when the answer
// names none, or names them with any other signature.
bool FirstStream(const QVariantMap& results, uint32_t& node) {
  const QVariant value = results.value(QStringLiteral("streams"));
  if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return false;
  const QDBusArgument streams = value.value<QDBusArgument>();
  if (streams.currentSignature() != QLatin1String("a(ua{sv})")) return false;
  bool found = false;
  streams.beginArray();
  if (!streams.atEnd()) {
    QVariantMap properties;
    streams.beginStructure();
    streams >> node >> properties;
    streams.endStructure();
    found = true;
  }
  streams.endArray();
  return found;
}

}  // namespace

PortalScreen::PortalScreen() = default;

PortalScreen::~PortalScreen() {
  stream_.reset();
  CloseSession();
}

void PortalScreen::CloseSession() {
  if (sessionPath_.isEmpty()) return;
  QDBusConnection::sessionBus().disconnect(
      PortalService(), sessionPath_, QStringLiteral("org.freedesktop.portal.Session"),
      QStringLiteral("Closed"), this, SLOT(OnClosed(QVariantMap)));
  const QDBusMessage close = QDBusMessage::createMethodCall(
      PortalService(), sessionPath_, QStringLiteral("org.freedesktop.portal.Session"),
      QStringLiteral("Close"));
  QDBusConnection::sessionBus().call(close, QDBus::Block, 5000);
  sessionPath_.clear();
}

bool PortalScreen::Offered() {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  return PortalProperty("AvailableSourceTypes").toUInt() & kMonitor;
}

bool PortalScreen::WindowOffered() {
  return PortalProperty("AvailableSourceTypes").toUInt() & kWindow;
}

bool PortalScreen::CursorReportOffered() {
  return PortalProperty("AvailableCursorModes").toUInt() & kCursorMetadata;
}

QString PortalScreen::NoCursorReportMessage() {
  return QStringLiteral(
      "This desktop draws the cursor into its pictures without saying where it is: the area "
      "can not follow it");
}

bool PortalScreen::WaylandSession() {
  return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool PortalScreen::Chosen(const QString& source) {
  if (source == QLatin1String("portal")) return true;
  if (source == QLatin1String("x11")) return false;
  return WaylandSession() && Offered();
}

QString PortalScreen::NotAllowedMessage() {
  return QStringLiteral("Screen sharing was not allowed");
}

PortalScreen::Outcome PortalScreen::Fail(const QString& reason) {
  failure_ = reason;
  return Outcome::Failed;
}

bool PortalScreen::Request(const QString& method, const QVariantList& args, QVariantMap options,
                           uint& response, QVariantMap& results) {
  PortalRequest request(QDBusConnection::sessionBus(), QString::fromLatin1(kScreenCast), method,
                        args, std::move(options));
  QEventLoop loop;
  bool answered = false;
  connect(&request, &PortalRequest::Answered, &loop, [&](uint answer, const QVariantMap& values) {
    answered = true;
    response = answer;
    results = values;
    loop.quit();
  });
  connect(&request, &PortalRequest::Failed, &loop, [&](const QString& error) {
    failure_ = QStringLiteral("The desktop's screen sharing failed: ") + error;
    loop.quit();
  });
  request.Start();
  loop.exec();
  return answered;
}

PortalScreen::Outcome PortalScreen::Open(const QString& restoreToken, Kind kind) {
  bool tokenRefused = false;
  const Outcome outcome = OpenSession(restoreToken, kind, tokenRefused);
  if (!tokenRefused) return outcome;
  // A token the portal refuses (hand-edited, or another portal's) is dropped: the dialog asks
  // once more, and its answer brings the next token.
  CloseSession();
  failure_.clear();
  return OpenSession(QString(), kind, tokenRefused);
}

PortalScreen::Outcome PortalScreen::OpenSession(const QString& restoreToken, Kind kind,
                                                bool& tokenRefused) {
  if (!QDBusConnection::sessionBus().isConnected())
    return Fail(QStringLiteral("The desktop offers no screen sharing: no session bus"));
  const QVariant types = PortalProperty("AvailableSourceTypes");
  if (!types.isValid() || !(types.toUInt() & kMonitor))
    return Fail(QStringLiteral("The desktop offers no screen sharing"));
  const uint asked = kind == Kind::Window ? kWindow : kMonitor | kWindow;
  if (kind == Kind::Window && !(types.toUInt() & kWindow))
    return Fail(QStringLiteral("The desktop does not share single windows"));
  const uint cursorModes = PortalProperty("AvailableCursorModes").toUInt();

  uint response = 2;
  QVariantMap results;
  QVariantMap options;
  options[QStringLiteral("session_handle_token")] = PortalToken();
  if (!Request(QStringLiteral("CreateSession"), {}, options, response, results))
    return Outcome::Failed;
  if (response != 0) return Outcome::NotAllowed;
  sessionPath_ = Answer<QString>(results, "session_handle");
  if (sessionPath_.isEmpty()) return Fail(QStringLiteral("The desktop made no sharing session"));
  QDBusConnection::sessionBus().connect(
      PortalService(), sessionPath_, QStringLiteral("org.freedesktop.portal.Session"),
      QStringLiteral("Closed"), this, SLOT(OnClosed(QVariantMap)));
  const QVariant session = QVariant::fromValue(QDBusObjectPath(sessionPath_));

  options.clear();
  options[QStringLiteral("types")] = uint(types.toUInt() & asked);
  options[QStringLiteral("multiple")] = false;
  cursorMetadata_ = cursorModes & kCursorMetadata;
  if (cursorMetadata_)
    options[QStringLiteral("cursor_mode")] = kCursorMetadata;
  else if (cursorModes & kCursorEmbedded)
    options[QStringLiteral("cursor_mode")] = kCursorEmbedded;
  options[QStringLiteral("persist_mode")] = kPersistUntilRevoked;
  if (!restoreToken.isEmpty()) options[QStringLiteral("restore_token")] = restoreToken;
  if (!Request(QStringLiteral("SelectSources"), {session}, options, response, results)) {
    tokenRefused = !restoreToken.isEmpty();
    return Outcome::Failed;
  }
  if (response != 0) return Outcome::NotAllowed;

  options.clear();
  if (!Request(QStringLiteral("Start"), {session, QString()}, options, response, results))
    return Outcome::Failed;
  // 1: the user said no; 2: the dialog was cancelled (or the desktop gave up).
  if (response != 0) return Outcome::NotAllowed;
  restoreToken_ = Answer<QString>(results, "restore_token");
  uint32_t node = 0;
  const bool found = FirstStream(results, node);
  if (!found) return Fail(QStringLiteral("The desktop shared no stream"));

  QDBusMessage open = QDBusMessage::createMethodCall(PortalService(), PortalPath(),
                                                     QString::fromLatin1(kScreenCast),
                                                     QStringLiteral("OpenPipeWireRemote"));
  open << session << QVariantMap();
  const QDBusMessage remote = QDBusConnection::sessionBus().call(open, QDBus::Block, 30000);
  if (remote.type() != QDBusMessage::ReplyMessage || remote.signature() != QLatin1String("h"))
    return Fail(QStringLiteral("The desktop's screen sharing failed: ") + remote.errorMessage());
  const QDBusUnixFileDescriptor fd = remote.arguments().at(0).value<QDBusUnixFileDescriptor>();
  const int own = fd.isValid() ? fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
  if (own < 0) return Fail(QStringLiteral("The desktop handed out no PipeWire connection"));

  stream_ = std::make_unique<PipeWireSource>(own, node);
  if (!stream_->Start(kFirstPictureMs))
    return Fail(QStringLiteral("The desktop's screen stream delivered no picture"));
  return Outcome::Shared;
}

void PortalScreen::OnClosed(const QVariantMap&) {
  if (stream_) stream_->End();
}

bool PortalScreen::Read(const std::function<void(const SourcePicture&)>& read) {
  return stream_ && stream_->Read(read);
}

bool PortalScreen::Lost() {
  return stream_ && stream_->Lost();
}

Rect PortalScreen::Bounds() {
  return stream_ ? stream_->Bounds() : Rect();
}

}  // namespace qm
