// The About view's update check in the real window, against an HTTP server
// on 127.0.0.1: the label's text, its colour as set and as painted.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest/QTest>
#include <algorithm>

#include "../update/local_http_server.h"
#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

using trelvi::test::HttpReply;
using trelvi::test::LocalHttpServer;

const QString kChecking = QStringLiteral("Checking for updates...");
const QString kNoUpdates = QStringLiteral("No new updates available");
const QString kNewVersion = QStringLiteral("New software version available");

// What the label's painted text looks like: pixels clearly red, and pixels
// dark and grey as black text and its smoothed edges are.
struct Ink {
  int Red = 0;
  int Dark = 0;
};

Ink PaintedInk(QLabel* label) {
  const QImage image =
      label->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Ink ink;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() - std::max(c.green(), c.blue()) > 80) ++ink.Red;
      if (std::max({c.red(), c.green(), c.blue()}) < 100 &&
          std::max({c.red(), c.green(), c.blue()}) -
                  std::min({c.red(), c.green(), c.blue()}) <
              20)
        ++ink.Dark;
    }
  return ink;
}

QColor TextColour(QLabel* label) {
  return label->palette().color(label->foregroundRole());
}

struct AnswerCase {
  const char* Name;
  QByteArray Raw;  // empty: nobody listens
  QString Text;
  bool Red;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.Name; }

class UpdateCheckTest : public WindowTest,
                        public ::testing::WithParamInterface<AnswerCase> {
 protected:
  void SetUp() override {}
  LocalHttpServer server;
};

TEST_P(UpdateCheckTest, TheButtonShowsTheAnswerInItsColour) {
  TFrmMainOptions options;
  options.UpdateServer = server.Address();
  QTcpServer closed;  // a port that was free a moment ago
  if (GetParam().Raw.isEmpty()) {
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    options.UpdateServer =
        QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
  } else {
    server.SetReply("/version.php", GetParam().Raw);
  }
  Create(options);
  ASSERT_TRUE(w->PAbout->isVisible());
  EXPECT_FALSE(w->lbNewVersion->isVisible());

  QTest::mouseClick(w->Button1, Qt::LeftButton);
  EXPECT_TRUE(w->lbNewVersion->isVisible());
  EXPECT_EQ(w->lbNewVersion->text(), kChecking);
  EXPECT_EQ(TextColour(w->lbNewVersion), QColor(Qt::black));

  ASSERT_TRUE(WaitUntil([&] { return w->lbNewVersion->text() != kChecking; }));
  EXPECT_EQ(w->lbNewVersion->text(), GetParam().Text);
  EXPECT_TRUE(w->lbNewVersion->isVisible());
  EXPECT_TRUE(w->lbNewVersion->font().bold());
  EXPECT_EQ(w->lbNewVersion->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  const Ink ink = PaintedInk(w->lbNewVersion);
  if (GetParam().Red) {
    EXPECT_EQ(TextColour(w->lbNewVersion), QColor(Qt::red));
    EXPECT_GT(ink.Red, 0);
    EXPECT_EQ(ink.Dark, 0);
  } else {
    EXPECT_EQ(TextColour(w->lbNewVersion), QColor(Qt::black));
    EXPECT_GT(ink.Dark, 0);
    EXPECT_EQ(ink.Red, 0);
  }
  if (!GetParam().Raw.isEmpty()) {
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(server.Requests()[0].Target.startsWith(
        "/version.php?software=TrelviTools2&id="));
  }
}

const AnswerCase kAnswers[] = {
    {"SameVersion", HttpReply(200, "2.1.0\r\n"), kNoUpdates, false},
    {"OtherVersion", HttpReply(200, "2.1.1"), kNewVersion, true},
    {"HttpError", HttpReply(404, "2.1.1\r\n"), kNoUpdates, false},
    {"ConnectionRefused", {}, kNoUpdates, false},
};

INSTANTIATE_TEST_SUITE_P(Answers, UpdateCheckTest,
                         ::testing::ValuesIn(kAnswers),
                         [](const auto& info) { return info.param.Name; });

}  // namespace
}  // namespace trelvi::gui::test
