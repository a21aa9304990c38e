#include "engine/naming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trelvi {
namespace {

struct NameCase {
  const char* FileName;
  const char* BaseName;
  const char* Ext;
  std::uint32_t Width, Height;
  std::uint32_t Col, Row;
};

// Windows paths as the program's users write them: '\' ends the directory
// part just as '/' does.
const NameCase kNames[] = {
    {R"(D:\pics\pano.tif)", "pano", "tif", 0, 0, 0, 0},
    {R"(D:\pics\pano_1000X500.raw)", "pano", "raw", 1000, 500, 0, 0},
    {R"(D:\pics\pano_1000x500.RAW)", "pano", "RAW", 1000, 500, 0, 0},
    {R"(D:\out\pano_10000X8000_x3y2.raw)", "pano", "raw", 10000, 8000, 3, 2},
    {R"(D:\out\pano_10000X8000_X3Y2.RAW)", "pano", "RAW", 10000, 8000, 3, 2},
    {R"(D:\out\pano_10000X8000_x1y1.big.tif)", "pano", "big.tif", 10000, 8000,
     1, 1},
    {R"(D:\pics\pano.BIG.TIF)", "pano", "big.TIF", 0, 0, 0, 0},
    {R"(D:\pics\my_photo_2.tif)", "my_photo_2", "tif", 0, 0, 0, 0},
    {R"(D:\pics\scan_x5.raw)", "scan_x5", "raw", 0, 0, 0, 0},
    {R"(D:\pics\pano_x3y.raw)", "pano_x3y", "raw", 0, 0, 3, 0},
    {R"(D:\pics\pano_1000X500_extra.raw)", "pano", "raw", 1000, 500, 0, 0},
    {R"(D:\pics\pano_x1y2_1000X500.raw)", "pano", "raw", 0, 0, 0, 0},
    {R"(D:\pics\pano_1000X500)", "pano", "", 1000, 0, 0, 0},
    {R"(D:\pics\pano_12X.raw)", "pano_12X", "raw", 0, 0, 0, 0},
    {R"(D:\pics\pano_1e3X500.raw)", "pano", "raw", 0, 500, 0, 0},
    {R"(D:\my_x1y2\pano.tif)", "pano", "tif", 0, 0, 0, 0},
    {R"(D:\pics\_1000X500.raw)", "", "raw", 0, 0, 0, 0},
    // The same with '/' and with no directory at all.
    {"/home/u/pano_10000X8000_x3y2.raw", "pano", "raw", 10000, 8000, 3, 2},
    {"/my_x1y2/pano.tif", "pano", "tif", 0, 0, 0, 0},
    {"/pics_1000X500/pano.raw", "pano", "raw", 0, 0, 0, 0},
    {"pano_1000X500.raw", "pano", "raw", 1000, 500, 0, 0},
};

class NameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTable, SplitsAndReadsTheName) {
  const NameCase& c = GetParam();
  std::string base = "stale", ext = "stale";
  SplitFileName(c.FileName, base, ext);
  EXPECT_EQ(base, c.BaseName);
  EXPECT_EQ(ext, c.Ext);
  EXPECT_EQ(GetBaseName(c.FileName), c.BaseName);

  std::uint32_t w = 7, h = 7;
  GetSizeFromName(c.FileName, w, h);
  EXPECT_EQ(w, c.Width);
  EXPECT_EQ(h, c.Height);

  std::uint32_t col = 7, row = 7;
  GetTilePosFromName(c.FileName, col, row);
  EXPECT_EQ(col, c.Col);
  EXPECT_EQ(row, c.Row);
}

INSTANTIATE_TEST_SUITE_P(Naming, NameTable, ::testing::ValuesIn(kNames));

TEST(Naming, ShortNamesKeepEverything) {
  EXPECT_EQ(GetBaseName("_1.raw"), "_1");
  EXPECT_EQ(GetBaseName("ab"), "ab");
  EXPECT_EQ(GetBaseName(""), "");
  std::string base, ext;
  SplitFileName(R"(C:\dir.with.dots\x)", base, ext);
  EXPECT_EQ(base, "x");
  EXPECT_EQ(ext, "");
}

TEST(Naming, SizeSuffixMustShowItsXWithinOneHundredCharacters) {
  // The window is the "_" and the 99 characters after it.
  auto withFill = [](int fill) {
    return "pano_1" + std::string(static_cast<std::size_t>(fill), 'a') +
           "X5.raw";
  };
  EXPECT_EQ(GetBaseName(withFill(96)), "pano");  // X at 98, its digit at 99
  // X at 99 but its digit outside; then the X itself outside.
  EXPECT_EQ(GetBaseName(withFill(97)), "pano_1" + std::string(97, 'a') + "X5");
  EXPECT_EQ(GetBaseName(withFill(98)), "pano_1" + std::string(98, 'a') + "X5");
}

TEST(Naming, NumbersThatDoNotFitReadAsZero) {
  std::uint32_t w = 1, h = 1;
  GetSizeFromName("pano_99999999999X500.raw", w, h);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 500u);
  GetSizeFromName("pano_4294967295X4294967295.raw", w, h);
  EXPECT_EQ(w, 4294967295u);
  EXPECT_EQ(h, 4294967295u);
}

TEST(Naming, SizeStopsAtTheFirstUnderscoreOrDot) {
  std::uint32_t w = 0, h = 0;
  GetSizeFromName("pano_300X200_x1y1.big.tif", w, h);
  EXPECT_EQ(w, 300u);
  EXPECT_EQ(h, 200u);
  // The right-most candidate "_200" holds no X, so nothing is cut and the
  // whole name is the base: no size is read.
  GetSizeFromName("pano_300X_200.raw", w, h);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(h, 0u);
  // The height ends at a "_" unless the "_" comes first.
  GetSizeFromName("pano_300X200_extra.raw", w, h);
  EXPECT_EQ(w, 300u);
  EXPECT_EQ(h, 200u);
}

const std::vector<std::string> kTiles = {
    R"(D:\t\pano_5000X5000_x1y1.tif)",  R"(D:\t\pano_5000X5000_x13y2.tif)",
    R"(D:\t\pano_5000X5000_x3y12.tif)", R"(D:\t\pano_5000X5000_x3y2.big.tif)",
    R"(D:\t\pano_5000X5000_x3y2.tif)",  R"(D:\t\pano_5000X5000_x1y11.tif)",
    R"(D:\t\pano_5000X5000_x11y1.tif)",
};

// What the builders write, the parsers read back, and the base name is what
// was before the suffixes.
TEST(Naming, BuiltSuffixesReadBack) {
  const struct {
    std::uint32_t w, h, col, row;
  } cases[] = {{1, 1, 1, 1},
               {150000, 150000, 586, 586},
               {256, 18, 3, 12},
               {4294967295u, 7, 4294967295u, 1}};
  for (const auto& c : cases) {
    const std::string sized = "/out/pano" + SizeSuffix(c.w, c.h) + ".raw";
    std::uint32_t w = 0, h = 0;
    GetSizeFromName(sized, w, h);
    EXPECT_EQ(w, c.w) << sized;
    EXPECT_EQ(h, c.h) << sized;
    EXPECT_EQ(GetBaseName(sized), "pano") << sized;

    // A tile as the split names it: size, then position.
    const std::string tile = "/out/pano" + SizeSuffix(c.w, c.h) +
                             TilePositionSuffix(c.col, c.row) + ".big.tif";
    std::uint32_t col = 0, row = 0;
    GetTilePosFromName(tile, col, row);
    EXPECT_EQ(col, c.col) << tile;
    EXPECT_EQ(row, c.row) << tile;
    GetSizeFromName(tile, w, h);
    EXPECT_EQ(w, c.w) << tile;
    EXPECT_EQ(h, c.h) << tile;
    EXPECT_EQ(GetBaseName(tile), "pano") << tile;
    EXPECT_EQ(FindTileFile({"/x/other.tif", tile}, "big.tif", c.col, c.row),
              tile);
  }
  EXPECT_EQ(SizeSuffix(700, 530), "_700X530");
  EXPECT_EQ(TilePositionSuffix(3, 12), "_x3y12");
}

TEST(FindTileFile, MatchesColumnAndRowExactly) {
  std::string base, ext;
  SplitFileName(kTiles.front(), base, ext);
  ASSERT_EQ(ext, "tif");
  EXPECT_EQ(FindTileFile(kTiles, ext, 3, 2), R"(D:\t\pano_5000X5000_x3y2.tif)");
  EXPECT_EQ(FindTileFile(kTiles, ext, 1, 1), R"(D:\t\pano_5000X5000_x1y1.tif)");
  EXPECT_EQ(FindTileFile(kTiles, ext, 11, 1),
            R"(D:\t\pano_5000X5000_x11y1.tif)");
  EXPECT_EQ(FindTileFile(kTiles, ext, 1, 11),
            R"(D:\t\pano_5000X5000_x1y11.tif)");
  EXPECT_EQ(FindTileFile(kTiles, ext, 13, 2),
            R"(D:\t\pano_5000X5000_x13y2.tif)");
  EXPECT_EQ(FindTileFile(kTiles, ext, 2, 2), "");
  EXPECT_EQ(FindTileFile(kTiles, ext, 3, 1), "");
}

TEST(FindTileFile, ColumnOneIsNotElevenAndRowTwoIsNotTwelve) {
  const std::vector<std::string> files = {R"(D:\t\pano_5000X5000_x11y2.tif)",
                                          R"(D:\t\pano_5000X5000_x1y12.tif)"};
  EXPECT_EQ(FindTileFile(files, "tif", 1, 2), "");
  const std::vector<std::string> withIt = {R"(D:\t\pano_5000X5000_x11y2.tif)",
                                           R"(D:\t\pano_5000X5000_x1y12.tif)",
                                           R"(D:\t\pano_5000X5000_x1y2.tif)"};
  EXPECT_EQ(FindTileFile(withIt, "tif", 1, 2), withIt[2]);
}

TEST(FindTileFile, BigTiffSetsLookForTheirOwnExtension) {
  std::string base, ext;
  SplitFileName(kTiles[3], base, ext);
  ASSERT_EQ(ext, "big.tif");
  EXPECT_EQ(FindTileFile(kTiles, ext, 3, 2), kTiles[3]);
  EXPECT_EQ(FindTileFile(kTiles, ext, 1, 1), "");
}

TEST(FindTileFile, EarlierInTheListWins) {
  const std::vector<std::string> files = {"/a/img_10X10_X2Y3.RAW",
                                          "/b/img_10X10_x2y3.raw"};
  EXPECT_EQ(FindTileFile(files, "raw", 2, 3), files[0]);
  EXPECT_EQ(FindTileFile({}, "raw", 2, 3), "");
}

TEST(FindTileFile, SearchesTheWholePath) {
  // The key may stand in the directory part too: the lookup reads the path.
  const std::vector<std::string> files = {"/t_x2y3.raw/odd"};
  EXPECT_EQ(FindTileFile(files, "raw", 2, 3), files[0]);
}

}  // namespace
}  // namespace trelvi
