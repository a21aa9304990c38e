// The main window's hooks for the engine: messages, status, progress, pause
// and abort.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <algorithm>

#include "ui/qt/frm_confirm.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/frm_main_parts.h"
#include "ui/qt/taskbar_progress.h"
#include "ui/qt/window_services.h"

namespace trelvi::gui {

using namespace frm_main_parts;

void TFrmMain::ShowError(const std::string& msg) { Ui.ShowMessageBox(msg); }

void TFrmMain::ShowStatus(const std::string& msg) {
  statusLabel_->setText(FromStd(msg));
  Ui.ProcessEvents();
}

QString TFrmMain::StatusText() const { return statusLabel_->text(); }

void TFrmMain::ShowProgress(std::int32_t max, const std::string& desc) {
  btAbort->setText(QStringLiteral("Abort"));
  btPause->setText(QStringLiteral("Pause"));
  lbStatusDescr->setText(FromStd(desc));
  Paused = false;
  // A close the user confirmed keeps every later stage from starting.
  MainEngine.Aborted = closeRequested_;
  PBStatus->setRange(0, std::max(max, 1));
  PBStatus->setValue(0);
  SetProgressLook(false);
  // The box is narrower than the mode panel: the panel goes while it is up,
  // or its title and divider would show beside it.
  PMain->hide();
  PProgress->show();
  PProgress->raise();
  taskbar_->SetMaximum(max);
  taskbar_->SetValue(0);
  taskbar_->SetState(TaskbarState::Normal);
}

void TFrmMain::UpdateProgress(std::int32_t current) {
  Ui.ProcessEvents();
  PBStatus->setValue(
      std::clamp(current, PBStatus->minimum(), PBStatus->maximum()));
  taskbar_->SetValue(current);
  CheckIfPaused();
}

void TFrmMain::HideProgress() {
  PProgress->hide();
  PMain->show();
  taskbar_->SetState(TaskbarState::None);
}

void TFrmMain::CheckIfPaused() {
  while (Paused) {
    QThread::msleep(50);
    Ui.ProcessEvents();
  }
}

void TFrmMain::btPauseClick() {
  Paused = !Paused;
  if (Paused) {
    btPause->setText(QStringLiteral("Continue"));
    taskbar_->SetState(TaskbarState::Paused);
    SetProgressLook(true);
  } else {
    btPause->setText(QStringLiteral("Pause"));
    taskbar_->SetState(TaskbarState::Normal);
    SetProgressLook(false);
  }
}

void TFrmMain::btAbortClick() {
  const QPoint at = pos();
  // Left of or above the primary screen the dialog goes to its edge.
  const auto x = static_cast<std::uint16_t>(std::clamp(at.x() + 20, 0, 65535));
  const auto y = static_cast<std::uint16_t>(std::clamp(at.y() + 100, 0, 65535));
  if (windows_.ConfirmAbort(x, y) == mrYes) {
    MainEngine.Aborted = true;
    Paused = false;
  }
  // A declined abort leaves the flag as it was: an operation that has
  // already failed must still end as failed.
}

}  // namespace trelvi::gui
