#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <map>
#include <vector>

class QTcpSocket;

namespace qm::test {

// An HTTP server on 127.0.0.1 (a port of its own) that records each request's line and
// headers and answers it with handler. It runs on the event loop of the thread that made it.
class HttpTestServer {
 public:
  struct Request {
    QByteArray line;                           // "GET /path HTTP/1.1"
    std::map<QByteArray, QByteArray> headers;  // names in lower case
  };
  using Handler = std::function<void(QTcpSocket*)>;

  HttpTestServer();

  // "http://127.0.0.1:PORT"
  QString Base() const;

  Handler handler;
  std::vector<Request> requests;

 private:
  void Read(QTcpSocket* socket);

  QTcpServer server_;
  std::map<QTcpSocket*, QByteArray> pending_;
};

// Writes head (status line and headers, each ended by CR LF), "Connection: close", the empty
// line and body, then closes the connection.
void SendHttp(QTcpSocket* socket, const QByteArray& head, const QByteArray& body);
// Answers with status and body, its length announced; headers are more header lines.
HttpTestServer::Handler HttpReply(int status, const QByteArray& body,
                                  const QByteArray& headers = {});

}  // namespace qm::test
