// Input selection, drops by band, the info box and the output folder.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest/QTest>
#include <filesystem>

#include "engine/utils.h"
#include "support/metadata_fixture.h"
#include "ui/qt/int_edit.h"
#include "window_fixture.h"

namespace trelvi::gui::test {
namespace {

using InputTest = WindowTest;

// Heights in the client area: one in each band and a few between.
constexpr int kModeButtons = 40;
constexpr int kInputBand = 150;
constexpr int kModePanel = 300;
constexpr int kOutputBand = 500;
constexpr int kStatusLine = 600;

TEST_F(InputTest, ADroppedImageFillsTheInfoBox) {
  w->btConvertClick();
  const std::string in = MakeTiff("pano.tif", 1500, 200);
  Open(in);
  EXPECT_EQ(windows.InputCalls, 0);  // a drop opens no dialog
  EXPECT_FALSE(w->DroppedFile);
  EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
  EXPECT_EQ(w->EditInputFile->toolTip().toStdString(), in);
  EXPECT_EQ(w->lbFileSize->text().toStdString(),
            FormatGrouped(FileSizeByName(in)));
  EXPECT_EQ(w->lbWidth->text(), "1.500");
  EXPECT_EQ(w->lbHeight->text(), "200");
  EXPECT_EQ(w->lbBits->text(), "8");
  EXPECT_EQ(w->lbChannels->text(), "3");
  EXPECT_EQ(w->lbImage->text(), "300.00 Kilopixels");
  EXPECT_EQ(w->StatusText(), "Image is valid");
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_TRUE(w->btStart->isEnabled());
}

// The box's header names the profile and the kinds of metadata, its
// tooltip the lines `trelvi info` prints and what an output will lack; a
// plain input clears them.
TEST_F(InputTest, ThePhotographsMetadataShowsWithTheInfoBox) {
  w->btConvertClick();
  const std::string photo = dir.File("photo.tif");
  ::trelvi::test::WriteMetadataTiff(photo, {});
  Open(photo);
  EXPECT_EQ(w->lbMetadata->text(),
            QString::fromUtf8("sRGB built-in \u00B7 EXIF, GPS, XMP, IPTC"));
  const QString lines = QStringLiteral(
      "Colour profile: sRGB built-in\nMetadata: EXIF, GPS, XMP, IPTC");
  EXPECT_EQ(w->lbMetadata->toolTip(), lines);
  EXPECT_EQ(w->PInfo->toolTip(), lines);
  EXPECT_EQ(w->StatusText(), "Image is valid");

  ::trelvi::test::MetadataSpec big;
  big.Icc.clear();
  big.Exif = big.Gps = false;
  big.Xmp.assign((std::size_t{16} << 20) + 1, ' ');
  const std::string damaged = dir.File("damaged.tif");
  ::trelvi::test::WriteMetadataTiff(damaged, big);
  Open(damaged);
  EXPECT_EQ(w->lbMetadata->text(), "IPTC");
  EXPECT_EQ(w->PInfo->toolTip(),
            "Metadata: IPTC\nMetadata not copied: XMP (larger than 16 MiB)");
  EXPECT_EQ(w->StatusText(), "Image is valid");
  EXPECT_TRUE(ui.Messages.empty());

  Open(MakeTiff("plain.tif", 40, 30));
  EXPECT_EQ(w->lbMetadata->text(), "");
  EXPECT_EQ(w->PInfo->toolTip(), "");
  EXPECT_EQ(w->lbWidth->text(), "40");
}

TEST_F(InputTest, TheOpenDialogGivesTheSameResult) {
  w->btCropClick();
  const std::string in = MakeTiff("pano.tif", 40, 30);
  windows.InputAnswers.push_back(std::vector<std::string>{in});
  QTest::mouseClick(w->sbInput, Qt::LeftButton);
  EXPECT_EQ(windows.InputCalls, 1);
  EXPECT_FALSE(windows.LastMultiple);
  EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
  EXPECT_EQ(w->lbImage->text(), "1.20 Kilopixels");
  // Cancelling the dialog changes nothing.
  QTest::mouseClick(w->sbInput, Qt::LeftButton);
  EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
  EXPECT_EQ(w->lbWidth->text(), "40");
}

// "Open with" from the desktop starts the program with one file.
TEST_F(InputTest, AFileGivenAtStartIsTheInputOfAConvert) {
  const std::string in = MakeTiff("pano.tif", 40, 30);
  w->OpenInput(in);
  EXPECT_EQ(w->CurrentPanel, 1);
  EXPECT_TRUE(w->btConvert->isChecked());
  EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
  EXPECT_EQ(w->lbWidth->text(), "40");
  EXPECT_EQ(windows.InputCalls, 0);
  EXPECT_FALSE(w->DroppedFile);

  // A file the window does not open is refused as a dropped one is.
  const std::string text = dir.File("notes.txt");
  trelvi::test::WriteBytes(text, std::vector<std::uint8_t>(10, 'a'));
  w->OpenInput(text);
  EXPECT_EQ(ui.LastText(), "Then file type is invalid");
  EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
  EXPECT_FALSE(w->DroppedFile);
  QTest::mouseClick(w->sbInput, Qt::LeftButton);
  EXPECT_EQ(windows.InputCalls, 1);  // the next click opens the dialog
}

TEST_F(InputTest, OnlyTheInputAndOutputBandsTakeDrops) {
  const std::string in = MakeTiff("pano.tif", 40, 30);
  const std::string folder = dir.File("out");
  std::filesystem::create_directory(folder);
  w->btConvertClick();
  for (int y : {kModeButtons, kModePanel, kStatusLine}) {
    Drop({in, folder}, y);
    EXPECT_EQ(w->EditInputFile->text(), "") << y;
    EXPECT_EQ(w->EditOutputFolder->text(), "") << y;
  }
  // A file dropped on the output band does nothing either.
  Drop({in}, kOutputBand);
  EXPECT_EQ(w->EditOutputFolder->text(), "");
  // A folder there is taken without the folder dialog.
  Drop({folder}, kOutputBand);
  EXPECT_EQ(w->EditOutputFolder->text().toStdString(), folder);
  EXPECT_EQ(windows.FolderCalls, 0);
  EXPECT_FALSE(w->DroppedFile);
  // A folder on the input band is not an input.
  Drop({folder}, kInputBand);
  EXPECT_EQ(w->EditInputFile->text(), "");
  Drop({in}, kInputBand);
  EXPECT_EQ(w->EditInputFile->text(), "pano.tif");
}

TEST_F(InputTest, TheAboutViewTakesNoDrops) {
  const std::string in = MakeTiff("pano.tif", 40, 30);
  ASSERT_EQ(w->CurrentPanel, 6);
  for (int y : {kInputBand, kOutputBand}) Drop({in, dir.Path().string()}, y);
  w->btConvertClick();
  EXPECT_EQ(w->EditInputFile->text(), "");
  EXPECT_EQ(w->EditOutputFolder->text(), "");
  EXPECT_EQ(w->lbWidth->text(), "-");
}

TEST_F(InputTest, AnUnsupportedDroppedFileIsRefused) {
  w->btConvertClick();
  const std::string png = dir.File("photo.png");
  trelvi::test::WriteBytes(png, {1, 2, 3});
  Drop({png}, kInputBand);
  EXPECT_EQ(ui.Texts(),
            (std::vector<std::string>{"Then file type is invalid"}));
  EXPECT_FALSE(w->DroppedFile);
  // The next click opens the dialog again.
  QTest::mouseClick(w->sbInput, Qt::LeftButton);
  EXPECT_EQ(windows.InputCalls, 1);
}

TEST_F(InputTest, TheWindowsOwnLimitsRefuseAnImage) {
  w->btConvertClick();
  Open(MakeTiff("fits.tif", 150000, 1));
  EXPECT_EQ(w->lbWidth->text(), "150.000");
  EXPECT_TRUE(ui.Messages.empty());
  Open(MakeTiff("wide.tif", 150001, 1));
  EXPECT_EQ(
      ui.Texts(),
      (std::vector<std::string>{
          "Image dimensions exceed the internal limits of this version"}));
  EXPECT_FALSE(w->MainEngine.InInfo.ImageIsOk);
  EXPECT_EQ(w->lbWidth->text(), "");
  EXPECT_EQ(w->lbImage->text(), "");
  // The input field keeps the last accepted name.
  EXPECT_EQ(w->EditInputFile->text(), "fits.tif");
  EXPECT_TRUE(w->sbInput->isEnabled());
}

TEST_F(InputTest, ARawFileWithoutASizeAsksForItsDimensions) {
  w->btConvertClick();
  const std::string raw = dir.File("photo.raw");
  trelvi::test::WriteBytes(raw, trelvi::test::MakePixels(40, 25, 3, 8));
  ui.AnswerRawDialog({true, 40, 25, 8});
  Open(raw);
  EXPECT_EQ(ui.RawDialogCalls, 1);
  EXPECT_EQ(ui.RawDialogFileSize, 3000);
  EXPECT_EQ(w->lbWidth->text(), "40");
  EXPECT_EQ(w->lbHeight->text(), "25");
  // Cancelled: refused without a message.
  Open(raw);
  EXPECT_EQ(ui.RawDialogCalls, 2);
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(w->lbWidth->text(), "");
}

class MergeInputTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    w->btMergeClick();
    for (int row = 1; row <= 2; ++row)
      for (int col = 1; col <= 3; ++col) {
        tiles.push_back(dir.File("a_x" + std::to_string(col) + "y" +
                                 std::to_string(row) + ".kro"));
        trelvi::test::WriteBytes(tiles.back(), {0});
      }
  }
  std::vector<std::string> tiles;
};

TEST_F(MergeInputTest, ACompleteGridFillsTheCounts) {
  Drop(tiles, kInputBand);
  EXPECT_EQ(w->odFiles, tiles);
  EXPECT_EQ(w->EditInputFile->text(), "6 files selected");
  EXPECT_EQ(w->StatusText(), "6 files selected");
  EXPECT_EQ(w->jvMergeX->Value(), 3);
  EXPECT_EQ(w->jvMergeY->Value(), 2);
  EXPECT_TRUE(ui.Messages.empty());
  // Nothing is opened in Merge mode.
  EXPECT_EQ(w->lbWidth->text(), "");
}

TEST_F(MergeInputTest, AnIncompleteGridIsRefusedAndTheListKept) {
  Drop(tiles, kInputBand);
  const std::vector<std::string> five(tiles.begin(), tiles.end() - 1);
  Drop(five, kInputBand);
  EXPECT_EQ(
      ui.Texts(),
      (std::vector<std::string>{"The number of selected files must be : 6"}));
  EXPECT_EQ(w->odFiles, five);
  EXPECT_EQ(w->jvMergeX->Value(), 3);  // counts as they were
  EXPECT_EQ(w->jvMergeY->Value(), 2);
}

TEST_F(MergeInputTest, RefusedSelectionsFromTheDialog) {
  const std::string other = dir.File("a_x1y2.tif");
  trelvi::test::WriteBytes(other, {0});
  const std::string untagged = dir.File("plain.kro");
  trelvi::test::WriteBytes(untagged, {0});
  const struct {
    std::vector<std::string> files;
    const char* message;
  } cases[] = {
      {{tiles[0], other}, "You can't select two different type of files"},
      {{untagged, untagged}, "Can't merge the selected files"},
  };
  for (const auto& c : cases) {
    ui.Messages.clear();
    windows.InputAnswers.push_back(c.files);
    QTest::mouseClick(w->sbInput, Qt::LeftButton);
    EXPECT_TRUE(windows.LastMultiple);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{c.message}));
    EXPECT_EQ(w->odFiles, c.files);
    EXPECT_EQ(w->jvMergeX->Value(), 0);
  }
}

TEST_F(MergeInputTest, OneDroppedFileWaitsForMore) {
  Drop({tiles[0]}, kInputBand);
  EXPECT_EQ(w->odFiles, (std::vector<std::string>{tiles[0]}));
  EXPECT_EQ(w->EditInputFile->text(), "");
  EXPECT_EQ(w->StatusText(), "Processing input files list");
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(windows.InputCalls, 0);
  EXPECT_FALSE(w->DroppedFile);
  QTest::mouseClick(w->sbInput, Qt::LeftButton);
  EXPECT_EQ(windows.InputCalls, 1);
}

TEST_F(MergeInputTest, ADroppedFileOfAnotherTypeIsRefused) {
  const std::string png = dir.File("a_x4y1.png");
  trelvi::test::WriteBytes(png, {0});
  std::vector<std::string> files = tiles;
  files.push_back(png);
  Drop(files, kInputBand);
  EXPECT_EQ(ui.Texts(),
            (std::vector<std::string>{"Then file type is invalid"}));
  EXPECT_EQ(w->odFiles, files);  // the list already holds the dropped files
  EXPECT_EQ(w->jvMergeX->Value(), 0);
}

TEST_F(MergeInputTest, ADropWithoutFilesLeavesTheSelectionAsItWas) {
  Drop(tiles, kInputBand);
  Drop({dir.Path().string(), dir.File("gone.kro")}, kInputBand);
  EXPECT_EQ(w->odFiles, tiles);
  EXPECT_EQ(w->EditInputFile->text(), "6 files selected");
  EXPECT_EQ(windows.InputCalls, 0);
}

// Checking thousands of dropped tiles must not freeze the window: it
// answers every tenth item, and a second drop meanwhile is ignored.
TEST_F(MergeInputTest, ALongDropKeepsTheWindowAnswering) {
  std::vector<std::string> items = tiles;
  for (int i = 0; i < 994; ++i)
    items.push_back(dir.File("gone_" + std::to_string(i) + ".kro"));
  int turns = 0;
  ui.OnEvents = [&] {
    if (++turns == 1) w->WMDropFiles({tiles[0]}, QPoint(200, kInputBand));
  };
  Drop(items, kInputBand);
  ui.OnEvents = nullptr;
  EXPECT_GE(turns, 100);
  EXPECT_EQ(w->odFiles, tiles);
  EXPECT_EQ(w->EditInputFile->text(), "6 files selected");
  EXPECT_EQ(w->jvMergeX->Value(), 3);
}

TEST_F(InputTest, TheOutputButtonStartsAtTheInputsFolder) {
  w->btConvertClick();
  const std::string sub = dir.File("pictures");
  std::filesystem::create_directory(sub);
  const std::string in = sub + "/pano.tif";
  trelvi::test::TiffSpec spec;
  spec.Width = 8;
  spec.Height = 8;
  trelvi::test::WriteTiff(in, spec);
  Open(in);
  // Cancelled, the field still holds the input's folder.
  QTest::mouseClick(w->sbOutputFolder, Qt::LeftButton);
  EXPECT_EQ(windows.FolderCalls, 1);
  EXPECT_EQ(windows.LastFolderStart, sub + "/");
  EXPECT_EQ(w->EditOutputFolder->text().toStdString(), sub + "/");
  // Chosen, the folder goes into the field and is remembered.
  const std::string out = dir.File("out");
  windows.FolderAnswers.push_back(out);
  QTest::mouseClick(w->sbOutputFolder, Qt::LeftButton);
  EXPECT_EQ(w->EditOutputFolder->text().toStdString(), out);
  EXPECT_EQ(w->FolderDialogDirectory, out);
  QTest::mouseClick(w->sbOutputFolder, Qt::LeftButton);
  EXPECT_EQ(windows.LastFolderStart, out);
}

}  // namespace
}  // namespace trelvi::gui::test
