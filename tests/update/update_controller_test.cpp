#include "update/update_controller.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTest>
#include <utility>
#include <vector>

#include "local_http_server.h"

namespace trelvi {
namespace {

using test::HttpReply;
using test::LocalHttpServer;
using State = UpdateController::State;
using Shown = std::pair<QString, LabelColour>;

constexpr int kDeadlineMs = 20000;

const Shown kChecking{"Checking for updates...", LabelColour::Black};
const Shown kNoUpdates{"No new updates available", LabelColour::Black};
const Shown kNewVersion{"New software version available", LabelColour::Red};

class FakeAboutView : public AboutView {
 public:
  void ShowNewVersionLabel(const QString& text, LabelColour colour) override {
    Labels.emplace_back(text, colour);
  }
  std::vector<Shown> Labels;
};

class UpdateControllerTest : public ::testing::Test {
 protected:
  UpdateControllerTest() { controller->ServerAddress = server.Address(); }

  bool WaitUntilIdle() {
    return QTest::qWaitFor(
        [&] { return controller->CurrentState() == State::Idle; }, kDeadlineMs);
  }
  bool WaitForRequests(std::size_t count) {
    return QTest::qWaitFor([&] { return server.Requests().size() >= count; },
                           kDeadlineMs);
  }

  LocalHttpServer server;
  FakeAboutView view;
  std::unique_ptr<UpdateController> controller =
      std::make_unique<UpdateController>(view);
};

TEST_F(UpdateControllerTest, StartsIdleAndShowsNothing) {
  EXPECT_EQ(State::Idle, controller->CurrentState());
  EXPECT_TRUE(view.Labels.empty());
  EXPECT_EQ(500, controller->CheckForUpdatesTimer.interval());
}

struct OutcomeCase {
  const char* Name;
  QByteArray Raw;  // empty: nobody listens
  Shown Result;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.Name; }

class UpdateControllerOutcome
    : public UpdateControllerTest,
      public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpdateControllerOutcome, ButtonShowsCheckingThenTheResult) {
  if (GetParam().Raw.isEmpty()) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    controller->ServerAddress =
        QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
  } else {
    server.SetReply("/version.php", GetParam().Raw);
  }
  controller->Button1Click();
  EXPECT_EQ(std::vector<Shown>{kChecking}, view.Labels);
  EXPECT_EQ(State::Armed, controller->CurrentState());
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ((std::vector<Shown>{kChecking, GetParam().Result}), view.Labels);
  EXPECT_EQ(nullptr, controller->VersionChecker);
}

const OutcomeCase kOutcomes[] = {
    {"UpToDate", HttpReply(200, "2.1.0\r\n"), kNoUpdates},
    {"Newer", HttpReply(200, "2.1.1"), kNewVersion},
    {"Older", HttpReply(200, "2.0.9"), kNewVersion},
    {"NotFound", HttpReply(404, "2.1.1\r\n"), kNoUpdates},
    {"ConnectionRefused", {}, kNoUpdates},
};

INSTANTIATE_TEST_SUITE_P(Cases, UpdateControllerOutcome,
                         ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return info.param.Name; });

TEST_F(UpdateControllerTest, AutomaticCheckShowsOnlyTheResult) {
  server.SetReply("/version.php", HttpReply(200, "2.2.0"));
  controller->EnableTimer();
  EXPECT_EQ(State::Armed, controller->CurrentState());
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ(std::vector<Shown>{kNewVersion}, view.Labels);
  EXPECT_EQ(1u, server.Requests().size());
}

TEST_F(UpdateControllerTest, RepeatedPressesMakeOneRequest) {
  server.SetReply("/version.php", HttpReply(200, "2.1.0"));
  server.Hold();
  controller->Button1Click();
  controller->Button1Click();  // Armed: the timer is not pushed back
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_EQ(State::Running, controller->CurrentState());
  controller->Button1Click();  // Running: only the text again
  EXPECT_EQ(State::Running, controller->CurrentState());
  EXPECT_EQ((std::vector<Shown>{kChecking, kChecking, kChecking}), view.Labels);

  // Ticks while the request is held change nothing.
  QTest::qWait(1200);
  EXPECT_EQ(3u, view.Labels.size());

  server.Release();
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ(1u, server.Requests().size());
  EXPECT_EQ((std::vector<Shown>{kChecking, kChecking, kChecking, kNoUpdates}),
            view.Labels);

  // Once the result is shown, the button asks again.
  controller->Button1Click();
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ(2u, server.Requests().size());
}

TEST_F(UpdateControllerTest, ButtonDuringAutomaticCheckKeepsOneRequest) {
  server.SetReply("/version.php", HttpReply(200, "2.1.1"));
  server.Hold();
  controller->EnableTimer();
  ASSERT_TRUE(WaitForRequests(1));
  controller->Button1Click();
  server.Release();
  ASSERT_TRUE(WaitUntilIdle());
  EXPECT_EQ(1u, server.Requests().size());
  EXPECT_EQ((std::vector<Shown>{kChecking, kNewVersion}), view.Labels);
}

TEST_F(UpdateControllerTest, ClosingDuringACheckDoesNotWaitForTheServer) {
  server.Hold();
  controller->Button1Click();
  ASSERT_TRUE(WaitForRequests(1));
  controller.reset();
  EXPECT_EQ(std::vector<Shown>{kChecking}, view.Labels);
}

}  // namespace
}  // namespace trelvi
