// Start-up, the layout, mode switching and the small handlers.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest/QTest>
#include <fstream>

#include "ui/qt/int_edit.h"
#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

using ModesTest = WindowTest;

// An update server that is not there: the check fails at once.
const char* const kNobody = "http://127.0.0.1:9";

TFrmMainOptions Options(const std::string& settings, const char* server) {
  TFrmMainOptions options;
  options.SettingsFile = settings;
  options.UpdateServer = QString::fromLatin1(server);
  return options;
}

TEST_F(ModesTest, StartsInTheAboutViewWithTheBandsHidden) {
  EXPECT_EQ(w->windowTitle(), "Trelvi Tools 2.1.0");
  EXPECT_EQ(w->size(), QSize(426, 608));
  EXPECT_EQ(w->CurrentPanel, 6);
  EXPECT_EQ(w->NumOfCores, 1);
  EXPECT_FALSE(w->DroppedFile);
  EXPECT_TRUE(w->PAbout->isVisible());
  EXPECT_FALSE(w->PInput->isVisible());
  EXPECT_FALSE(w->POutput->isVisible());
  EXPECT_FALSE(w->btStart->isVisible());
  EXPECT_FALSE(w->PProgress->isVisible());
  EXPECT_FALSE(w->lbNewVersion->isVisible());
  EXPECT_EQ(w->jvSplitWidth->MaxValue(), 30000);
  EXPECT_EQ(w->jvSplitHeight->MaxValue(), 30000);
  EXPECT_TRUE(w->rbTif->isChecked());
  EXPECT_TRUE(w->rbSlowResize->isChecked());
  for (QLabel* l : {w->lbFileSize, w->lbWidth, w->lbHeight, w->lbBits,
                    w->lbChannels, w->lbImage})
    EXPECT_EQ(l->text(), "-");
  EXPECT_TRUE(w->acceptDrops());
}

TEST_F(ModesTest, BandsSitAtTheirClientCoordinates) {
  w->btConvertClick();
  const struct {
    QWidget* band;
    QRect geometry;
  } bands[] = {
      {w->PButtons, QRect(0, 0, 426, 80)},
      {w->PInput, QRect(0, 80, 426, 153)},
      {w->PMain, QRect(0, 233, 426, 210)},
      {w->POutput, QRect(0, 443, 426, 146)},
      {w->StatusBar, QRect(0, 589, 426, 19)},
      {w->PAbout, QRect(0, 79, 426, 509)},
      {w->PProgress, QRect(25, 239, 377, 193)},
  };
  for (const auto& b : bands) EXPECT_EQ(b.band->geometry(), b.geometry);
  // The mode buttons: 64 × 64, left to right, never reached by Tab.
  QToolButton* const buttons[] = {w->btConvert, w->btCrop,  w->btResize,
                                  w->btSplit,   w->btMerge, w->btAbout};
  const char* const captions[] = {"Convert", "Crop",  "Resize",
                                  "Split",   "Merge", "About"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(buttons[i]->size(), QSize(64, 64));
    EXPECT_EQ(buttons[i]->text(), captions[i]);
    EXPECT_TRUE(buttons[i]->font().bold());
    EXPECT_EQ(buttons[i]->focusPolicy(), Qt::NoFocus);
    if (i > 0) {
      EXPECT_GT(buttons[i]->x(), buttons[i - 1]->x());
    }
  }
}

TEST_F(ModesTest, EachModeShowsItsPanelAndStartCaption) {
  const struct {
    QToolButton* button;
    QWidget* panel;
    int number;
    const char* start;
  } modes[] = {
      {w->btConvert, w->PConvert, 1, "Start"},
      {w->btCrop, w->PCrop, 2, "Start"},
      {w->btResize, w->PResize, 3, "Start"},
      {w->btSplit, w->PSplit, 4, "Split"},
      {w->btMerge, w->PMerge, 5, "Merge"},
  };
  QWidget* const all[] = {w->PConvert, w->PCrop,  w->PResize,
                          w->PSplit,   w->PMerge, w->PAbout};
  for (const auto& m : modes) {
    QTest::mouseClick(m.button, Qt::LeftButton);
    EXPECT_EQ(w->CurrentPanel, m.number);
    for (QWidget* p : all) EXPECT_EQ(p->isVisible(), p == m.panel) << m.number;
    EXPECT_TRUE(w->PInput->isVisible());
    EXPECT_TRUE(w->POutput->isVisible());
    EXPECT_TRUE(w->btStart->isVisible());
    EXPECT_EQ(w->btStart->text(), m.start);
    EXPECT_TRUE(m.button->isChecked());
  }
  QTest::mouseClick(w->btAbout, Qt::LeftButton);
  EXPECT_EQ(w->CurrentPanel, 6);
  EXPECT_TRUE(w->PAbout->isVisible());
  EXPECT_FALSE(w->PInput->isVisible());
  EXPECT_FALSE(w->POutput->isVisible());
  EXPECT_FALSE(w->btStart->isVisible());
}

TEST_F(ModesTest, PanelTitlesAndSubtitles) {
  const struct {
    QWidget* panel;
    const char* title;
    const char* subtitle;
  } panels[] = {
      {w->PConvert, "Convert image",
       "Convert the image to a different file format"},
      {w->PCrop, "Crop image",
       "Crop the image using the given coordinates and size"},
      {w->PResize, "Resize image", "Resize the image using the given width"},
      {w->PSplit, "Split image", "Slice the image into many smaller tiles"},
      {w->PMerge, "Merge images", "Merge multiple tiles into one image"},
  };
  for (const auto& p : panels) {
    QStringList texts;
    for (QLabel* l : p.panel->findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains(p.title)) << p.title;
    EXPECT_TRUE(texts.contains(p.subtitle)) << p.subtitle;
  }
}

TEST_F(ModesTest, EveryModeSwitchClearsTheStatusLine) {
  for (QToolButton* b : {w->btConvert, w->btCrop, w->btResize, w->btSplit,
                         w->btMerge, w->btAbout, w->btMerge}) {
    w->ShowStatus("something");
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_EQ(w->StatusText(), "");
  }
}

TEST_F(ModesTest, EnteringMergeAlwaysEmptiesTheSelection) {
  w->btMergeClick();
  EXPECT_EQ(w->lbInputFile->text(), "Input files");
  EXPECT_TRUE(w->odMultiSelect);
  std::vector<std::string> tiles;
  for (const char* n : {"a_x1y1.kro", "a_x2y1.kro"}) {
    tiles.push_back(dir.File(n));
    trelvi::test::WriteBytes(tiles.back(), {0});
  }
  Drop(tiles, 150);
  ASSERT_EQ(w->EditInputFile->text(), "2 files selected");
  ASSERT_EQ(w->jvMergeX->Value(), 2);
  // Pressing Merge again, with Merge shown, starts over.
  w->btMergeClick();
  EXPECT_TRUE(w->odFiles.empty());
  EXPECT_EQ(w->EditInputFile->text(), "");
  EXPECT_EQ(w->jvMergeX->Value(), 0);
  EXPECT_EQ(w->jvMergeY->Value(), 0);
  EXPECT_EQ(w->lbWidth->text(), "");
}

TEST_F(ModesTest, LeavingMergeEmptiesTheInputAndTheSplitCounts) {
  w->btSplitClick();
  Open(MakeTiff("pano.tif", 600, 300));
  ASSERT_EQ(w->EditInputFile->text(), "pano.tif");
  ASSERT_EQ(w->jvSplitX->Value(), 1);
  // Among Convert, Crop, Resize, Split and About the input stays.
  for (QToolButton* b :
       {w->btConvert, w->btCrop, w->btResize, w->btAbout, w->btSplit}) {
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
    EXPECT_EQ(w->lbWidth->text(), "600");
  }
  w->btMergeClick();
  EXPECT_EQ(w->EditInputFile->text(), "");
  w->btCropClick();
  EXPECT_EQ(w->lbInputFile->text(), "Input file");
  EXPECT_FALSE(w->odMultiSelect);
  EXPECT_EQ(w->EditInputFile->text(), "");
  EXPECT_EQ(w->lbWidth->text(), "");
  EXPECT_EQ(w->jvSplitX->Value(), 0);
  EXPECT_EQ(w->jvSplitY->Value(), 0);
}

TEST_F(ModesTest, AnInputNoLongerShownIsNotConvertedBehindTheUsersBack) {
  w->btConvertClick();
  const std::string in = MakeTiff("pano.tif", 64, 32);
  Open(in);
  w->btMergeClick();
  w->btConvertClick();
  ASSERT_EQ(w->EditInputFile->text(), "");
  w->btStartClick();
  EXPECT_EQ(w->StatusText(), "Operation aborted");
  EXPECT_EQ(FilesIn(dir.Path().string()),
            (std::vector<std::string>{"pano.tif"}));
}

TEST_F(ModesTest, DisableAndEnableTouchExactlyTheListedControls) {
  w->btResizeClick();
  QWidget* const listed[] = {w->btConvert,      w->btCrop,       w->btResize,
                             w->rbSlowResize,   w->rbFastResize, w->btSplit,
                             w->btMerge,        w->btAbout,      w->sbInput,
                             w->sbOutputFolder, w->btStart};
  QWidget* const untouched[] = {w->EditCropX,
                                w->jvResizeW,
                                w->jvSplitWidth,
                                w->jvMergeX,
                                w->rbTif,
                                w->rbTifLzw,
                                w->rbRaw,
                                w->rbKro,
                                w->btPause,
                                w->btAbort,
                                w->EditOutputFolder,
                                w->EditInputFile,
                                w->cbCheckForUpdates,
                                w->Button1};
  w->DisableButtons();
  for (QWidget* c : listed)
    EXPECT_FALSE(c->isEnabled()) << c->metaObject()->className();
  for (QWidget* c : untouched) EXPECT_TRUE(c->isEnabled());
  w->EnableButtons();
  for (QWidget* c : listed) EXPECT_TRUE(c->isEnabled());
}

TEST_F(ModesTest, TheTileCountsNeverHoldTheFocus) {
  w->btSplitClick();
  w->activateWindow();
  ASSERT_TRUE(
      WaitUntil([&] { return QApplication::activeWindow() == w.get(); }));
  for (TIntEdit* count : {w->jvSplitX, w->jvSplitY}) {
    EXPECT_EQ(count->focusPolicy(), Qt::NoFocus);
    count->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    EXPECT_NE(QApplication::focusWidget(), count);
  }
}

TEST_F(ModesTest, SmallHandlers) {
  w->btCropClick();
  // A click selects the whole text of a parameter field.
  w->EditCropW->SetValue(1234);
  QTest::mouseClick(w->EditCropW, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(w->EditCropW->selectedText(), "1234");
  // A double-click empties the output folder.
  w->EditOutputFolder->setText("/somewhere");
  QTest::mouseDClick(w->EditOutputFolder, Qt::LeftButton);
  EXPECT_EQ(w->EditOutputFolder->text(), "");
  // The home page link opens the browser.
  w->btAboutClick();
  EXPECT_TRUE(w->lbAboutHomepage->font().underline());
  EXPECT_EQ(w->lbAboutHomepage->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(w->lbAboutHomepage, Qt::LeftButton);
  ASSERT_EQ(windows.OpenedAddresses.size(), 1u);
  EXPECT_EQ(windows.OpenedAddresses[0], TFrmMain::kHomePage);
}

TEST_F(ModesTest, TheCheckForUpdatesButtonShowsTheCheckIsRunning) {
  Create(Options("", kNobody));
  QTest::mouseClick(w->Button1, Qt::LeftButton);
  EXPECT_TRUE(w->lbNewVersion->isVisible());
  EXPECT_EQ(w->lbNewVersion->text(), "Checking for updates...");
  // Nobody answers on that port: the check ends as if up to date.
  EXPECT_TRUE(WaitUntil(
      [&] { return w->lbNewVersion->text() == "No new updates available"; }));
}

class SettingsTest : public WindowTest {
 protected:
  void SetUp() override {}
  std::string ini = dir.File("trelvi-gui.ini");
  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(SettingsTest, ThePositionAndTheCheckBoxComeFromTheFileAndGoBackOnClose) {
  {
    std::ofstream(ini) << "WindowPosX=123\r\nWindowPosY=45\r\n"
                          "CheckForUpdates=False\r\nOther=1\r\n";
  }
  Create(Options(ini, kNobody));
  EXPECT_EQ(w->pos(), QPoint(123, 45));
  EXPECT_FALSE(w->cbCheckForUpdates->isChecked());
  w->move(140, 60);
  w->cbCheckForUpdates->setChecked(true);
  EXPECT_TRUE(w->close());
  EXPECT_EQ(Read(ini),
            "WindowPosX=140\r\nWindowPosY=60\r\nCheckForUpdates="
            "True\r\nSyncOutputs=False\r\n");
}

TEST_F(SettingsTest, FirstRunOpensAt400By100AndStartsTheCheck) {
  Create(Options(ini, kNobody));
  EXPECT_EQ(w->pos(), QPoint(400, 100));
  EXPECT_TRUE(w->cbCheckForUpdates->isChecked());
  // The automatic check shows only its result.
  EXPECT_FALSE(w->lbNewVersion->isVisible());
  EXPECT_TRUE(WaitUntil([&] { return w->lbNewVersion->isVisible(); }));
  EXPECT_EQ(w->lbNewVersion->text(), "No new updates available");
  EXPECT_TRUE(w->close());
  EXPECT_EQ(Read(ini),
            "WindowPosX=400\r\nWindowPosY=100\r\nCheckForUpdates="
            "True\r\nSyncOutputs=False\r\n");
}

}  // namespace
}  // namespace trelvi::gui::test
