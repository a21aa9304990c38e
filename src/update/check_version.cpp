#include "update/check_version.h"

#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <memory>

#ifndef TRELVI_UPDATE_URL
#define TRELVI_UPDATE_URL "http://www.trelvitools.com"
#endif

namespace trelvi {

namespace {

// Tells the server which build asks; at most four characters.
constexpr const char* kUpdateId = "lx64";

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12";

// Only the first line counts and it is compared with a short version string,
// so a few kilobytes decide every answer: a longer first line differs from
// the version whether it is cut or not.
constexpr qint64 kMaxReplyBytes = 4096;

// How often the request looks whether its owner wants it gone.
constexpr int kInterruptPollMs = 50;

bool IsSuccess(const QNetworkReply& reply) {
  const QVariant status =
      reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
  if (!status.isValid()) return false;
  const int code = status.toInt();
  return code >= 200 && code <= 299;
}

bool HasLineEnd(const QByteArray& bytes) {
  return bytes.contains('\r') || bytes.contains('\n');
}

}  // namespace

QString DefaultUpdateServer() { return QStringLiteral(TRELVI_UPDATE_URL); }

QUrl UpdateRequestUrl(const QString& serverAddress, const QString& id) {
  QString base = serverAddress;
  while (base.endsWith('/')) base.chop(1);
  QUrl url(base + QStringLiteral("/version.php"));
  url.setQuery(QStringLiteral("software=TrelviTools2&id=") + id);
  return url;
}

std::optional<QString> FirstReplyLine(const QByteArray& body) {
  if (body.isEmpty()) return std::nullopt;
  qsizetype end = 0;
  while (end < body.size() && body[end] != '\r' && body[end] != '\n') ++end;
  return QString::fromUtf8(body.left(end));
}

TCheckVersion::TCheckVersion()
    : Id(QString::fromLatin1(kUpdateId)),
      TransferTimeoutMs(QNetworkRequest::DefaultTransferTimeoutConstant) {
  setObjectName(QStringLiteral("CheckVersionTh"));
}

TCheckVersion::~TCheckVersion() {
  // Destroying a running thread would end the program; the request notices
  // the interruption within one poll and gives up.
  requestInterruption();
  wait();
}

void TCheckVersion::Execute() {
  NewVersion = false;
  const std::optional<QByteArray> reply = FetchReplyStart();
  if (!reply) return;
  const std::optional<QString> firstLine = FirstReplyLine(*reply);
  if (!firstLine || firstLine->isEmpty()) return;
  // Any other text counts as a new version, older ones included; only the
  // letter case may differ.
  const QLocale locale = QLocale::system();
  NewVersion = locale.toUpper(*firstLine) != locale.toUpper(CurrVersion);
}

std::optional<QByteArray> TCheckVersion::FetchReplyStart() {
  // Everything here lives and dies on this thread; the reply is declared
  // after its manager so that it goes first.
  QNetworkAccessManager manager;
  manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
  QNetworkRequest request(UpdateRequestUrl(ServerAddress, Id));
  request.setHeader(QNetworkRequest::UserAgentHeader,
                    QString::fromLatin1(kUserAgent));
  request.setTransferTimeout(TransferTimeoutMs);
  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  reply->setReadBufferSize(kMaxReplyBytes);

  QByteArray body;
  bool decided = false;
  bool failed = false;
  QEventLoop loop;
  auto stop = [&](bool failure) {
    decided = true;
    failed = failure;
    loop.quit();
  };
  auto take = [&] {
    if (decided) return;
    if (!IsSuccess(*reply)) return stop(true);
    body += reply->read(kMaxReplyBytes - body.size());
    // The rest of the body cannot change the answer.
    if (HasLineEnd(body) || body.size() >= kMaxReplyBytes) stop(false);
  };
  QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, take);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [&] {
    if (decided) return;
    if (reply->error() != QNetworkReply::NoError) return stop(true);
    take();
    if (!decided) stop(false);
  });
  QTimer interruptPoll;
  QObject::connect(&interruptPoll, &QTimer::timeout, &loop, [&] {
    if (isInterruptionRequested()) stop(true);
  });
  interruptPoll.start(kInterruptPollMs);
  if (!isInterruptionRequested()) loop.exec();

  // A reply decided early still holds its connection; abort closes it
  // without reading what the server has left to send.
  reply->disconnect();
  if (!reply->isFinished()) reply->abort();
  if (failed || !decided) return std::nullopt;
  return body;
}

}  // namespace trelvi
