#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>
#include <ostream>
#include <vector>

namespace trelvi::test {

// A complete HTTP/1.1 response that closes the connection.
QByteArray HttpReply(int status, const QByteArray& body,
                     const QByteArray& extraHeaders = {});

// An HTTP server on 127.0.0.1 with canned replies by path, served from the
// thread that creates it whenever that thread handles its events. It stops
// with its owner; requests it has not answered are then dropped.
class LocalHttpServer {
 public:
  struct Request {
    QByteArray Target;  // path and query as sent
    QByteArray UserAgent;
  };

  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // "http://127.0.0.1:<port>".
  QString Address() const;

  // The raw bytes sent for requests of this path (without query). With
  // keepOpen the connection stays open after them, as if the server went
  // on sending. Paths without a reply get 404.
  void SetReply(const QByteArray& path, const QByteArray& raw,
                bool keepOpen = false);
  // While holding, requests are recorded but left unanswered.
  void Hold() { holding_ = true; }
  // Answers the held requests and stops holding.
  void Release();

  const std::vector<Request>& Requests() const { return requests_; }

 private:
  struct Canned {
    QByteArray Raw;
    bool KeepOpen = false;
  };

  void Accept();
  void Answer(QTcpSocket* socket, const QByteArray& path);

  QTcpServer server_;
  std::map<QByteArray, Canned> replies_;
  std::vector<Request> requests_;
  std::vector<std::pair<QPointer<QTcpSocket>, QByteArray>> held_;
  bool holding_ = false;
};

}  // namespace trelvi::test

// Readable failure messages for texts shown by the update check.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
