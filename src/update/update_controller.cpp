#include "update/update_controller.h"

#include "engine/trelvi.h"

namespace trelvi {

namespace {
constexpr int kTimerIntervalMs = 500;
}

UpdateController::UpdateController(AboutView& view) : view_(view) {
  CheckForUpdatesTimer.setInterval(kTimerIntervalMs);
  QObject::connect(&CheckForUpdatesTimer, &QTimer::timeout,
                   &CheckForUpdatesTimer,
                   [this] { CheckForUpdatesTimerTimer(); });
}

UpdateController::~UpdateController() {
  CheckForUpdatesTimer.stop();
  VersionChecker.reset();
}

void UpdateController::EnableTimer() {
  // Restarting an active timer would postpone its next tick, so a user
  // pressing the button again and again would keep the check from starting.
  if (!CheckForUpdatesTimer.isActive()) CheckForUpdatesTimer.start();
}

void UpdateController::Button1Click() {
  view_.ShowNewVersionLabel(QStringLiteral("Checking for updates..."),
                            LabelColour::Black);
  EnableTimer();
}

void UpdateController::CheckForUpdatesTimerTimer() {
  if (!VersionChecker) {
    VersionChecker = std::make_unique<TCheckVersion>();
    VersionChecker->CurrVersion = QString::fromLatin1(kVersion);
    VersionChecker->ServerAddress = ServerAddress;
    VersionChecker->TransferTimeoutMs = TransferTimeoutMs;
    VersionChecker->Start();
    return;
  }
  if (!VersionChecker->Finished()) return;
  CheckForUpdatesTimer.stop();
  if (VersionChecker->NewVersion) {
    view_.ShowNewVersionLabel(QStringLiteral("New software version available"),
                              LabelColour::Red);
  } else {
    view_.ShowNewVersionLabel(QStringLiteral("No new updates available"),
                              LabelColour::Black);
  }
  VersionChecker.reset();
}

UpdateController::State UpdateController::CurrentState() const {
  if (!CheckForUpdatesTimer.isActive()) return State::Idle;
  return VersionChecker ? State::Running : State::Armed;
}

}  // namespace trelvi
