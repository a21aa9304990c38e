#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "operations/ops_fixtures.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::InputKind;
using test::ScriptedUi;
using test::TempDir;

TEST(SplitImage, WorkedGridNamesSizesAndPixels) {
  // 25 × 12 with 10 × 10 tiles: 3 columns (10, 10, 5) and 2 rows (10, 2).
  for (const auto& [type, ext] :
       {std::pair{FileType::RAW, ".raw"}, std::pair{FileType::TIF, ".tif"},
        std::pair{FileType::KRO4, ".kro"}}) {
    SCOPED_TRACE(ext);
    TempDir in, out;
    const auto img = test::MakeInput(in, InputKind::Tif, 25, 12, 16, "pano");
    TTrelvi engine;
    HookRecorder hooks(engine);
    test::Describe(engine, img.FileName);
    engine.OutInfo.ImageType = type;
    std::vector<std::string> list;
    engine.SplitImage(10, 10, list, out.Dir(), "");
    ASSERT_FALSE(engine.Aborted);
    EXPECT_TRUE(hooks.Errors.empty());
    const std::vector<std::string> names = {
        "pano_10X10_x1y1", "pano_10X10_x2y1", "pano_5X10_x3y1",
        "pano_10X2_x1y2",  "pano_10X2_x2y2",  "pano_5X2_x3y2"};
    ASSERT_EQ(list.size(), names.size());
    const std::uint32_t xs[] = {0, 10, 20}, ws[] = {10, 10, 5};
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(list[i], out.Dir() + names[i] + ext);
      const std::size_t c = i % 3, r = i / 3;
      EXPECT_EQ(test::OutputPixels(list[i], 16),
                test::Rect(img.Rgb, 25, 16, xs[c], r * 10, ws[c], r ? 2 : 10))
          << names[i];
    }
    EXPECT_EQ(hooks.ProgressMax, 12);
    EXPECT_EQ(hooks.Progress.back(), 12);
    EXPECT_FALSE(engine.ForceBigTiff);
    EXPECT_FALSE(engine.InOpen);
  }
}

TEST(SplitImage, TileLargerThanTheImageGivesOneTileOfTheImageSize) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 30, 20, 8);
  TTrelvi engine;
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::RAW;
  std::vector<std::string> list;
  engine.SplitImage(1000, 1000, list, dir.Dir() + "t_", "");
  ASSERT_EQ(list, std::vector<std::string>{dir.Dir() + "t_pic_30X20_x1y1.raw"});
  EXPECT_EQ(test::ReadBytes(list[0]), img.Rgb);
}

TEST(SplitImage, StatusCountsTheLinesLeftInTheTileRow) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 8, 30, 8);
  TTrelvi engine;
  HookRecorder hooks(engine);
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::RAW;
  std::vector<std::string> list;
  engine.SplitImage(8, 10, list, dir.Dir() + "t_", "Step 1/4");
  // Lines read 7, 14, 21, 28: row 1 has 4 left after 7, row 2 has 7 left
  // after 14, row 3 has 10 left after 21 and 3 after 28.
  EXPECT_EQ(hooks.Statuses,
            (std::vector<std::string>{
                "Processing row 1/3 (4)", "Processing row 2/3 (7)",
                "Processing row 3/3 (10)", "Processing row 3/3 (3)"}));
  EXPECT_EQ(hooks.Progress,
            (std::vector<std::int32_t>{7, 10, 14, 20, 21, 28, 30}));
}

TEST(SplitImage, AbortLeavesTheTilesWrittenSoFarAndClosesEverything) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 8, 30, 8);
  TTrelvi engine;
  HookRecorder hooks(engine);
  hooks.AbortAtProgress = 3;  // at line 14, inside tile row 2
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::RAW;
  std::vector<std::string> list;
  engine.SplitImage(4, 10, list, dir.Dir() + "t_", "");
  EXPECT_TRUE(engine.Aborted);
  // Row 2 stopped at line 14: its tiles are not whole and go.
  ASSERT_EQ(list.size(), 2u);
  for (const auto& f : list) EXPECT_TRUE(fs::exists(f)) << f;
  EXPECT_EQ(FileSizeByName(list[0]), 4 * 10 * 3);
  EXPECT_EQ(FileSizeByName(list[1]), 4 * 10 * 3);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.Path()))
    if (e.path().filename().string().rfind("t_", 0) == 0)
      left.push_back(e.path().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, list);
  EXPECT_FALSE(engine.InOpen);
}

TEST(SplitImage, AFailedTileIsReportedByName) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 8, 8, 8);
  TTrelvi engine;
  HookRecorder hooks(engine);
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::RAW;
  std::vector<std::string> list;
  engine.SplitImage(4, 4, list, dir.Dir() + "missing/", "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_TRUE(list.empty());
  ASSERT_EQ(hooks.Errors.size(), 1u);
  EXPECT_EQ(hooks.Errors[0].rfind(
                "Cant't create file " + dir.Dir() + "missing/pic_4X4_x1y1", 0),
            0u)
      << hooks.Errors[0];
}

TEST(SplitImage, ABigFirstTileMakesTheWholeSetBigTiff) {
  // Tile (1, 1) of 36515 × 36515 needs a BigTIFF; the thin last column
  // follows it. A sparse input keeps the test small; it stops early.
  TempDir dir;
  const std::string input = dir.File("huge_36516X36516.raw");
  { std::ofstream f(input, std::ios::binary); }
  fs::resize_file(input, 36516ull * 36516 * 3);
  SetFreeSpaceQuery([](const std::string&) { return ~0ull; });
  TTrelvi engine;
  test::Describe(engine, input);
  ASSERT_TRUE(engine.InInfo.ImageIsOk);
  engine.OutInfo.ImageType = FileType::TIF;
  std::vector<std::string> list, created;
  // The names as the tiles are being written; stopped, they go again.
  engine.OnUpdateProgress = [&](std::int32_t) {
    if (created.empty()) created = list;
    engine.Aborted = true;
  };
  engine.SplitImage(36515, 36515, list, dir.Dir(), "");
  SetFreeSpaceQuery(nullptr);
  ASSERT_EQ(created.size(), 2u);
  EXPECT_EQ(created[0], dir.Dir() + "huge_36515X36515_x1y1.big.tif");
  EXPECT_EQ(created[1], dir.Dir() + "huge_1X36515_x2y1.big.tif");
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(engine.ForceBigTiff);
}

// ---------------------------------------------------------------------------

std::vector<std::string> SplitInto(const test::SampleImage& img,
                                   const std::string& outDir, FileType type,
                                   std::uint32_t tw, std::uint32_t th) {
  TTrelvi engine;
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = type;
  std::vector<std::string> list;
  engine.SplitImage(tw, th, list, outDir, "");
  EXPECT_FALSE(engine.Aborted);
  return list;
}

TEST(MergeTiles, SplitThenMergeGivesTheImageBackInEveryFormat) {
  const struct {
    FileType tiles, output;
    const char* name;
  } cases[] = {
      {FileType::RAW, FileType::TIF, "pic.tif"},
      {FileType::TIF, FileType::RAW, "pic_29X23.raw"},
      {FileType::KRO4, FileType::KRO4, "pic.kro"},
      {FileType::TIF, FileType::TIF, "pic.tif"},
  };
  for (int bits : {8, 16})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " bits " + std::to_string(bits));
      TempDir in, tiles, out;
      const auto img = test::MakeInput(in, InputKind::Kro, 29, 23, bits);
      auto list = SplitInto(img, tiles.Dir(), c.tiles, 10, 7);
      ASSERT_EQ(list.size(), 12u);
      std::shuffle(list.begin(), list.end(), std::mt19937(42));
      TTrelvi engine;
      HookRecorder hooks(engine);
      engine.OutInfo.ImageType = c.output;
      engine.MergeTiles(3, 4, list, out.Dir(), "");
      ASSERT_FALSE(engine.Aborted) << testing::PrintToString(hooks.Errors);
      EXPECT_EQ(engine.OutInfo.FileName, out.Dir() + c.name);
      EXPECT_EQ(test::OutputPixels(out.Dir() + c.name, bits), img.Rgb);
      EXPECT_EQ(hooks.ProgressMax, 23);
      EXPECT_EQ(hooks.Hides, 1);
    }
}

TEST(MergeTiles, OneByOneGridCopiesTheTile) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 9, 5, 8, "solo");
  const std::string tile = dir.File("solo_9X5_x1y1.raw");
  fs::rename(img.FileName, tile);
  TTrelvi engine;
  engine.OutInfo.ImageType = FileType::TIF;
  engine.MergeTiles(1, 1, {tile}, dir.Dir(), "");
  ASSERT_FALSE(engine.Aborted);
  EXPECT_EQ(test::ReadTiff(dir.File("solo.tif")).Pixels, img.Rgb);
}

TEST(MergeTiles, AWiderLastColumnMerges) {
  TempDir dir;
  // Columns 4 and 6 wide: only the non-last columns must match tile (1, 1).
  const auto left = test::MakePixels(4, 3, 3, 8);
  const auto right = test::MakePixels(6, 3, 3, 8);
  test::WriteBytes(dir.File("w_4X3_x1y1.raw"), left);
  test::WriteBytes(dir.File("w_6X3_x2y1.raw"), right);
  TTrelvi engine;
  engine.OutInfo.ImageType = FileType::RAW;
  engine.MergeTiles(2, 1,
                    {dir.File("w_4X3_x1y1.raw"), dir.File("w_6X3_x2y1.raw")},
                    dir.Dir() + "m_", "");
  ASSERT_FALSE(engine.Aborted);
  std::vector<std::uint8_t> expected;
  for (int r = 0; r < 3; ++r) {
    expected.insert(expected.end(), left.begin() + r * 12,
                    left.begin() + r * 12 + 12);
    expected.insert(expected.end(), right.begin() + r * 18,
                    right.begin() + r * 18 + 18);
  }
  EXPECT_EQ(test::ReadBytes(dir.Dir() + "m_w_10X3.raw"), expected);
}

TEST(MergeTiles, ABadTileInRowTwoEndsTheMergeWithoutOutput) {
  TempDir in, tiles;
  const auto img = test::MakeInput(in, InputKind::Raw, 20, 20, 8);
  auto list = SplitInto(img, tiles.Dir(), FileType::RAW, 10, 10);
  // Tile (1, 2) replaced by one of the wrong height.
  fs::remove(tiles.Dir() + "pic_10X10_x1y2.raw");
  test::WriteBytes(tiles.Dir() + "pic_10X9_x1y2.raw",
                   std::vector<std::uint8_t>(10 * 9 * 3, 1));
  list[2] = tiles.Dir() + "pic_10X9_x1y2.raw";
  TTrelvi engine;
  HookRecorder hooks(engine);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.MergeTiles(2, 2, list, tiles.Dir() + "m_", "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Errors,
            std::vector<std::string>{"Tile X=1 Y=2 is not valid"});
  EXPECT_FALSE(hooks.Progress.empty()) << "row 1 was written first";
  EXPECT_FALSE(fs::exists(tiles.Dir() + "m_pic.tif"));
  EXPECT_EQ(hooks.Hides, 1);
}

TEST(MergeTiles, CornerTilesAreProbedBeforeAnythingIsCreated) {
  TempDir in, tiles;
  const auto img = test::MakeInput(in, InputKind::Raw, 20, 20, 8);
  const auto list = SplitInto(img, tiles.Dir(), FileType::RAW, 10, 10);
  const struct {
    std::vector<std::string> files;
    const char* error;
  } cases[] = {
      {{list[1], list[2], list[3]}, "Tile X=1 Y=1 is not valid"},
      {{list[0], list[1], list[2]}, "Tile X=2 Y=2 is not valid"},
  };
  for (const auto& c : cases) {
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    engine.OutInfo.ImageType = FileType::RAW;
    engine.MergeTiles(2, 2, c.files, tiles.Dir() + "m_", "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(hooks.Errors, std::vector<std::string>{c.error});
    EXPECT_TRUE(hooks.Progress.empty());
    EXPECT_FALSE(fs::exists(tiles.Dir() + "m_pic_20X20.raw"));
  }
}

TEST(MergeTiles, MixedTifAndBigTifFindOnlyTheFirstFilesExtension) {
  TempDir in, tiles;
  const auto img = test::MakeInput(in, InputKind::Raw, 20, 10, 8);
  auto list = SplitInto(img, tiles.Dir(), FileType::TIF, 10, 10);
  fs::rename(list[1], tiles.Dir() + "pic_10X10_x2y1.big.tif");
  list[1] = tiles.Dir() + "pic_10X10_x2y1.big.tif";
  TTrelvi engine;
  HookRecorder hooks(engine);
  engine.OutInfo.ImageType = FileType::RAW;
  engine.MergeTiles(2, 1, list, tiles.Dir() + "m_", "");
  EXPECT_EQ(hooks.Errors,
            std::vector<std::string>{"Tile X=2 Y=1 is not valid"});
}

TEST(MergeTiles, TilesWhoseTotalOverflowsAreRefused) {
  // KRO headers may claim anything: three columns of 2^31 pixels would wrap
  // a 32-bit total into a small width.
  TempDir dir;
  std::vector<std::string> files;
  for (int col = 1; col <= 3; ++col) {
    const std::string name = dir.File("big_x" + std::to_string(col) + "y1.kro");
    test::WriteBytes(name, test::MakeKro(0x80000000u, 1, 8, {}));
    files.push_back(name);
  }
  ScriptedUi ui;
  TTrelvi engine(ui);
  HookRecorder hooks(engine);
  engine.OutInfo.ImageType = FileType::RAW;
  engine.MergeTiles(3, 1, files, dir.Dir() + "m_", "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{"Found error in tile dimensions"});
  EXPECT_TRUE(fs::is_empty(dir.Path()) == false);
  EXPECT_FALSE(fs::exists(dir.Dir() + "m_big_6442450944X1.raw"));
}

TEST(MergeTiles, ATileOfAnotherDepthIsRefused) {
  TempDir dir;
  test::WriteBytes(dir.File("d_4X2_x1y1.raw"), test::MakePixels(4, 2, 3, 16));
  test::WriteBytes(dir.File("d_4X2_x2y1.raw"), test::MakePixels(4, 2, 3, 8));
  TTrelvi engine;
  HookRecorder hooks(engine);
  engine.OutInfo.ImageType = FileType::RAW;
  // The output takes the depth of tile (2, 1), 8 bits; tile (1, 1) is 16.
  engine.MergeTiles(2, 1,
                    {dir.File("d_4X2_x1y1.raw"), dir.File("d_4X2_x2y1.raw")},
                    dir.Dir() + "m_", "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Errors,
            std::vector<std::string>{"Tile X=1 Y=1 is not valid"});
  EXPECT_FALSE(fs::exists(dir.Dir() + "m_d_8X2.raw"));
}

// A selected file is an input even when no position of the grid uses it:
// the output never replaces it, whatever the answer to an overwrite.
TEST(MergeTiles, ASelectedFileIsNeverOverwritten) {
  TempDir in, tiles;
  const auto img = test::MakeInput(in, InputKind::Raw, 20, 20, 8);
  auto list = SplitInto(img, tiles.Dir(), FileType::RAW, 10, 10);
  ASSERT_EQ(list.size(), 4u);
  const std::string extra = tiles.Dir() + "pic.tif";
  test::WriteBytes(extra, {1, 2, 3});
  list.push_back(extra);
  ScriptedUi ui;
  ui.AnswerYesNo(MsgResult::Yes);
  TTrelvi engine(ui);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.MergeTiles(2, 2, list, tiles.Dir(), "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{"Cannot overwrite input file"});
  EXPECT_EQ(test::ReadBytes(extra), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(fs::exists(extra + ".partial"));
  EXPECT_TRUE(engine.KeepFiles.empty());
}

TEST(MergeTiles, AbortLeavesNoOutputAndTheTilesUntouched) {
  TempDir in, tiles;
  const auto img = test::MakeInput(in, InputKind::Raw, 20, 40, 8);
  const auto list = SplitInto(img, tiles.Dir(), FileType::RAW, 10, 10);
  TTrelvi engine;
  HookRecorder hooks(engine);
  hooks.AbortAtProgress = 2;
  engine.OutInfo.ImageType = FileType::RAW;
  engine.MergeTiles(2, 4, list, tiles.Dir() + "m_", "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_TRUE(hooks.Errors.empty());
  EXPECT_FALSE(fs::exists(tiles.Dir() + "m_pic_20X40.raw"));
  for (const auto& f : list) EXPECT_EQ(FileSizeByName(f), 10 * 10 * 3);
}

}  // namespace
}  // namespace trelvi
