// Progress, pause and abort on real operations, driven by button clicks
// from a timer that fires inside the window's hooks.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>

#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

class ProgressTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    w->btConvertClick();
    // Enough rows for every step of a script to happen mid-operation.
    in = MakeRaw("pano", 64, 3000);
    Open(in);
    std::filesystem::create_directory(out);
    Drop({out}, 500);
  }
  bool Grey() const {
    return w->PProgress->palette().color(QPalette::Window) ==
           QColor(216, 216, 216);
  }
  bool White() const {
    return w->PProgress->palette().color(QPalette::Window) == QColor(Qt::white);
  }
  void Start() { QTest::mouseClick(w->btStart, Qt::LeftButton); }
  void ExpectAbortedWithoutOutput() {
    EXPECT_EQ(w->StatusText(), "Operation aborted");
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_FALSE(w->PProgress->isVisible());
    EXPECT_EQ(taskbar.State(), TaskbarState::None);
    EXPECT_TRUE(w->btStart->isEnabled());
    EXPECT_FALSE(w->Paused);
  }

  // Waits, inside the pause loop, until the operation has stood still for a
  // few turns: the status line counts the rows and stops changing only
  // there.
  struct Hold {
    QString status;
    int sameTurns = 0;
    bool Held(const TFrmMain& window) {
      if (window.StatusText() == status) return ++sameTurns >= 3;
      status = window.StatusText();
      sameTurns = 0;
      return false;
    }
  };

  std::string in;
  std::string out = dir.File("out");
};

TEST_F(ProgressTest, PausedContinuedAndAbortedThroughTheButtons) {
  windows.ConfirmAnswers.push_back(mrYes);
  int stage = 0;
  int gaugeAtPause = -1;
  Hold hold;
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    switch (stage) {
      case 0:
        // Some rows in, so that the gauge shows where the pause held it.
        if (w->PBStatus->value() < 70) return false;
        EXPECT_EQ(w->btPause->text(), "Pause");
        EXPECT_TRUE(White());
        EXPECT_EQ(taskbar.State(), TaskbarState::Normal);
        EXPECT_FALSE(w->btStart->isEnabled());
        EXPECT_TRUE(w->btPause->isEnabled());
        QTest::mouseClick(w->btPause, Qt::LeftButton);
        EXPECT_TRUE(w->Paused);
        EXPECT_EQ(w->btPause->text(), "Continue");
        EXPECT_TRUE(Grey());
        EXPECT_EQ(taskbar.State(), TaskbarState::Paused);
        stage = 1;
        return false;
      case 1:
        if (!hold.Held(*w)) return false;
        gaugeAtPause = w->PBStatus->value();
        QTest::mouseClick(w->btPause, Qt::LeftButton);
        EXPECT_FALSE(w->Paused);
        EXPECT_EQ(w->btPause->text(), "Pause");
        EXPECT_TRUE(White());
        EXPECT_EQ(taskbar.State(), TaskbarState::Normal);
        stage = 2;
        return false;
      case 2:
        // Running again: the rows move on before the abort.
        if (w->PBStatus->value() == gaugeAtPause) return false;
        QTest::mouseClick(w->btAbort, Qt::LeftButton);
        return true;
    }
    return true;
  });
  Start();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(windows.ConfirmCalls, 1);
  EXPECT_EQ(windows.LastConfirmAt, w->pos() + QPoint(20, 100));
  ExpectAbortedWithoutOutput();
  EXPECT_GE(gaugeAtPause, 70);
  EXPECT_LT(gaugeAtPause, 3000);
}

// The box is narrower than the mode panel; nothing of the panel shows
// beside it while it is up.
TEST_F(ProgressTest, TheBoxHidesTheModePanelWhileItIsUp) {
  ASSERT_TRUE(w->PConvert->isVisible());
  bool seen = false;
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    EXPECT_FALSE(w->PMain->isVisible());
    EXPECT_FALSE(w->PConvert->isVisible());
    EXPECT_TRUE(w->POutput->isVisible());
    seen = true;
    return true;
  });
  Start();
  EXPECT_TRUE(seen);
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_TRUE(w->PConvert->isVisible());
  EXPECT_FALSE(w->PProgress->isVisible());
}

TEST_F(ProgressTest, AbortWhilePausedStopsWithoutContinue) {
  windows.ConfirmAnswers.push_back(mrYes);
  Hold hold;
  bool paused = false;
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    if (!paused) {
      QTest::mouseClick(w->btPause, Qt::LeftButton);
      paused = true;
      return false;
    }
    if (!hold.Held(*w)) return false;
    QTest::mouseClick(w->btAbort, Qt::LeftButton);
    return true;
  });
  Start();
  EXPECT_TRUE(script.Done());
  ExpectAbortedWithoutOutput();
}

TEST_F(ProgressTest, AbortAnsweredNoContinuesTheOperation) {
  windows.ConfirmAnswers.push_back(mrNo);
  Hold hold;
  int stage = 0;
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    if (stage == 0) {
      QTest::mouseClick(w->btAbort, Qt::LeftButton);
      EXPECT_FALSE(w->MainEngine.Aborted);
      // Declined while paused: still paused.
      QTest::mouseClick(w->btPause, Qt::LeftButton);
      windows.ConfirmAnswers.push_back(mrNo);
      stage = 1;
      return false;
    }
    if (!hold.Held(*w)) return false;
    QTest::mouseClick(w->btAbort, Qt::LeftButton);
    EXPECT_TRUE(w->Paused);
    EXPECT_EQ(w->btPause->text(), "Continue");
    QTest::mouseClick(w->btPause, Qt::LeftButton);
    return true;
  });
  Start();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(windows.ConfirmCalls, 2);
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"pano.tif"}));
  EXPECT_EQ(trelvi::test::ReadTiff(out + "/pano.tif").Pixels,
            trelvi::test::MakePixels(64, 3000, 3, 8));
}

TEST_F(ProgressTest, ADeclinedAbortDoesNotHideAFailure) {
  // The operation has already failed and stopped; only its box is left.
  w->ShowProgress(10, "Step 2/4");
  w->MainEngine.Aborted = true;
  windows.ConfirmAnswers.push_back(mrNo);
  w->btAbortClick();
  EXPECT_TRUE(w->MainEngine.Aborted);
}

TEST_F(ProgressTest, ASecondClickOnStartDoesNotRunTheOperationTwice) {
  // The first event servicing inside Start comes before any button is
  // disabled: that is where a double-click's second click lands.
  int clicks = 0;
  EveryPass script([&] {
    QTest::mouseClick(w->btStart, Qt::LeftButton);
    return ++clicks == 3;
  });
  Start();
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(ui.Messages.empty());  // no question about replacing a file
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"pano.tif"}));
}

TEST_F(ProgressTest, EachStageStartsAfresh) {
  w->ShowProgress(100, "Step 1/4");
  EXPECT_TRUE(w->PProgress->isVisible());
  EXPECT_EQ(w->lbStatusDescr->text(), "Step 1/4");
  EXPECT_EQ(w->PBStatus->maximum(), 100);
  EXPECT_EQ(taskbar.Maximum, 100);
  w->UpdateProgress(60);
  EXPECT_EQ(w->PBStatus->value(), 60);
  EXPECT_EQ(taskbar.Value, 60);
  w->btPauseClick();
  w->MainEngine.Aborted = true;
  w->ShowProgress(40, "Step 2/4");
  EXPECT_EQ(w->lbStatusDescr->text(), "Step 2/4");
  EXPECT_EQ(w->PBStatus->value(), 0);
  EXPECT_EQ(w->PBStatus->maximum(), 40);
  EXPECT_EQ(taskbar.Value, 0);
  EXPECT_FALSE(w->Paused);
  EXPECT_FALSE(w->MainEngine.Aborted);
  EXPECT_EQ(w->btPause->text(), "Pause");
  EXPECT_EQ(w->btAbort->text(), "Abort");
  EXPECT_TRUE(White());
  EXPECT_EQ(taskbar.State(), TaskbarState::Normal);
  w->HideProgress();
  EXPECT_FALSE(w->PProgress->isVisible());
  EXPECT_EQ(taskbar.State(), TaskbarState::None);
}

TEST_F(ProgressTest, AnErrorDuringARunLeavesTheProgressBox) {
  w->ShowProgress(10, "Step 1/4");
  w->ShowStatus("Saving lines... (5)");
  w->ShowError("Write to file error");
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Write to file error"}));
  EXPECT_TRUE(w->PProgress->isVisible());
  EXPECT_EQ(w->StatusText(), "Saving lines... (5)");
}

TEST_F(ProgressTest, DropsAreIgnoredWhileAnOperationRuns) {
  const std::string other = MakeTiff("other.tif", 10, 10);
  const std::string elsewhere = dir.File("elsewhere");
  std::filesystem::create_directory(elsewhere);
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    Drop({other}, 150);
    Drop({elsewhere}, 500);
    return true;
  });
  Start();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_EQ(w->EditInputFile->text(), "pano_64X3000.raw");
  EXPECT_EQ(w->MainEngine.InInfo.FileName, in);
  EXPECT_EQ(w->EditOutputFolder->text().toStdString(), out);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"pano.tif"}));
}

class CloseTest : public ProgressTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    TFrmMainOptions options;
    options.SettingsFile = ini;
    options.UpdateServer = QStringLiteral("http://127.0.0.1:9");
    { std::ofstream(ini) << "CheckForUpdates=False\r\n"; }
    Create(options);
    w->btConvertClick();
    in = MakeRaw("pano", 64, 3000);
    Open(in);
    std::filesystem::create_directory(out);
    Drop({out}, 500);
  }
  std::string ini = dir.File("trelvi-gui.ini");
};

TEST_F(CloseTest, ClosingDuringAnOperationAbortsItAndClosesAfterwards) {
  windows.ConfirmAnswers.push_back(mrYes);
  bool closedAtOnce = true;
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    closedAtOnce = w->close();
    return true;
  });
  Start();
  EXPECT_TRUE(script.Done());
  EXPECT_FALSE(closedAtOnce);  // not while the operation was inside a hook
  EXPECT_EQ(windows.ConfirmCalls, 1);
  EXPECT_TRUE(w->CloseRequested());
  EXPECT_EQ(w->StatusText(), "Operation aborted");
  EXPECT_TRUE(FilesIn(out).empty());
  EXPECT_TRUE(WaitUntil([&] { return !w->isVisible(); }));
  EXPECT_TRUE(std::filesystem::exists(ini));
  std::ifstream saved(ini);
  std::string first;
  std::getline(saved, first);
  EXPECT_EQ(first.rfind("WindowPosX=", 0), 0u);
}

TEST_F(CloseTest, ClosingAnsweredNoLetsTheOperationFinish) {
  windows.ConfirmAnswers.push_back(mrNo);
  EveryPass script([&] {
    if (!w->PProgress->isVisible()) return false;
    w->close();
    return true;
  });
  Start();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"pano.tif"}));
  QCoreApplication::processEvents();
  EXPECT_TRUE(w->isVisible());
  EXPECT_FALSE(w->CloseRequested());
}

}  // namespace
}  // namespace trelvi::gui::test
