// The Split panel's web pyramid: the box, the fields it enables and
// disables, and the pyramid it writes in place of the tiles.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "operations/pyramid_op.h"
#include "ui/qt/int_edit.h"
#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

namespace fs = std::filesystem;

class PyramidTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    w->btSplitClick();
    fs::create_directory(out);
  }
  void OpenInto(const std::string& input) {
    Open(input);
    Drop({out}, 500);
  }
  void Start() { QTest::mouseClick(w->btStart, Qt::LeftButton); }
  void Tick(bool on) {
    if (w->cbPyramid->isChecked() != on)
      QTest::mouseClick(w->cbPyramid, Qt::LeftButton, {},
                        QPoint(8, w->cbPyramid->height() / 2));
    ASSERT_EQ(w->cbPyramid->isChecked(), on);
  }
  // The split's own controls and the output format, against the pyramid's.
  void ExpectSplitControls(bool split) {
    for (QWidget* c : {static_cast<QWidget*>(w->jvSplitWidth),
                       static_cast<QWidget*>(w->jvSplitHeight),
                       static_cast<QWidget*>(w->jvSplitX),
                       static_cast<QWidget*>(w->jvSplitY)})
      EXPECT_EQ(c->isEnabled(), split);
    for (const auto& [choice, button] : w->OutputButtons)
      EXPECT_EQ(button->isEnabled(), split) << button->text().toStdString();
    for (QWidget* c : {static_cast<QWidget*>(w->jvPyramidTile),
                       static_cast<QWidget*>(w->jvPyramidOverlap),
                       static_cast<QWidget*>(w->cbPyramidFormat)})
      EXPECT_EQ(c->isEnabled(), !split);
    EXPECT_TRUE(w->cbPyramid->isEnabled());
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string out = dir.File("out");
};

TEST_F(PyramidTest, TheBoxSwapsTheSplitFieldsForThePyramidsAndBack) {
  EXPECT_EQ(w->cbPyramid->text(), "Web pyramid (Deep Zoom)");
  EXPECT_FALSE(w->cbPyramid->isChecked());
  EXPECT_EQ(w->jvPyramidTile->Value(), 254);
  EXPECT_EQ(w->jvPyramidTile->MinValue(), 64);
  EXPECT_EQ(w->jvPyramidTile->MaxValue(), 4096);
  EXPECT_EQ(w->jvPyramidOverlap->Value(), 1);
  EXPECT_EQ(w->jvPyramidOverlap->MinValue(), 0);
  EXPECT_EQ(w->jvPyramidOverlap->MaxValue(), 16);
  ASSERT_EQ(w->cbPyramidFormat->count(), 2);
  EXPECT_EQ(w->cbPyramidFormat->itemText(0), "JPEG");
  EXPECT_EQ(w->cbPyramidFormat->itemText(1), "PNG");
  EXPECT_EQ(w->cbPyramidFormat->currentIndex(), 0);
  ExpectSplitControls(true);

  Tick(true);
  ExpectSplitControls(false);
  // Another mode writes its output format whatever the box says; the
  // Split panel comes back as it was left.
  w->btConvertClick();
  for (const auto& [choice, button] : w->OutputButtons)
    EXPECT_TRUE(button->isEnabled());
  w->btSplitClick();
  ExpectSplitControls(false);

  Tick(false);
  ExpectSplitControls(true);
}

TEST_F(PyramidTest, SplitWritesThePyramidOfTheFieldsIntoTheOutputFolder) {
  const std::string in = MakeTiff("pano.tif", 300, 200);
  OpenInto(in);
  Tick(true);
  Type(w->jvPyramidTile, "128");
  Type(w->jvPyramidOverlap, "2");
  w->cbPyramidFormat->setCurrentIndex(1);
  Start();
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_TRUE(ui.Messages.empty()) << ui.LastText();
  ASSERT_TRUE(fs::is_regular_file(out + "/pano.dzi"));

  // The descriptor and its tiles; no split tiles, in no folder.
  std::vector<std::string> expected = {"pano.dzi", "pano_files"};
  if (!DefaultViewerScript().empty())
    expected = {"openseadragon.min.js", "pano.dzi", "pano.html", "pano_files"};
  EXPECT_EQ(FilesIn(out), expected);
  EXPECT_EQ(FilesIn(dir.Path().string()),
            (std::vector<std::string>{"out", "pano.tif"}));
  const std::string dzi = Read(out + "/pano.dzi");
  EXPECT_NE(dzi.find("TileSize=\"128\""), std::string::npos) << dzi;
  EXPECT_NE(dzi.find("Overlap=\"2\""), std::string::npos) << dzi;
  EXPECT_NE(dzi.find("Format=\"png\""), std::string::npos) << dzi;
  EXPECT_NE(dzi.find("Width=\"300\""), std::string::npos) << dzi;
  // The full-size level: 300 x 200 in 128-pixel tiles, 3 by 2.
  EXPECT_EQ(FilesIn(out + "/pano_files/9"),
            (std::vector<std::string>{"0_0.png", "0_1.png", "1_0.png",
                                      "1_1.png", "2_0.png", "2_1.png"}));
  EXPECT_TRUE(w->btStart->isEnabled());
  EXPECT_FALSE(w->PProgress->isVisible());

  // Again into the same folder: the question is asked; declined, the old
  // pyramid stays and the run does not count as written although its
  // descriptor is there.
  Type(w->jvPyramidTile, "256");
  Start();
  EXPECT_EQ(ui.LastText(), "Output file exists. Do you want to overwrite it?");
  EXPECT_EQ(w->StatusText(), "Operation aborted");
  EXPECT_EQ(Read(out + "/pano.dzi"), dzi);
  ui.AnswerYesNo(MsgResult::Yes);
  Start();
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_NE(Read(out + "/pano.dzi").find("TileSize=\"256\""),
            std::string::npos);
  EXPECT_EQ(FilesIn(out + "/pano_files/9"),
            (std::vector<std::string>{"0_0.png", "1_0.png"}));
  EXPECT_EQ(FilesIn(out), expected);

  // Unticked again, the same Start splits as before.
  Tick(false);
  Type(w->jvSplitWidth, "256");
  Type(w->jvSplitHeight, "256");
  Start();
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  std::vector<std::string> files = FilesIn(out);
  EXPECT_EQ(files.size(), expected.size() + 2);
}

TEST_F(PyramidTest, AbortStopsThePyramidAndLeavesNothing) {
  OpenInto(MakeRaw("pano", 64, 3000));
  Tick(true);
  windows.ConfirmAnswers.push_back(mrYes);
  bool sawProgress = false;
  EveryPass script([&] {
    if (!w->PProgress->isVisible() || w->PBStatus->value() < 70) return false;
    sawProgress = true;
    EXPECT_FALSE(w->btStart->isEnabled());
    QTest::mouseClick(w->btAbort, Qt::LeftButton);
    return true;
  });
  Start();
  EXPECT_TRUE(sawProgress);
  EXPECT_EQ(windows.ConfirmCalls, 1);
  EXPECT_EQ(w->StatusText(), "Operation aborted");
  EXPECT_TRUE(FilesIn(out).empty());
  EXPECT_FALSE(w->PProgress->isVisible());
  EXPECT_TRUE(w->btStart->isEnabled());
}

}  // namespace
}  // namespace trelvi::gui::test
