#include <gtest/gtest.h>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

using test::ScriptedUi;
using test::TempDir;

TEST(FormatGrouped, GroupsDigitsByThreeWithAtMostFourDots) {
  const struct {
    std::int64_t value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {999, "999"},
      {1234, "1.234"},
      {1234567, "1.234.567"},
      {3600000054, "3.600.000.054"},
      {123456789012345, "123.456.789.012.345"},
      // From 16 digits on the leading group grows instead of a fifth dot.
      {1234567890123456, "1234.567.890.123.456"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatGrouped(c.value), c.text);
}

TEST(FileSizeByName, SizeOfAFileAndMinusOneForAMissingOne) {
  TempDir dir;
  test::WriteBytes(dir.File("a.bin"), std::vector<std::uint8_t>(1234, 7));
  EXPECT_EQ(FileSizeByName(dir.File("a.bin")), 1234);
  EXPECT_EQ(FileSizeByName(dir.File("missing.bin")), -1);
}

TEST(PathParts, BothSeparatorsEndTheDirectoryPart) {
  EXPECT_EQ(FileNamePart("D:\\pics\\pano.tif"), "pano.tif");
  EXPECT_EQ(FileNamePart("/tmp/a\\b/c.raw"), "c.raw");
  EXPECT_EQ(FileNamePart("plain.raw"), "plain.raw");
  EXPECT_EQ(DirectoryPart("D:\\pics\\pano.tif"), "D:\\pics\\");
  EXPECT_EQ(DirectoryPart("/tmp/x/pano.tif"), "/tmp/x/");
  EXPECT_EQ(DirectoryPart("pano.tif"), "");
}

TEST(Engine, HooksAreOptional) {
  TTrelvi engine;
  engine.InitEngine();
  engine.DoError("nobody listens");
  engine.DoStatus("nobody listens");
  engine.DoShowProgress(10, "x");
  engine.DoUpdateProgress(5);
  engine.DoHideProgress();
  engine.CloseInFile();
  EXPECT_TRUE(engine.CloseOutFile());
  EXPECT_FALSE(engine.InOpen);
  EXPECT_FALSE(engine.OutOpen);
}

TEST(Engine, HooksReceiveTheirArguments) {
  TTrelvi engine;
  std::vector<std::string> seen;
  engine.OnError = [&](const std::string& m) { seen.push_back("E:" + m); };
  engine.OnStatus = [&](const std::string& m) { seen.push_back("S:" + m); };
  engine.OnShowProgress = [&](std::int32_t max, const std::string& d) {
    seen.push_back("P:" + std::to_string(max) + d);
  };
  engine.OnUpdateProgress = [&](std::int32_t c) {
    seen.push_back("U:" + std::to_string(c));
  };
  engine.OnHideProgress = [&] { seen.push_back("H"); };
  engine.DoError("e");
  engine.DoStatus("s");
  engine.DoShowProgress(7, "d");
  engine.DoUpdateProgress(3);
  engine.DoHideProgress();
  EXPECT_EQ(seen, (std::vector<std::string>{"E:e", "S:s", "P:7d", "U:3", "H"}));
}

TEST(OpenInFile, ZeroOrOversizedRowIsRefusedAsNotEnoughMemory) {
  const struct {
    std::uint32_t width;
    std::uint8_t bytesPerPixel;
  } cases[] = {{0, 3}, {100, 0}, {0xFFFFFFFFu, 8}, {0x40000000u, 2}};
  for (const auto& c : cases) {
    ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = "/nonexistent/x.raw";
    engine.InInfo.ImageType = FileType::RAW;
    engine.InInfo.Width = c.width;
    engine.InInfo.Height = 1;
    engine.InInfo.BytesPerPixel = c.bytesPerPixel;
    EXPECT_FALSE(engine.OpenInFile(engine.InInfo.FileName));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{
                              "Trelvi.OpenInFile : Not enough memory"});
    EXPECT_FALSE(engine.InOpen);
    EXPECT_EQ(engine.ReadLine(0), 0);
    engine.CloseInFile();
    EXPECT_EQ(engine.InInfo.ScanLine, nullptr);
  }
}

TEST(OpenInFile, UnopenableRawOrKroOpensButDeliversNoRow) {
  for (FileType type : {FileType::RAW, FileType::KRO4}) {
    ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = "/nonexistent/folder/x.raw";
    engine.InInfo.ImageType = type;
    engine.InInfo.Width = 10;
    engine.InInfo.Height = 10;
    engine.InInfo.BytesPerPixel = 3;
    EXPECT_TRUE(engine.OpenInFile(engine.InInfo.FileName));
    EXPECT_TRUE(engine.InOpen);
    EXPECT_EQ(engine.ReadLine(0), 0);
    engine.CloseInFile();
    EXPECT_FALSE(engine.InOpen);
    EXPECT_TRUE(ui.Messages.empty());
  }
}

TEST(OpenInFile, MissingTiffFailsAndNvNeverOpens) {
  TTrelvi engine;
  engine.InInfo.FileName = "/nonexistent/x.tif";
  engine.InInfo.ImageType = FileType::TIF;
  engine.InInfo.Width = 10;
  engine.InInfo.BytesPerPixel = 3;
  EXPECT_FALSE(engine.OpenInFile(engine.InInfo.FileName));
  engine.CloseInFile();
  engine.InInfo.ImageType = FileType::NV;
  EXPECT_FALSE(engine.OpenInFile(engine.InInfo.FileName));
  EXPECT_FALSE(engine.InOpen);
  engine.CloseInFile();
}

TEST(ReadLine, RawRowsAreReadByTheirNumber) {
  TempDir dir;
  const auto pixels = test::MakePixels(4, 3, 3, 8);
  test::WriteBytes(dir.File("r.raw"), pixels);
  TTrelvi engine;
  engine.InInfo.FileName = dir.File("r.raw");
  engine.InInfo.ImageType = FileType::RAW;
  engine.InInfo.Width = 4;
  engine.InInfo.Height = 3;
  engine.InInfo.BytesPerPixel = 3;
  ASSERT_TRUE(engine.OpenInFile(engine.InInfo.FileName));
  for (std::uint32_t row : {2u, 0u, 1u, 1u}) {
    ASSERT_EQ(engine.ReadLine(row), 12) << row;
    EXPECT_TRUE(std::equal(pixels.begin() + 12 * row,
                           pixels.begin() + 12 * (row + 1),
                           engine.InInfo.ScanLine))
        << row;
  }
  EXPECT_EQ(engine.ReadLine(5), 0) << "past the end of the file";
  EXPECT_EQ(engine.InInfo.ScanLine[0], 0) << "a missing row reads as black";
  engine.CloseInFile();
}

TEST(ReadLine, ShortRawFileGivesAShortLastRow) {
  TempDir dir;
  test::WriteBytes(dir.File("r.raw"), std::vector<std::uint8_t>(12 + 5, 1));
  TTrelvi engine;
  engine.InInfo.FileName = dir.File("r.raw");
  engine.InInfo.ImageType = FileType::RAW;
  engine.InInfo.Width = 4;
  engine.InInfo.Height = 3;
  engine.InInfo.BytesPerPixel = 3;
  ASSERT_TRUE(engine.OpenInFile(engine.InInfo.FileName));
  EXPECT_EQ(engine.ReadLine(0), 12);
  EXPECT_EQ(engine.ReadLine(1), 5);
  EXPECT_EQ(engine.ReadLine(2), 0);
  engine.CloseInFile();
}

}  // namespace
}  // namespace trelvi
