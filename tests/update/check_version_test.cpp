#include "update/check_version.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTest>

#include "local_http_server.h"

namespace trelvi {
namespace {

using test::HttpReply;
using test::LocalHttpServer;

// Long enough for any healthy run, short enough that a hang fails the test
// instead of the whole test program.
constexpr int kDeadlineMs = 20000;

// Runs the checker to its end while this thread serves the local server.
bool RunToEnd(TCheckVersion& checker) {
  checker.Start();
  return QTest::qWaitFor([&] { return checker.Finished(); }, kDeadlineMs);
}

// The address of a port nobody listens on.
QString RefusingAddress() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

struct ReplyCase {
  const char* Name;
  QByteArray Raw;
  bool Expected;
  QString CurrVersion = QStringLiteral("2.1.0");
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.Name; }

class CheckVersionReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(CheckVersionReply, DecidesNewVersion) {
  LocalHttpServer server;
  server.SetReply("/version.php", GetParam().Raw);
  TCheckVersion checker;
  checker.CurrVersion = GetParam().CurrVersion;
  checker.ServerAddress = server.Address();
  ASSERT_TRUE(RunToEnd(checker));
  EXPECT_EQ(GetParam().Expected, checker.NewVersion);
}

const ReplyCase kReplyCases[] = {
    {"SameVersion", HttpReply(200, "2.1.0"), false},
    {"SameVersionThenMoreLines", HttpReply(200, "2.1.0\r\n2.2.0\r\nnotes\r\n"),
     false},
    {"SameVersionThenLf", HttpReply(200, "2.1.0\n9.9.9"), false},
    {"SameVersionThenCr", HttpReply(200, "2.1.0\r9.9.9"), false},
    {"Newer", HttpReply(200, "2.1.1"), true},
    {"Older", HttpReply(200, "2.0.9\r\n"), true},
    {"TrailingSpaceIsNotTrimmed", HttpReply(200, "2.1.0 "), true},
    {"LeadingSpaceIsNotTrimmed", HttpReply(200, " 2.1.0"), true},
    {"LetterCaseIgnored", HttpReply(200, "2.1.0-bETA\r\n"), false,
     QStringLiteral("2.1.0-Beta")},
    {"LetterCaseOnlyDifference", HttpReply(200, "2.1.0-beta"), false,
     QStringLiteral("2.1.0-BETA")},
    {"OtherLetters", HttpReply(200, "2.1.0-rc"), true,
     QStringLiteral("2.1.0-Beta")},
    {"EmptyBody", HttpReply(200, ""), false},
    {"EmptyFirstLine", HttpReply(200, "\r\n2.1.1"), false},
    {"NotFoundPageIgnored", HttpReply(404, "2.1.1\r\n"), false},
    {"ServerErrorIgnored", HttpReply(500, "2.1.1\r\n"), false},
    // Without a length the body runs to the end of the connection.
    {"BodyUntilClose",
     "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n2.1.1\r\nrest", true},
    {"Chunked",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n"
     "\r\n3\r\n2.1\r\n3\r\n.0\n\r\n0\r\n\r\n",
     false},
    {"LongFirstLine", HttpReply(200, QByteArray(100000, '2')), true},
    {"SameVersionThenMuchMore",
     HttpReply(200, "2.1.0\n" + QByteArray(1 << 20, 'x')), false},
    {"BrokenHeader", "not http at all\r\n\r\n2.1.1", false},
    // Data that stops short of its announced length: the line never ends.
    {"TruncatedBody",
     "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n"
     "2.1.1",
     false},
};

INSTANTIATE_TEST_SUITE_P(Cases, CheckVersionReply,
                         ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return info.param.Name; });

TEST(CheckVersion, SendsTheAgreedRequest) {
  LocalHttpServer server;
  server.SetReply("/version.php", HttpReply(200, "2.1.0"));
  TCheckVersion checker;
  checker.CurrVersion = QStringLiteral("2.1.0");
  // A trailing separator in the configured address must not double it.
  checker.ServerAddress = server.Address() + "/";
  ASSERT_TRUE(RunToEnd(checker));
  ASSERT_EQ(1u, server.Requests().size());
  EXPECT_EQ("/version.php?software=TrelviTools2&id=" + checker.Id.toLatin1(),
            server.Requests()[0].Target);
  EXPECT_LE(checker.Id.size(), 4);
  EXPECT_FALSE(checker.Id.isEmpty());
  EXPECT_EQ("Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12",
            server.Requests()[0].UserAgent);
  EXPECT_EQ(QStringLiteral("CheckVersionTh"), checker.objectName());
}

TEST(CheckVersion, FollowsRedirects) {
  // The answer is the redirect target's, not the redirect's own body.
  struct Case {
    QByteArray RedirectBody;
    QByteArray FinalBody;
    bool Expected;
  };
  for (const Case& c :
       {Case{"2.1.0\r\n", "2.1.1", true}, Case{"2.1.1\r\n", "2.1.0", false}}) {
    LocalHttpServer server;
    server.SetReply("/version.php",
                    HttpReply(302, c.RedirectBody,
                              "Location: /moved/version.php?from=old\r\n"));
    server.SetReply("/moved/version.php", HttpReply(200, c.FinalBody));
    TCheckVersion checker;
    checker.CurrVersion = QStringLiteral("2.1.0");
    checker.ServerAddress = server.Address();
    ASSERT_TRUE(RunToEnd(checker));
    EXPECT_EQ(c.Expected, checker.NewVersion) << c.FinalBody.constData();
    ASSERT_EQ(2u, server.Requests().size());
    EXPECT_EQ("/moved/version.php?from=old", server.Requests()[1].Target);
  }
}

TEST(CheckVersion, ConnectionRefusedIsNoNewVersion) {
  TCheckVersion checker;
  checker.CurrVersion = QStringLiteral("2.1.0");
  checker.ServerAddress = RefusingAddress();
  ASSERT_TRUE(RunToEnd(checker));
  EXPECT_FALSE(checker.NewVersion);
}

TEST(CheckVersion, SilentServerEndsAtTheTransferTimeout) {
  LocalHttpServer server;
  server.Hold();
  TCheckVersion checker;
  checker.CurrVersion = QStringLiteral("2.1.0");
  checker.ServerAddress = server.Address();
  checker.TransferTimeoutMs = 300;
  ASSERT_TRUE(RunToEnd(checker));
  EXPECT_FALSE(checker.NewVersion);
}

TEST(CheckVersion, DecidesOnTheFirstLineWithoutWaitingForTheRest) {
  // The server announces a huge body, sends one line and then nothing: the
  // answer is known, the rest is never needed.
  for (const QByteArray& line :
       {QByteArray("2.1.0\r\n"), QByteArray("2.2\n")}) {
    LocalHttpServer server;
    server.SetReply(
        "/version.php",
        "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n" + line, true);
    TCheckVersion checker;
    checker.CurrVersion = QStringLiteral("2.1.0");
    checker.ServerAddress = server.Address();
    ASSERT_TRUE(RunToEnd(checker));
    EXPECT_EQ(line.startsWith("2.2"), checker.NewVersion);
  }
}

TEST(CheckVersion, DestroyedWhileWaitingDoesNotHang) {
  LocalHttpServer server;
  server.Hold();
  auto checker = std::make_unique<TCheckVersion>();
  checker->CurrVersion = QStringLiteral("2.1.0");
  checker->ServerAddress = server.Address();
  checker->Start();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !server.Requests().empty(); }, kDeadlineMs));
  checker.reset();
}

TEST(CheckVersion, NeverStartedIsHarmless) {
  TCheckVersion checker;
  EXPECT_FALSE(checker.NewVersion);
}

TEST(CheckVersion, FirstReplyLine) {
  EXPECT_FALSE(FirstReplyLine("").has_value());
  EXPECT_EQ(QString(), FirstReplyLine("\n").value());
  EXPECT_EQ(QStringLiteral("a b "), FirstReplyLine("a b \r\nc").value());
  EXPECT_EQ(QStringLiteral("abc"), FirstReplyLine("abc").value());
}

}  // namespace
}  // namespace trelvi
