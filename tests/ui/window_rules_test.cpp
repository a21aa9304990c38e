#include "ui/window_rules.h"

#include <gtest/gtest.h>

#include "support/fixtures.h"

namespace trelvi::rules {
namespace {

TEST(WindowRules, SupportedExtensions) {
  for (const char* ext : {".TIF", ".TIFF", ".KRO", ".RAW", ".RGB"})
    EXPECT_TRUE(IsSupportedExtension(ext)) << ext;
  for (const char* ext : {".tif", ".PNG", "", "TIF", ".BIG"})
    EXPECT_FALSE(IsSupportedExtension(ext)) << ext;
  EXPECT_EQ(UpperExtension("D:\\a.b\\pano.Tif"), ".TIF");
  EXPECT_EQ(UpperExtension("/a.b/pano"), "");
  EXPECT_EQ(UpperExtension("image.tiff.bak"), ".BAK");
}

TEST(WindowRules, ParseTilePosition) {
  const struct {
    const char* name;
    std::int32_t col, row;
  } cases[] = {
      {"a_x1y1.kro", 1, 1},
      {"pano_10000X8000_x3y12.raw", 3, 12},
      {"pano_X13Y2.TIF", 13, 2},
      {"a_X1Y1.tif", 1, 1},     // the shortest tag that fits
      {"pano_xay2.raw", 0, 2},  // not a number
      {"pano_x55.tiff", 0, 0},  // no "Y": the column runs into ".tif"
      {"pano_x5.raw", -1, -1},  // "_x" too close to the end
      {"nothing.raw", -1, -1},  // no tag: unchanged
      {"ab_x1y1.t", -1, -1},    // too close to the end to be a tag
  };
  for (const auto& c : cases) {
    std::int32_t col = -1, row = -1;
    ParseTilePosition(c.name, col, row);
    EXPECT_EQ(col, c.col) << c.name;
    EXPECT_EQ(row, c.row) << c.name;
  }
}

TEST(WindowRules, FormatPixelCount) {
  EXPECT_EQ(FormatPixelCount(999), "999.00 Pixels");
  EXPECT_EQ(FormatPixelCount(1000), "1.00 Kilopixels");
  EXPECT_EQ(FormatPixelCount(40000ll * 30000), "1.20 Gigapixels");
  EXPECT_EQ(FormatPixelCount(150000ll * 150000), "22.50 Gigapixels");
  EXPECT_EQ(FormatPixelCount(9'000'000'000'000'000'000ll), "9.00 Exapixels");
}

TEST(WindowRules, TileSelection) {
  std::vector<std::string> six;
  for (int row = 1; row <= 2; ++row)
    for (int col = 1; col <= 3; ++col)
      six.push_back("/t/a_x" + std::to_string(col) + "y" + std::to_string(row) +
                    ".kro");
  auto s = CheckTileSelection(six, false);
  EXPECT_TRUE(s.Accepted);
  EXPECT_EQ(s.Columns, 3);
  EXPECT_EQ(s.Rows, 2);
  EXPECT_EQ(s.Message, "6 files selected");

  auto five = six;
  five.pop_back();
  s = CheckTileSelection(five, false);
  EXPECT_FALSE(s.Accepted);
  EXPECT_EQ(s.Message, "The number of selected files must be : 6");

  auto mixed = six;
  mixed[3] = "/t/a_x1y2.raw";
  EXPECT_EQ(CheckTileSelection(mixed, false).Message,
            "You can't select two different type of files");
  EXPECT_EQ(CheckTileSelection({"/t/a.kro", "/t/b.kro"}, false).Message,
            "Can't merge the selected files");
  auto dropped = six;
  dropped[5] = "/t/a_x3y2.png";
  EXPECT_EQ(CheckTileSelection(dropped, true).Message,
            "Then file type is invalid");
  s = CheckTileSelection({"/t/a_x1y1.kro"}, true);
  EXPECT_FALSE(s.Accepted);
  EXPECT_EQ(s.Message, "") << "a single dropped tile is ignored quietly";
}

TEST(WindowRules, InputLimits) {
  const struct {
    std::uint32_t w, h;
    std::vector<std::string> messages;
  } cases[] = {
      {150000, 150000, {}},
      {150001,
       10,
       {"Image dimensions exceed the internal limits of this version"}},
      {10,
       150001,
       {"Image dimensions exceed the internal limits of this version"}},
      {0, 10, {"Image dimension can't be = 0"}},
      {0,
       150001,
       {"Image dimension can't be = 0",
        "Image dimensions exceed the internal limits of this version"}},
  };
  for (const auto& c : cases) {
    TFileInfo info;
    info.Width = c.w;
    info.Height = c.h;
    info.ImageIsOk = true;
    EXPECT_EQ(CheckInputLimits(info), c.messages) << c.w << "x" << c.h;
    EXPECT_EQ(info.ImageIsOk, c.messages.empty());
  }
}

TEST(WindowRules, CropChecksInOrder) {
  const struct {
    std::int64_t x, y, w, h;
    const char* message;
  } cases[] = {
      {1000, 0, 1, 1, "X must >= 0 and < 1000"},
      {0, 800, 1, 1, "Y must >= 0 and < 800"},
      {900, 0, 200, 1, "Width must > 0 and <= 100"},
      {0, 700, 1, 101, "Height must > 0 and <= 100"},
      {1000, 800, 5000, 5000, "X must >= 0 and < 1000"},
      {0, 0, 1000, 800, ""},
      {999, 799, 1, 1, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckCrop(c.x, c.y, c.w, c.h, 1000, 800), c.message);
}

TEST(WindowRules, MergeCount) {
  EXPECT_TRUE(CheckMergeCount(6, 3, 2).Run);
  EXPECT_EQ(CheckMergeCount(5, 3, 2).Message,
            "One or more files are missing.\r\nPlease select 6 files");
  EXPECT_EQ(CheckMergeCount(7, 3, 2).Message,
            "Too many files selected.\r\nPlease select 6 files");
  const auto none = CheckMergeCount(0, 3, 2);
  EXPECT_FALSE(none.Run);
  EXPECT_EQ(none.Message, "");
}

TEST(WindowRules, OutputTypeAndFolder) {
  TTrelvi engine;
  const struct {
    OutputChoice choice;
    FileType type;
    bool lzw;
  } cases[] = {{OutputChoice::Tif, FileType::TIF, false},
               {OutputChoice::TifLzw, FileType::TIF, true},
               {OutputChoice::Raw, FileType::RAW, false},
               {OutputChoice::Kro, FileType::KRO4, false}};
  for (const auto& c : cases) {
    engine.UseLzw = true;
    SetOutputType(engine, c.choice);
    EXPECT_EQ(engine.OutInfo.ImageType, c.type);
    EXPECT_EQ(engine.UseLzw, c.lzw);
  }

  test::TempDir dir;
  EXPECT_EQ(GetOutputFolder(dir.Path().string(), "/in/a.tif"), dir.Dir());
  EXPECT_EQ(GetOutputFolder(dir.Dir(), "/in/a.tif"), dir.Dir());
  EXPECT_EQ(GetOutputFolder(dir.File("gone"), "/in/a.tif"), "/in/");
  EXPECT_EQ(GetOutputFolder("", "D:\\pics\\a.tif"), "D:\\pics\\");
}

TEST(WindowRules, DerivedTileCountsAndResizedHeight) {
  EXPECT_EQ(TileCount(10000, 1000), 10u);
  EXPECT_EQ(TileCount(7000, 1000), 7u);
  EXPECT_EQ(TileCount(10000, 3000), 4u);
  EXPECT_EQ(TileCount(7000, 3000), 3u);
  EXPECT_EQ(ClampTileSide(50000, 40000), 30000u);
  EXPECT_EQ(ClampTileSide(20000, 15000), 15000u);
  EXPECT_EQ(ClampTileSide(1000, 100), 256u);
  EXPECT_EQ(ResizedHeight(40000, 30000, 1000), 750);
  EXPECT_EQ(ResizedHeight(10001, 7777, 3000), 2333);
  EXPECT_EQ(ResizedHeight(4000, 2002, 1000), 500);
  EXPECT_EQ(ResizedHeight(4000, 2006, 1000), 502);
}

TEST(WindowRules, AStartSucceedsOnlyWhenItLeftItsOutput) {
  test::TempDir dir;
  const std::string a = dir.File("a.tif"), b = dir.File("b.tif");
  test::WriteBytes(a, {1, 2, 3});
  test::WriteBytes(b, {4});
  const std::string gone = dir.File("gone.tif");
  const struct {
    bool aborted;
    std::vector<std::string> outputs;
    const char* status;
  } cases[] = {
      {false, {a}, "Operation completed successfully"},
      {false, {a, b}, "Operation completed successfully"},  // split's tiles
      {true, {a}, "Operation aborted"},
      {false, {}, "Operation aborted"},         // nothing was created
      {false, {gone}, "Operation aborted"},     // named, then removed
      {false, {a, gone}, "Operation aborted"},  // a tile is missing
  };
  for (const auto& c : cases)
    EXPECT_EQ(StartOutcome(c.aborted, c.outputs), c.status)
        << c.aborted << " " << c.outputs.size();
}

}  // namespace
}  // namespace trelvi::rules
