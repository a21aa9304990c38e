#include "ui/qt/qt_ui_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "ui/qt/frm_raw_info.h"

namespace trelvi::gui {

namespace {
// Centres a box on the screen that shows the main window (or the primary
// screen) once it knows its size.
void ShowCentred(QMessageBox& box, QWidget* mainWindow) {
  QScreen* screen = mainWindow ? mainWindow->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  box.adjustSize();
  if (screen) {
    QRect area = screen->availableGeometry();
    QRect frame(QPoint(), box.sizeHint());
    frame.moveCenter(area.center());
    box.move(frame.topLeft());
  }
}
}  // namespace

QtUiServices::QtUiServices() = default;
QtUiServices::~QtUiServices() { delete rawInfo_; }

QString QtUiServices::DisplayText(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

void QtUiServices::ShowMessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle),
                  DisplayText(text), QMessageBox::Ok);
  ShowCentred(box, mainWindow_);
  box.exec();
}

MsgResult QtUiServices::ShowMessageDialog(const std::string& text, MsgIcon icon,
                                          MsgButtons buttons) {
  QMessageBox::Icon boxIcon = QMessageBox::Information;
  switch (icon) {
    case MsgIcon::Error:
      boxIcon = QMessageBox::Critical;
      break;
    case MsgIcon::Question:
      boxIcon = QMessageBox::Question;
      break;
    case MsgIcon::Warning:
      boxIcon = QMessageBox::Warning;
      break;
    case MsgIcon::Information:
      boxIcon = QMessageBox::Information;
      break;
  }
  const bool yesNo = buttons == MsgButtons::YesNo;
  QMessageBox box(
      boxIcon, QString::fromLatin1(kAppTitle), DisplayText(text),
      yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
  // Closing a question from its title bar answers No.
  if (yesNo) box.setEscapeButton(QMessageBox::No);
  ShowCentred(box, mainWindow_);
  const int answer = box.exec();
  if (!yesNo) return MsgResult::Ok;
  return answer == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

RawDialogResult QtUiServices::AskRawDimensions(std::int64_t fileSize,
                                               std::uint32_t width,
                                               std::uint32_t height) {
  if (!rawInfo_) CreateDialogs();
  const QPoint owner = mainWindow_ ? mainWindow_->pos() : QPoint();
  rawInfo_->Prepare(fileSize, width, height, 0, owner);
  return rawInfo_->ShowModal();
}

void QtUiServices::ProcessEvents() { QCoreApplication::processEvents(); }

TFrmRawInfo* QtUiServices::RawInfo() const { return rawInfo_; }

void QtUiServices::SetMainWindow(QWidget* window) { mainWindow_ = window; }

void QtUiServices::CreateDialogs() {
  // A child of the main window, so that it stays in front of it.
  if (!rawInfo_) rawInfo_ = new TFrmRawInfo(mainWindow_);
}

}  // namespace trelvi::gui
