#include "local_http_server.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <memory>

namespace trelvi::test {

namespace {

// A request head larger than this is not one the checker sends.
constexpr qint64 kMaxRequestHead = 16 * 1024;

QByteArray ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

QByteArray HeaderValue(const QByteArray& head, const QByteArray& name) {
  for (const QByteArray& line : head.split('\n')) {
    const qsizetype colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
      return line.mid(colon + 1).trimmed();
    }
  }
  return {};
}

}  // namespace

QByteArray HttpReply(int status, const QByteArray& body,
                     const QByteArray& extraHeaders) {
  return "HTTP/1.1 " + QByteArray::number(status) + " " + ReasonPhrase(status) +
         "\r\nContent-Type: text/plain\r\nConnection: close\r\n"
         "Content-Length: " +
         QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" +
         body;
}

LocalHttpServer::LocalHttpServer() {
  QObject::connect(&server_, &QTcpServer::newConnection, &server_,
                   [this] { Accept(); });
  if (!server_.listen(QHostAddress::LocalHost, 0)) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1: "
                  << server_.errorString().toStdString();
  }
}

LocalHttpServer::~LocalHttpServer() { server_.close(); }

QString LocalHttpServer::Address() const {
  return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
}

void LocalHttpServer::SetReply(const QByteArray& path, const QByteArray& raw,
                               bool keepOpen) {
  replies_[path] = Canned{raw, keepOpen};
}

void LocalHttpServer::Release() {
  holding_ = false;
  auto held = std::move(held_);
  held_.clear();
  for (auto& [socket, path] : held) {
    if (socket) Answer(socket, path);
  }
}

void LocalHttpServer::Accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    QObject::connect(socket, &QTcpSocket::disconnected, socket,
                     &QObject::deleteLater);
    auto head = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
      if (head->endsWith("\r\n\r\n")) return;  // answered already
      *head += socket->read(kMaxRequestHead - head->size());
      const qsizetype end = head->indexOf("\r\n\r\n");
      if (end < 0) {
        if (head->size() >= kMaxRequestHead) socket->abort();
        return;
      }
      head->truncate(end + 4);
      const QList<QByteArray> requestLine =
          head->left(head->indexOf("\r\n")).split(' ');
      const QByteArray target = requestLine.value(1);
      requests_.push_back({target, HeaderValue(*head, "User-Agent")});
      const qsizetype query = target.indexOf('?');
      const QByteArray path = query < 0 ? target : target.left(query);
      if (holding_) {
        held_.emplace_back(socket, path);
      } else {
        Answer(socket, path);
      }
    });
  }
}

void LocalHttpServer::Answer(QTcpSocket* socket, const QByteArray& path) {
  const auto it = replies_.find(path);
  const Canned canned =
      it != replies_.end() ? it->second : Canned{HttpReply(404, "")};
  socket->write(canned.Raw);
  if (!canned.KeepOpen) socket->disconnectFromHost();
}

}  // namespace trelvi::test
