#pragma once

#include <QNetworkRequest>
#include <QString>
#include <QTimer>
#include <memory>

#include "update/check_version.h"

namespace trelvi {

enum class LabelColour { Black, Red };

// The part of the About view the update check writes to: the label
// lbNewVersion, hidden until the first call.
class AboutView {
 public:
  virtual ~AboutView() = default;
  // Sets the label's text and font colour and shows it.
  virtual void ShowNewVersionLabel(const QString& text, LabelColour colour) = 0;
};

// Runs the About view's update check: the 500 ms timer that starts and polls
// the checker, the "Check for updates" button, and the label that shows the
// outcome. Lives on the window's thread; the window owns one for its whole
// life and forwards the button to Button1Click. The settings load enables
// the timer when the automatic check is ticked.
class UpdateController {
 public:
  enum class State {
    Idle,     // timer off, no checker
    Armed,    // timer on, the next tick starts a checker
    Running,  // timer on, a checker is asking the server
  };

  explicit UpdateController(AboutView& view);
  // Does not wait for the server: a running check is abandoned.
  ~UpdateController();
  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  // The automatic check at start-up: no "Checking" text, only the result.
  void EnableTimer();
  void Button1Click();
  void CheckForUpdatesTimerTimer();

  State CurrentState() const;

  QTimer CheckForUpdatesTimer;
  std::unique_ptr<TCheckVersion> VersionChecker;
  // Where and how patiently the checkers ask.
  QString ServerAddress = DefaultUpdateServer();
  int TransferTimeoutMs = QNetworkRequest::DefaultTransferTimeoutConstant;

 private:
  AboutView& view_;
};

}  // namespace trelvi
