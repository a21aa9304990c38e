// The RAW dimensions dialog, the abort confirmation, the Qt message boxes
// and the launcher-entry progress, each shown for real and answered by a
// timer.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest/QTest>

#include "ui/qt/frm_raw_info.h"
#include "ui/qt/qt_ui_services.h"
#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

// Runs the action once on the next modal window that is shown.
class WhenModal {
 public:
  explicit WhenModal(std::function<void(QWidget*)> action)
      : action_(std::move(action)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible()) return;
      timer_.stop();
      ran_ = true;
      action_(modal);
    });
    timer_.start();
  }
  bool Ran() const { return ran_; }

 private:
  QTimer timer_;
  std::function<void(QWidget*)> action_;
  bool ran_ = false;
};

class RawInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.setFixedSize(426, 608);
    owner.move(100, 50);
    owner.show();
    ui.SetMainWindow(&owner);
    ui.CreateDialogs();
    raw = ui.RawInfo();
  }
  static void Type(QLineEdit* field, const char* text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
  }
  QWidget owner;
  QtUiServices ui;
  TFrmRawInfo* raw = nullptr;
};

TEST_F(RawInfoTest, AWidthProposesTheHeightAndOkHandsBothBack) {
  WhenModal person([&](QWidget* dialog) {
    EXPECT_EQ(dialog, raw);
    EXPECT_EQ(raw->windowTitle(), "Open file");
    EXPECT_EQ(raw->size(), QSize(185, 168));
    EXPECT_EQ(raw->pos(), owner.pos() + QPoint(20, 20));
    EXPECT_EQ(raw->Label2->text(), "RAW Info");
    EXPECT_EQ(raw->lblSize->text(), "6.000.000");
    EXPECT_TRUE(raw->RB8bit->isChecked());
    Type(raw->edWidth, "1000");
    EXPECT_EQ(raw->EdHeight->text(), "2000");
    QTest::mouseClick(raw->SpeedButton1, Qt::LeftButton);
  });
  const RawDialogResult r = ui.AskRawDimensions(6000000, 0, 0);
  EXPECT_TRUE(person.Ran());
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Width, 1000u);
  EXPECT_EQ(r.Height, 2000u);
  EXPECT_EQ(r.Bits, 8);
  EXPECT_FALSE(raw->isVisible());
}

TEST_F(RawInfoTest, SixteenBitsProposesAnotherHeight) {
  WhenModal person([&](QWidget*) {
    Type(raw->edWidth, "1000");
    QTest::mouseClick(raw->RB16bit, Qt::LeftButton);
    EXPECT_EQ(raw->EdHeight->text(), "1000");
    QTest::mouseClick(raw->SpeedButton1, Qt::LeftButton);
  });
  const RawDialogResult r = ui.AskRawDimensions(6000000, 0, 0);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Width, 1000u);
  EXPECT_EQ(r.Height, 1000u);
  EXPECT_EQ(r.Bits, 16);
}

TEST_F(RawInfoTest, TheKeyFilterAndTheWidthRules) {
  WhenModal person([&](QWidget*) {
    Type(raw->edWidth, "12345678");  // a 7th digit does not go in
    EXPECT_EQ(raw->edWidth->text(), "123456");
    QTest::keyClicks(raw->edWidth, "a-+ ");
    QTest::keyClick(raw->edWidth, Qt::Key_Up);
    EXPECT_EQ(raw->edWidth->text(), "123456");
    // Over a selection a digit may replace the text.
    raw->edWidth->selectAll();
    QTest::keyClicks(raw->edWidth, "9");
    EXPECT_EQ(raw->edWidth->text(), "9");
    Type(raw->edWidth, "99");  // below 100 proposes nothing
    EXPECT_EQ(raw->EdHeight->text(), "0");
    Type(raw->edWidth, "999999");  // above 150000 becomes 150000
    EXPECT_EQ(raw->edWidth->text(), "150000");
    // Width × height must match the file: OK leaves the dialog open.
    Type(raw->edWidth, "1000");
    Type(raw->EdHeight, "1999");
    QTest::mouseClick(raw->SpeedButton1, Qt::LeftButton);
    EXPECT_TRUE(raw->isVisible());
    QTest::keyClick(raw, Qt::Key_Escape);
  });
  const RawDialogResult r = ui.AskRawDimensions(6000000, 0, 0);
  EXPECT_TRUE(person.Ran());
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(raw->Model.ImgWidth, 0u);
}

TEST_F(RawInfoTest, TheCloseBoxCancelsAndTheFieldsCarryOver) {
  WhenModal first([&](QWidget*) {
    Type(raw->edWidth, "1000");
    raw->close();
  });
  EXPECT_FALSE(ui.AskRawDimensions(6000000, 0, 0).Ok);
  WhenModal second([&](QWidget*) {
    EXPECT_EQ(raw->edWidth->text(), "1000");  // kept from the last use
    EXPECT_EQ(raw->EdHeight->text(), "2000");
    QTest::mouseClick(raw->SpeedButton2, Qt::LeftButton);
  });
  EXPECT_FALSE(ui.AskRawDimensions(6000000, 0, 0).Ok);
  EXPECT_TRUE(second.Ran());
}

TEST(ConfirmTest, PlacedWhereAskedAndAnsweredByKeysAndButtons) {
  TFrmConfirm confirm;
  const struct {
    const char* how;
    int result;
  } answers[] = {{"enter", mrYes},
                 {"escape", mrNo},
                 {"no", mrNo},
                 {"yes", mrYes},
                 {"close", mrNo}};
  for (const auto& a : answers) {
    const std::string how = a.how;
    WhenModal person([&](QWidget* dialog) {
      EXPECT_EQ(dialog, &confirm);
      EXPECT_EQ(confirm.pos(), QPoint(30, 40));
      if (how == "enter")
        QTest::keyClick(&confirm, Qt::Key_Return);
      else if (how == "escape")
        QTest::keyClick(&confirm, Qt::Key_Escape);
      else if (how == "no")
        QTest::mouseClick(confirm.btNo, Qt::LeftButton);
      else if (how == "yes")
        QTest::mouseClick(confirm.btYes, Qt::LeftButton);
      else
        confirm.close();
    });
    EXPECT_EQ(confirm.CenterAndShow(30, 40), a.result) << a.how;
    EXPECT_TRUE(person.Ran());
  }
  EXPECT_EQ(confirm.windowTitle(), "Confirm");
  EXPECT_EQ(confirm.size(), QSize(377, 142));
  EXPECT_TRUE(confirm.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(confirm.Label1->text(),
            "Are you sure you want to abort the current operation?");
  EXPECT_TRUE(confirm.Label1->font().bold());
  EXPECT_EQ(confirm.btYes->text(), "&Yes");
  EXPECT_EQ(confirm.btNo->text(), "&No");
  EXPECT_LT(confirm.btYes->x(), confirm.btNo->x());
}

TEST(ConfirmTest, TheWindowsAbortButtonAsksTheRealDialog) {
  QtScriptedUi ui;
  QtWindowServices services;
  RecordingTaskbar taskbar;
  TFrmMainOptions options;
  options.Taskbar = &taskbar;
  TFrmMain window(ui, services, options);
  services.CreateDialogs(&window);
  window.move(200, 120);
  window.show();
  window.ShowProgress(10, "Step 1/4");
  WhenModal person([&](QWidget* dialog) {
    EXPECT_EQ(dialog, services.Confirm());
    EXPECT_EQ(dialog->pos(), window.pos() + QPoint(20, 100));
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  window.btPauseClick();
  QTest::mouseClick(window.btAbort, Qt::LeftButton);
  EXPECT_TRUE(person.Ran());
  EXPECT_TRUE(window.MainEngine.Aborted);
  EXPECT_FALSE(window.Paused);
}

TEST(QtServicesTest, MessageBoxesCarryTheApplicationTitle) {
  QtUiServices ui;
  WhenModal person([&](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Trelvi Tools");
    EXPECT_EQ(box->text(), "Too many files selected.\nPlease select 6 files");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
  });
  ui.ShowMessageBox("Too many files selected.\r\nPlease select 6 files");
  EXPECT_TRUE(person.Ran());
}

TEST(QtServicesTest, MessageDialogsHaveIconsAndReturnTheButton) {
  QtUiServices ui;
  const struct {
    MsgIcon icon;
    MsgButtons buttons;
    QMessageBox::Icon shown;
    const char* press;  // "yes", "no", "ok" or "escape"
    MsgResult result;
  } cases[] = {
      {MsgIcon::Question, MsgButtons::YesNo, QMessageBox::Question, "yes",
       MsgResult::Yes},
      {MsgIcon::Question, MsgButtons::YesNo, QMessageBox::Question, "no",
       MsgResult::No},
      {MsgIcon::Question, MsgButtons::YesNo, QMessageBox::Question, "escape",
       MsgResult::No},
      {MsgIcon::Error, MsgButtons::Ok, QMessageBox::Critical, "ok",
       MsgResult::Ok},
  };
  for (const auto& c : cases) {
    const std::string press = c.press;
    WhenModal person([&](QWidget* dialog) {
      auto* box = qobject_cast<QMessageBox*>(dialog);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle(), "Trelvi Tools");
      EXPECT_EQ(box->icon(), c.shown);
      if (press == "yes")
        box->button(QMessageBox::Yes)->click();
      else if (press == "no")
        box->button(QMessageBox::No)->click();
      else if (press == "ok")
        box->button(QMessageBox::Ok)->click();
      else
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(
        ui.ShowMessageDialog("The file exists. Replace it?", c.icon, c.buttons),
        c.result)
        << c.press;
    EXPECT_TRUE(person.Ran());
  }
}

TEST(LauncherEntryTest, WhatALauncherIsSent) {
  const struct {
    std::int32_t value, maximum;
    int permille;
  } cases[] = {{0, 100, 0},
               {50, 100, 500},
               {100, 100, 1000},
               {150, 100, 1000},
               {5, 0, 0},
               {-3, 10, 0},
               {2147483000, 2147483647, 999}};
  for (const auto& c : cases)
    EXPECT_EQ(LauncherEntryProgress::Permille(c.value, c.maximum), c.permille)
        << c.value << "/" << c.maximum;
  auto running =
      LauncherEntryProgress::Properties(25, 100, TaskbarState::Normal);
  EXPECT_DOUBLE_EQ(running.value("progress").toDouble(), 0.25);
  EXPECT_TRUE(running.value("progress-visible").toBool());
  EXPECT_TRUE(LauncherEntryProgress::Properties(25, 100, TaskbarState::Paused)
                  .value("progress-visible")
                  .toBool());
  EXPECT_FALSE(LauncherEntryProgress::Properties(25, 100, TaskbarState::None)
                   .value("progress-visible")
                   .toBool());
  // Without a session bus it does nothing at all, quietly.
  LauncherEntryProgress progress;
  progress.SetMaximum(10);
  progress.SetValue(5);
  progress.SetState(TaskbarState::Paused);
}

}  // namespace
}  // namespace trelvi::gui::test
