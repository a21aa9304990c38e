#include "ui/qt/frm_confirm.h"

#include <QLabel>
#include <QPushButton>

namespace trelvi::gui {

TFrmConfirm::TFrmConfirm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint) {
  setWindowTitle(QStringLiteral("Confirm"));
  setFixedSize(377, 142);
  setModal(true);

  Label1 = new QLabel(
      QStringLiteral("Are you sure you want to abort the current operation?"),
      this);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setWordWrap(true);
  Label1->setGeometry(16, 24, 345, 44);

  btYes = new QPushButton(QStringLiteral("&Yes"), this);
  btYes->setGeometry(64, 90, 100, 30);
  btYes->setDefault(true);
  btNo = new QPushButton(QStringLiteral("&No"), this);
  btNo->setGeometry(213, 90, 100, 30);
  btNo->setAutoDefault(false);

  connect(btYes, &QPushButton::clicked, this, [this] { done(mrYes); });
  connect(btNo, &QPushButton::clicked, this, [this] { done(mrNo); });
}

int TFrmConfirm::CenterAndShow(std::uint16_t x, std::uint16_t y) {
  move(x, y);
  btYes->setFocus();
  const int result = exec();
  // Escape and the close box reject the dialog: that is No.
  return result == mrYes ? mrYes : mrNo;
}

}  // namespace trelvi::gui
