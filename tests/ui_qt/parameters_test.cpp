// The integer fields, the derived values, Start and the operations it runs.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>
#include <filesystem>
#include <functional>

#include "resize/resize_pipeline.h"
#include "ui/qt/int_edit.h"
#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

using trelvi::test::ReadTiff;

class ParametersTest : public WindowTest {
 protected:
  // An input of the given size as the window knows it after opening it;
  // derived values need only the size.
  void Described(std::uint32_t width, std::uint32_t height) {
    w->MainEngine.InInfo.Width = width;
    w->MainEngine.InInfo.Height = height;
    w->MainEngine.InInfo.ImageIsOk = true;
  }
};

TEST(IntEditTest, TypingPastingAndLeaving) {
  TIntEdit edit(256, 30000, 1000);
  int changes = 0;
  edit.OnChange = [&] { ++changes; };
  EXPECT_EQ(edit.alignment() & Qt::AlignRight, Qt::AlignRight);
  edit.selectAll();
  QTest::keyClicks(&edit, "5a-0 000");
  // Digits only, and the value as typed, above the maximum.
  EXPECT_EQ(edit.text(), "50000");
  EXPECT_EQ(edit.Value(), 50000);
  EXPECT_EQ(changes, 5);
  // Leaving brings it into range and raises the change once more.
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(&edit, &out);
  EXPECT_EQ(edit.text(), "30000");
  EXPECT_EQ(changes, 6);
  // A paste is clamped at once.
  QGuiApplication::clipboard()->setText("12");
  edit.selectAll();
  QTest::keySequence(&edit, QKeySequence::Paste);
  EXPECT_EQ(edit.text(), "256");
  // A program set that leaves the text as it is raises nothing.
  changes = 0;
  edit.SetValue(256);
  EXPECT_EQ(changes, 0);
  edit.SetValue(99999);
  EXPECT_EQ(edit.text(), "30000");
  EXPECT_EQ(changes, 1);
}

TEST_F(ParametersTest, TheResizedHeightFollowsTheTypedWidth) {
  const struct {
    std::uint32_t width, height;
    const char* typed;
    std::int64_t shown;
  } cases[] = {
      {40000, 30000, "1000", 750},
      {10001, 7777, "3000", 2333},
      {4000, 2002, "1000", 500},  // 500.5: ties go to the even neighbour
      {4000, 2006, "1000", 502},  // 501.5
  };
  w->btResizeClick();
  for (const auto& c : cases) {
    Described(c.width, c.height);
    Type(w->jvResizeW, c.typed);
    EXPECT_EQ(w->jvResizeH->Value(), c.shown) << c.width << "x" << c.height;
  }
  // Below 256 the height stays as it was.
  Type(w->jvResizeW, "25");
  EXPECT_EQ(w->jvResizeH->Value(), 502);
}

// The height Start resizes to shows as soon as the input is chosen, by the
// rule of a width change.
TEST_F(ParametersTest, OpeningAnInputComputesTheHeight) {
  w->btResizeClick();
  Open(MakeTiff("pano.tif", 400, 300));
  EXPECT_EQ(w->jvResizeW->Value(), 1000);
  EXPECT_EQ(w->jvResizeH->Value(), 750);
  Open(MakeTiff("tall.tif", 4000, 2006));
  EXPECT_EQ(w->jvResizeH->Value(), 502);  // 501.5: ties go to the even one
  // Below 256 the width leaves the height as it was, on opening too.
  Type(w->jvResizeW, "25");
  Open(MakeTiff("wide.tif", 800, 100));
  EXPECT_EQ(w->jvResizeH->Value(), 502);
}

TEST_F(ParametersTest, TileCountsAreRoundedUp) {
  w->btSplitClick();
  Described(10000, 7000);
  const struct {
    const char *width, *height;
    std::int64_t x, y;
  } cases[] = {{"1000", "1000", 10, 7}, {"3000", "3000", 4, 3}};
  for (const auto& c : cases) {
    Type(w->jvSplitWidth, c.width);
    Type(w->jvSplitHeight, c.height);
    EXPECT_EQ(w->jvSplitX->Value(), c.x);
    EXPECT_EQ(w->jvSplitY->Value(), c.y);
  }
  // While a tile side is below 256 the counts stay.
  Type(w->jvSplitWidth, "2");
  EXPECT_EQ(w->jvSplitX->Value(), 4);
  Type(w->jvSplitWidth, "25");
  EXPECT_EQ(w->jvSplitX->Value(), 4);
  Type(w->jvSplitWidth, "2500");
  EXPECT_EQ(w->jvSplitX->Value(), 4);
  Type(w->jvSplitWidth, "1250");
  EXPECT_EQ(w->jvSplitX->Value(), 8);
}

TEST_F(ParametersTest, TileSidesAreHeldToTheImageAndTo30000) {
  w->btSplitClick();
  Described(40000, 30000);
  Type(w->jvSplitWidth, "50000");
  EXPECT_EQ(w->jvSplitWidth->text(), "30000");
  EXPECT_EQ(w->jvSplitX->Value(), 2);
  Described(15000, 9000);
  Type(w->jvSplitWidth, "20000");
  EXPECT_EQ(w->jvSplitWidth->text(), "15000");
  Type(w->jvSplitHeight, "9001");
  EXPECT_EQ(w->jvSplitHeight->text(), "9000");
  EXPECT_EQ(w->jvSplitX->Value(), 1);
  EXPECT_EQ(w->jvSplitY->Value(), 1);
  // An image narrower than a tile's minimum side: 256 and one tile.
  Described(100, 9000);
  Type(w->jvSplitWidth, "300");
  EXPECT_EQ(w->jvSplitWidth->text(), "256");
  EXPECT_EQ(w->jvSplitX->Value(), 1);
  // Without a valid input nothing is derived.
  w->MainEngine.InInfo.ImageIsOk = false;
  Type(w->jvSplitWidth, "50000");
  EXPECT_EQ(w->jvSplitWidth->text(), "50000");
}

TEST_F(ParametersTest, SwitchingToSplitRecomputesTheCounts) {
  w->btConvertClick();
  Open(MakeTiff("pano.tif", 2100, 600));
  Type(w->jvSplitWidth, "1000");
  w->btSplitClick();
  EXPECT_EQ(w->jvSplitX->Value(), 3);
  EXPECT_EQ(w->jvSplitY->Value(), 1);
}

class CropTest : public ParametersTest {
 protected:
  void SetUp() override {
    ParametersTest::SetUp();
    w->btCropClick();
    in = MakeTiff("pano.tif", 1000, 800);
    Open(in);
    w->EditOutputFolder->setText(QString::fromStdString(out));
    std::filesystem::create_directory(out);
  }
  void Crop(std::int64_t x, std::int64_t y, std::int64_t cw, std::int64_t ch) {
    w->EditCropX->SetValue(x);
    w->EditCropY->SetValue(y);
    w->EditCropW->SetValue(cw);
    w->EditCropH->SetValue(ch);
    ui.Messages.clear();
    QTest::mouseClick(w->btStart, Qt::LeftButton);
  }
  std::string in;
  std::string out = dir.File("out");
};

TEST_F(CropTest, RefusalsAreShownAndEndAsAborted) {
  const struct {
    std::int64_t x, y, w, h;
    const char* message;
  } cases[] = {
      {1000, 0, 1, 1, "X must >= 0 and < 1000"},
      {0, 800, 1, 1, "Y must >= 0 and < 800"},
      {900, 0, 200, 1, "Width must > 0 and <= 100"},
      {0, 700, 1, 101, "Height must > 0 and <= 100"},
  };
  for (const auto& c : cases) {
    Crop(c.x, c.y, c.w, c.h);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{c.message}));
    EXPECT_EQ(w->StatusText(), "Operation aborted");
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_TRUE(w->btStart->isEnabled());
  }
}

TEST_F(CropTest, TheWholeImageCrops) {
  Crop(0, 0, 1000, 800);
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  ASSERT_EQ(FilesIn(out), (std::vector<std::string>{"pano.tif"}));
  EXPECT_EQ(ReadTiff(out + "/pano.tif").Pixels, ReadTiff(in).Pixels);
  EXPECT_FALSE(w->PProgress->isVisible());
  EXPECT_EQ(taskbar.State(), TaskbarState::None);
}

TEST_F(ParametersTest, ConvertWritesTheChosenFormatIntoADroppedFolder) {
  w->btConvertClick();
  const std::string in = MakeTiff("pano.tif", 120, 90);
  Open(in);
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  Drop({out}, 500);
  w->rbKro->setChecked(true);
  QTest::mouseClick(w->btStart, Qt::LeftButton);
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"pano.kro"}));
  EXPECT_EQ(w->MainEngine.OutInfo.ImageType, FileType::KRO4);
  EXPECT_FALSE(w->MainEngine.UseLzw);
  // A double-click sends the output beside the input again.
  QTest::mouseDClick(w->EditOutputFolder, Qt::LeftButton);
  w->rbRaw->setChecked(true);
  w->btStartClick();
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_TRUE(std::filesystem::exists(dir.File("pano_120X90.raw")));
}

TEST_F(ParametersTest, TheOutputButtonsSetTheEnginesOutputType) {
  const struct {
    QRadioButton* button;
    FileType type;
    bool lzw;
  } cases[] = {
      {w->rbTif, FileType::TIF, false},
      {w->rbTifLzw, FileType::TIF, true},
      {w->rbRaw, FileType::RAW, false},
      {w->rbKro, FileType::KRO4, false},
  };
  for (const auto& c : cases) {
    c.button->setChecked(true);
    w->SetOutputType();
    EXPECT_EQ(w->MainEngine.OutInfo.ImageType, c.type);
    EXPECT_EQ(w->MainEngine.UseLzw, c.lzw);
  }
}

// The buttons are the format table's choices, captions in its order, and
// each sets the engine as the table says; none overlaps another or leaves
// its box, and the band below them keeps its order.
TEST_F(ParametersTest, TheOutputButtonsAreTheTablesChoices) {
  const auto choices = OutputChoices();
  ASSERT_EQ(w->OutputButtons.size(), choices.size());
  for (std::size_t i = 0; i < choices.size(); ++i) {
    const auto& [choice, button] = w->OutputButtons[i];
    SCOPED_TRACE(choices[i].CliName);
    EXPECT_EQ(choice, choices[i].Choice);
    EXPECT_EQ(button->text().toStdString(), choices[i].Caption);
    EXPECT_EQ(button->isChecked(), i == 0);
    const QRect box = button->parentWidget()->rect();
    EXPECT_TRUE(box.contains(button->geometry())) << i;
    EXPECT_GE(button->width(), button->sizeHint().width()) << "clipped";
    for (std::size_t j = 0; j < i; ++j)
      EXPECT_FALSE(
          button->geometry().intersects(w->OutputButtons[j].second->geometry()))
          << j;
    w->MainEngine.CompressionLevel = 0;
    button->setChecked(true);
    w->SetOutputType();
    EXPECT_EQ(w->MainEngine.OutInfo.ImageType, choices[i].Type);
    const Compression codec =
        w->MainEngine.UseLzw ? Compression::Lzw : w->MainEngine.OutCodec;
    EXPECT_EQ(codec, choices[i].Codec);
    EXPECT_EQ(w->MainEngine.CompressionLevel, 0) << "the window's default";
  }
  const QWidget* box = w->OutputButtons.front().second->parentWidget();
  EXPECT_LE(box->geometry().bottom(), w->EditOutputFolder->y() - 18);
  EXPECT_LT(w->EditOutputFolder->geometry().bottom(), w->btStart->y());
  EXPECT_LE(w->btStart->geometry().bottom(), w->POutput->height());
}

TEST_F(ParametersTest, ADeflateOutputIsWrittenFromTheWindow) {
  w->btConvertClick();
  const std::string in = MakeTiff("pano.tif", 120, 90);
  Open(in);
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  Drop({out}, 500);
  w->OutputButton(OutputChoice::TifDeflate)->setChecked(true);
  QTest::mouseClick(w->btStart, Qt::LeftButton);
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  const auto img = ReadTiff(out + "/pano.tif");
  EXPECT_EQ(img.Compression, 8);
  EXPECT_EQ(img.Pixels, ReadTiff(in).Pixels);
}

TEST_F(ParametersTest, AVanishedOutputDirectoryStopsStart) {
  w->btConvertClick();
  Open(MakeTiff("pano.tif", 20, 20));
  const std::string gone = dir.File("gone");
  std::filesystem::create_directory(gone);
  windows.FolderAnswers.push_back(gone);
  w->sbOutputFolderClick();
  std::filesystem::remove(gone);
  w->ShowStatus("earlier");
  QTest::mouseClick(w->btStart, Qt::LeftButton);
  EXPECT_EQ(ui.Texts(),
            (std::vector<std::string>{"Output directory doesn't exists"}));
  EXPECT_EQ(w->StatusText(), "");  // no final status
  EXPECT_EQ(FilesIn(dir.Path().string()),
            (std::vector<std::string>{"pano.tif"}));
}

TEST_F(ParametersTest, AVanishedDroppedDirectorySendsTheOutputBesideTheInput) {
  w->btConvertClick();
  Open(MakeTiff("pano.tif", 20, 20));
  const std::string gone = dir.File("gone");
  std::filesystem::create_directory(gone);
  Drop({gone}, 500);
  std::filesystem::remove(gone);
  w->rbRaw->setChecked(true);
  w->btStartClick();
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_TRUE(std::filesystem::exists(dir.File("pano_20X20.raw")));
}

TEST_F(ParametersTest, SplitThenMergeThroughTheWindow) {
  w->btSplitClick();
  const std::string in = MakeTiff("pano.tif", 600, 400);
  Open(in);
  const std::string tiles = dir.File("tiles");
  std::filesystem::create_directory(tiles);
  Drop({tiles}, 500);
  Type(w->jvSplitWidth, "256");
  Type(w->jvSplitHeight, "256");
  ASSERT_EQ(w->jvSplitX->Value(), 3);
  ASSERT_EQ(w->jvSplitY->Value(), 2);
  EXPECT_EQ(w->btStart->text(), "Split");
  QTest::mouseClick(w->btStart, Qt::LeftButton);
  ASSERT_EQ(w->StatusText(), "Operation completed successfully");
  std::vector<std::string> written;
  for (const auto& name : FilesIn(tiles)) written.push_back(tiles + "/" + name);
  ASSERT_EQ(written.size(), 6u);

  w->btMergeClick();
  EXPECT_EQ(w->btStart->text(), "Merge");
  Drop(written, 150);
  ASSERT_EQ(w->jvMergeX->Value(), 3);
  ASSERT_EQ(w->jvMergeY->Value(), 2);
  const std::string merged = dir.File("merged");
  std::filesystem::create_directory(merged);
  Drop({merged}, 500);
  QTest::mouseClick(w->btStart, Qt::LeftButton);
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  const auto names = FilesIn(merged);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(ReadTiff(merged + "/" + names[0]).Pixels, ReadTiff(in).Pixels);
}

TEST_F(ParametersTest, MergeRefusesAMissingOrASurplusFile) {
  w->btMergeClick();
  std::vector<std::string> tiles;
  for (int row = 1; row <= 2; ++row)
    for (int col = 1; col <= 3; ++col) {
      tiles.push_back(dir.File("a_x" + std::to_string(col) + "y" +
                               std::to_string(row) + ".kro"));
      trelvi::test::WriteBytes(tiles.back(), {0});
    }
  const std::string copy = dir.File("b_x1y1.kro");
  trelvi::test::WriteBytes(copy, {0});
  Drop(tiles, 150);
  ASSERT_EQ(w->jvMergeX->Value() * w->jvMergeY->Value(), 6);

  std::vector<std::string> seven = tiles;
  seven.push_back(copy);
  const struct {
    std::vector<std::string> files;
    const char* message;
  } cases[] = {
      {std::vector<std::string>(tiles.begin(), tiles.end() - 1),
       "One or more files are missing.\r\nPlease select 6 files"},
      {seven, "Too many files selected.\r\nPlease select 6 files"},
  };
  for (const auto& c : cases) {
    Drop(c.files, 150);  // refused as a grid, kept as the list
    ASSERT_EQ(w->odFiles, c.files);
    ui.Messages.clear();
    QTest::mouseClick(w->btStart, Qt::LeftButton);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{c.message}));
    EXPECT_EQ(w->StatusText(), "Operation aborted");
  }
  EXPECT_EQ(FilesIn(dir.Path().string()).size(), 7u);
}

TEST_F(ParametersTest, MergeWithoutFilesDoesNothing) {
  w->btMergeClick();
  w->MainEngine.Aborted = false;
  w->btStartClick();
  EXPECT_TRUE(ui.Messages.empty());
  // Nothing was written, whatever the last run left in the engine.
  EXPECT_EQ(w->StatusText(), "Operation aborted");
}

// A Start that wrote nothing never reports success, in any mode: the
// engine's Aborted flag is not set for a declined overwrite, nor for an
// output that would replace its input.
TEST_F(ParametersTest, AStartThatWroteNothingEndsAsAborted) {
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  const struct {
    const char* name;
    void (TFrmMain::*mode)();
    // Puts the window where Start writes nothing; the expected messages.
    std::function<void()> arrange;
    std::vector<std::string> messages;
  } cases[] = {
      {"convert onto its input",
       &TFrmMain::btConvertClick,
       [&] {
         Open(MakeTiff("pano.tif", 40, 30));
         w->EditOutputFolder->clear();
       },
       {"Cannot overwrite input file"}},
      {"convert, overwrite declined",
       &TFrmMain::btConvertClick,
       [&] {
         Open(MakeTiff("pano.tif", 40, 30));
         Drop({out}, 500);
         MakeTiff("out/pano.tif", 8, 8);
       },
       {"Output file exists. Do you want to overwrite it?"}},
      {"crop, overwrite declined",
       &TFrmMain::btCropClick,
       [&] {
         Open(MakeTiff("pano.tif", 40, 30));
         Drop({out}, 500);
         MakeTiff("out/pano.tif", 8, 8);
       },
       {"Output file exists. Do you want to overwrite it?"}},
      {"split, overwrite declined",
       &TFrmMain::btSplitClick,
       [&] {
         Open(MakeTiff("pano.tif", 600, 300));
         w->jvSplitWidth->SetValue(600);
         w->jvSplitHeight->SetValue(300);
         Drop({out}, 500);
         MakeTiff("out/pano_600X300_x1y1.tif", 8, 8);
       },
       {"Output file exists. Do you want to overwrite it?",
        "Cant't create file " + dir.Dir() + "out/pano_600X300_x1y1"}},
      {"resize onto its own folder and type",
       &TFrmMain::btResizeClick,
       [&] {
         Open(MakeRaw("strip", 10000, 240));
         w->EditOutputFolder->clear();
         w->rbRaw->setChecked(true);
       },
       {"Cannot overwrite input file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    (w.get()->*c.mode)();
    c.arrange();
    // The last run succeeded: the engine's flag is clear.
    w->MainEngine.Aborted = false;
    ui.Messages.clear();
    w->btStartClick();
    EXPECT_EQ(ui.Texts(), c.messages);
    EXPECT_EQ(w->StatusText(), "Operation aborted");
    EXPECT_TRUE(w->btStart->isEnabled());
    w->rbTif->setChecked(true);
  }
}

TEST_F(ParametersTest, ResizeRunsThePipelineFromTheFields) {
  w->btResizeClick();
  const std::string in = MakeRaw("strip", 10000, 240);
  Open(in);
  const std::string out = dir.File("out");
  std::filesystem::create_directory(out);
  Drop({out}, 500);
  QTest::mouseClick(w->rbFastResize, Qt::LeftButton);
  Type(w->jvResizeW, "2500");
  ASSERT_EQ(w->jvResizeH->Value(), 60);
  w->rbRaw->setChecked(true);
  QTest::mouseClick(w->btStart, Qt::LeftButton);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{});
  EXPECT_EQ(w->StatusText(), "Operation completed successfully");
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"strip_2500X60.raw"}));
  // The engine describes the user's input again, which is still there.
  EXPECT_EQ(w->MainEngine.InInfo.FileName, in);
  EXPECT_TRUE(std::filesystem::exists(in));
  EXPECT_TRUE(w->btStart->isEnabled());
  EXPECT_TRUE(w->rbSlowResize->isEnabled());
}

TEST_F(ParametersTest, ResizeRefusesASmallInput) {
  w->btResizeClick();
  Open(MakeTiff("small.tif", 300, 200));
  w->btStartClick();
  EXPECT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(w->StatusText(), "Operation aborted");
  EXPECT_EQ(FilesIn(dir.Path().string()),
            (std::vector<std::string>{"small.tif"}));
}

}  // namespace
}  // namespace trelvi::gui::test
