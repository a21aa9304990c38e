#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
#include <QUrl>
#include <optional>

namespace trelvi {

// The update server's address (scheme, host, optional port) this build was
// configured with.
QString DefaultUpdateServer();

// The request URL: the server address, "/version.php" and the query naming
// the product and this build.
QUrl UpdateRequestUrl(const QString& serverAddress, const QString& id);

// The first line of a reply body (lines end at CR, LF or CR LF); nothing when
// the body has no line at all.
std::optional<QString> FirstReplyLine(const QByteArray& body);

// Asks the update server on its own thread whether a version other than
// CurrVersion exists. Constructed idle; the owner sets the inputs, calls
// Start, polls Finished and reads NewVersion only after Finished is true.
// Any failure of the request leaves NewVersion false.
class TCheckVersion : public QThread {
 public:
  TCheckVersion();
  // Does not wait for the server: a request still running is aborted.
  ~TCheckVersion() override;
  TCheckVersion(const TCheckVersion&) = delete;
  TCheckVersion& operator=(const TCheckVersion&) = delete;

  // Inputs, written before Start.
  QString CurrVersion;
  QString ServerAddress = DefaultUpdateServer();
  QString Id;
  // A server that accepts the connection and then falls silent must not
  // keep the check running for the rest of the session.
  int TransferTimeoutMs;

  // Result, read after Finished.
  bool NewVersion = false;

  void Start() { start(); }
  bool Finished() const { return isFinished(); }

 protected:
  void run() override { Execute(); }

 private:
  void Execute();
  // The reply's bytes up to the end of its first line (or up to a small
  // bound); nothing when the request failed.
  std::optional<QByteArray> FetchReplyStart();
};

}  // namespace trelvi
