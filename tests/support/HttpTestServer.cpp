#include "support/HttpTestServer.h"

#include <QTcpSocket>

namespace qm::test {

HttpTestServer::HttpTestServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  QObject::connect(&server_, &QTcpServer::newConnection, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Read(socket); });
    }
  });
}

QString HttpTestServer::Base() const {
  return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
}

void HttpTestServer::Read(QTcpSocket* socket) {
  QByteArray& data = pending_[socket];
  data += socket->readAll();
  const qsizetype end = data.indexOf("\r\n\r\n");
  if (end < 0) return;
  const QList<QByteArray> lines = data.left(end).split('\n');
  Request request{lines[0].trimmed(), {}};
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const qsizetype colon = lines[i].indexOf(':');
    request.headers[lines[i].left(colon).toLower()] = lines[i].mid(colon + 1).trimmed();
  }
  requests.push_back(request);
  data.clear();
  if (handler) handler(socket);
}

void SendHttp(QTcpSocket* socket, const QByteArray& head, const QByteArray& body) {
  socket->write(head + "Connection: close\r\n\r\n" + body);
  socket->disconnectFromHost();
}

HttpTestServer::Handler HttpReply(int status, const QByteArray& body, const QByteArray& headers) {
  return [=](QTcpSocket* socket) {
    SendHttp(socket,
             "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: text/plain\r\n" +
                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + headers,
             body);
  };
}

}  // namespace qm::test
