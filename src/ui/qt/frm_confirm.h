#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QPushButton;

namespace trelvi::gui {

// The modal results the confirmation hands back.
enum TModalResult : int { mrNone = 0, mrYes = 6, mrNo = 7 };

// "Are you sure you want to abort the current operation?", asked while an
// operation runs. Enter answers Yes, Escape and the close box No.
class TFrmConfirm : public QDialog {
 public:
  explicit TFrmConfirm(QWidget* parent = nullptr);

  // Shows the dialog modally with its top-left corner at (x, y) on the
  // screen and returns mrYes or mrNo.
  int CenterAndShow(std::uint16_t x, std::uint16_t y);

  QLabel* Label1;
  QPushButton* btYes;
  QPushButton* btNo;
};

}  // namespace trelvi::gui
