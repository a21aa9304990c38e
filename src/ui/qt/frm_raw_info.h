#pragma once

#include <QDialog>
#include <QPoint>
#include <cstdint>

#include "engine/ui_services.h"
#include "ui/raw_info_model.h"

class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace trelvi::gui {

// The RAW dimensions dialog: shows RawInfoModel and reports the user's keys,
// texts, focus changes and buttons to it. Created once and reused, so the
// fields and the bit depth carry over from one file to the next.
class TFrmRawInfo : public QDialog {
 public:
  explicit TFrmRawInfo(QWidget* parent = nullptr);

  RawInfoModel Model;

  // Sets the dialog up for one file and places it 20 pixels right of and
  // below ownerTopLeft (the main window's top-left corner).
  void Prepare(std::int64_t fileSize, std::uint32_t width, std::uint32_t height,
               std::uint16_t bits, QPoint ownerTopLeft);
  // Shows the dialog modally; what it hands back once closed.
  RawDialogResult ShowModal();

  void SpeedButton1Click();  // OK
  void SpeedButton2Click();  // Cancel

  QLabel* Label2;
  QLabel* lbl5;
  QLabel* lblSize;
  QLabel* lbl3;
  QLineEdit* edWidth;
  QLabel* lbl6;
  QLineEdit* EdHeight;
  QLabel* lbl13;
  QRadioButton* RB8bit;
  QRadioButton* RB16bit;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;

  // The virtual key the dialog's key filter knows for a Qt key.
  static int VirtualKeyOf(int qtKey, Qt::KeyboardModifiers modifiers);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  RawInfoModel::Field FieldOf(QObject* edit) const;
  QLineEdit* EditOf(RawInfoModel::Field field) const;
  void PassSelection(RawInfoModel::Field field);
  // Shows the model's texts and bit depth.
  void Refresh();
};

}  // namespace trelvi::gui
