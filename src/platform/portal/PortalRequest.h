#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class QDBusPendingCallWatcher;

namespace qm {

// The desktop portal's service, object and the path of its Request and Session objects.
QString PortalService();
QString PortalPath();
// A fresh token for a Request's or a Session's last path element, unique in this process.
QString PortalToken();
// The call that reads property name of one of the portal's interfaces.
QDBusMessage PortalPropertyCall(const QString& interface, const QString& name);

// One call of a portal method that answers through a Request object: the call goes out
// without waiting, and Answered (the Request's Response) or Failed (the call was refused, did
// not answer within its time, or the portal left the bus) comes once, later, from the event
// loop. The user may take any time over the desktop's dialog, so the Response itself has no
// time limit; deleting the object drops the answer. Thread that owns it only.
class PortalRequest : public QObject {
  Q_OBJECT

 public:
  // interface.method(args..., options) with a handle_token added to options.
  PortalRequest(QDBusConnection bus, const QString& interface, const QString& method,
                const QVariantList& args, QVariantMap options, int callTimeoutMs = 30000,
                QObject* parent = nullptr);
  ~PortalRequest() override;
  PortalRequest(const PortalRequest&) = delete;
  PortalRequest& operator=(const PortalRequest&) = delete;

  // Sends the call; connect to the signals first.
  void Start();

 signals:
  // 0: done; 1: the user refused; 2: cancelled or ended otherwise.
  void Answered(uint response, const QVariantMap& results);
  void Failed(const QString& error);

 private slots:
  void OnResponse(uint response, const QVariantMap& results);
  void OnReply(QDBusPendingCallWatcher* reply);
  void OnGone();

 private:
  void Listen(const QString& path);
  void StopListening();
  void Finish();

  QDBusConnection bus_;
  QString interface_;
  QString method_;
  QVariantList args_;
  int callTimeoutMs_;
  QString listened_;  // the Request object whose Response is awaited
  bool done_ = false;
};

}  // namespace qm
