#include "resize/resize_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>

#include "support/fixtures.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"
#include "ui/window_rules.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using rules::OutputChoice;
using test::MakePixels;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// ---------------------------------------------------------------------------
// Decisions

TEST(ResizeDecisions, TileSidesSpreadAThinRemainder) {
  const struct {
    std::uint32_t side, tile, count;
  } cases[] = {{25000, 10000, 3},   {20500, 10251, 2}, {10500, 10500, 1},
               {8000, 8000, 1},     {10999, 10999, 1}, {30999, 10334, 3},
               {100000, 10000, 10}, {10000, 10000, 1}, {11000, 10000, 2}};
  for (const auto& c : cases) {
    const TTileGrid g = PassTileGrid(c.side, c.side);
    EXPECT_EQ(g.TileW, c.tile) << c.side;
    EXPECT_EQ(g.Cols, c.count) << c.side;
    EXPECT_EQ(g.Rows, c.count) << c.side;
  }
}

TEST(ResizeDecisions, NearTargetWithinTwoPercentOrBelow) {
  EXPECT_TRUE(NearTarget(12000, 6000, 11900, 0));
  EXPECT_TRUE(NearTarget(12000, 6000, 11760, 0));
  EXPECT_FALSE(NearTarget(12000, 6000, 11759, 0));
  EXPECT_FALSE(NearTarget(12500, 6250, 12000, 6000));
  EXPECT_TRUE(NearTarget(12500, 6250, 1000, 6200));  // the height decides
  EXPECT_TRUE(NearTarget(20000, 10000, 30000, 0));   // never enlarged
}

TEST(ResizeDecisions, DividerLadderAgainstTheTarget) {
  const struct {
    std::uint32_t w;
    std::int32_t newW;
    std::int64_t target;
    long double divider;
  } cases[] = {
      {100000, 12000, 12000, 8},  // fast: 12500 >= 12000
      {100000, 12000, 24000, 4},  // slow: 25000 >= 24000
      {30000, 3000, 3000, 10},
      {30000, 3000, 6000, 4},
      {12500, 12000, 12000, 12500.0L / 12000.0L},  // not even by 2
      {25000, 12000, 24000, 25000.0L / 12000.0L},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PassDivider(c.w, c.newW, c.target), c.divider) << c.w;
}

TEST(ResizeDecisions, LastPassNeedsMoreThan100PixelsOnBothAxes) {
  long double d = 0;
  EXPECT_TRUE(LastPassResizes(10500, 10500, 8000, 5000, d));
  EXPECT_EQ(d, 10500.0L / 5000.0L);
  EXPECT_FALSE(LastPassResizes(10000, 10000, 5000, 9900, d));   // 100 only
  EXPECT_FALSE(LastPassResizes(10000, 12000, 6000, 11900, d));  // tile < W'
  EXPECT_FALSE(LastPassResizes(8000, 8000, 6000, 9000, d));     // enlarging
  EXPECT_FALSE(LastPassResizes(10500, 10500, 150, 5000, d));    // thin
}

struct PlanCase {
  const char* name;
  std::uint32_t w, h;
  std::int32_t newW, newH;
  bool fast;
  std::vector<std::array<std::uint32_t, 2>> passes;  // merged size per pass
  std::vector<long double> dividers;
  bool lastResize;
  std::uint32_t outW, outH;
};

TEST(ResizeDecisions, WorkedExamples) {
  const PlanCase cases[] = {
      {"fast 100000",
       100000,
       50000,
       12000,
       6000,
       true,
       {{12500, 6250}, {12000, 6000}},
       {8, 12500.0L / 12000.0L},
       false,
       12000,
       6000},
      {"slow 100000",
       100000,
       50000,
       12000,
       6000,
       false,
       {{25000, 12500}, {12000, 6000}},
       {4, 25000.0L / 12000.0L},
       false,
       12000,
       6000},
      {"within 2 %",
       12000,
       6000,
       11900,
       5950,
       false,
       {},
       {},
       false,
       12000,
       6000},
      {"one tile", 10500, 8000, 5000, 3810, false, {}, {}, true, 5000, 3810},
      {"100 pixels", 10000, 5000, 9900, 4950, true, {}, {}, false, 10000, 5000},
      {"larger",
       20000,
       10000,
       30000,
       15000,
       false,
       {},
       {},
       false,
       20000,
       10000},
      {"bench",
       30000,
       20000,
       3000,
       2000,
       false,
       {{7500, 5000}},
       {4},
       true,
       3000,
       2000},
      {"bench fast",
       30000,
       20000,
       3000,
       2000,
       true,
       {{3000, 2000}},
       {10},
       false,
       3000,
       2000},
  };
  for (const PlanCase& c : cases) {
    const TResizePlan plan = PlanResize(c.w, c.h, c.newW, c.newH, c.fast);
    EXPECT_TRUE(plan.Valid) << c.name;
    ASSERT_EQ(plan.Passes.size(), c.passes.size()) << c.name;
    for (std::size_t i = 0; i < c.passes.size(); ++i) {
      EXPECT_EQ(plan.Passes[i].OutW, c.passes[i][0]) << c.name << i;
      EXPECT_EQ(plan.Passes[i].OutH, c.passes[i][1]) << c.name << i;
      EXPECT_EQ(plan.Passes[i].Divider, c.dividers[i]) << c.name << i;
    }
    EXPECT_EQ(plan.LastResize, c.lastResize) << c.name;
    EXPECT_EQ(plan.OutW, c.outW) << c.name;
    EXPECT_EQ(plan.OutH, c.outH) << c.name;
  }
  // The first pass of the fast example: 10 × 5 tiles of 10000 × 10000.
  const TResizePlan fast = PlanResize(100000, 50000, 12000, 6000, true);
  EXPECT_EQ(fast.Passes[0].Grid.Cols, 10u);
  EXPECT_EQ(fast.Passes[0].Grid.Rows, 5u);
  EXPECT_EQ(fast.Passes[1].Grid.TileW, 10000u);
  EXPECT_EQ(fast.Passes[1].Grid.TileH, 6250u);
}

// ---------------------------------------------------------------------------
// Runs on small images (one side of 10000 or more is the rule)

class ResizeRun : public ::testing::Test {
 protected:
  TempDir in, out;
  test::ScriptedUi ui;
  TTrelvi engine{ui};
  test::HookRecorder hooks{engine};
  TResizePipeline pipeline{engine};
  int enabled = 0, disabled = 0;

  void SetUp() override {
    engine.InitEngine();
    pipeline.OnDisableButtons = [this] { ++disabled; };
    pipeline.OnEnableButtons = [this] { ++enabled; };
    pipeline.PollInterval = std::chrono::milliseconds(1);
  }

  bool Load(const std::string& file) {
    engine.InInfo = TFileInfo{};
    engine.InInfo.FileName = file;
    engine.ReadInputInfo(false);
    return engine.InInfo.ImageIsOk;
  }

  TResizeParams Params(std::int32_t newW, bool fast,
                       OutputChoice output = OutputChoice::Raw) {
    TResizeParams p;
    p.NewW = newW;
    if (engine.InInfo.Width > 0)
      p.NewH = static_cast<std::int32_t>(
          rules::ResizedHeight(engine.InInfo.Width, engine.InInfo.Height,
                               static_cast<std::uint32_t>(newW)));
    p.FastMethod = fast;
    p.OutputFolder = out.Dir();
    p.Output = output;
    return p;
  }

  std::vector<std::string> Files(const TempDir& dir) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.Path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // What a finished run leaves: the engine on the input again, the buttons
  // back, no temporary folder, the input folder as it was.
  void ExpectCleanEnd(const std::string& input,
                      const std::vector<std::string>& inputFolder) {
    EXPECT_EQ(engine.InInfo.FileName, input);
    EXPECT_TRUE(engine.InInfo.ImageIsOk);
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(enabled, 1);
    EXPECT_FALSE(fs::exists(out.File(TResizePipeline::kTempDirName)));
    EXPECT_EQ(Files(in), inputFolder);
  }
};

TEST_F(ResizeRun, FastTiledPassSubsamplesTheWholeImage) {
  // 3 tiles across (10000, 10000, 5000), divider 10, then within 100 pixels
  // of the target: the merged image is the output.
  const std::string input = in.File("pano.tif");
  test::TiffSpec spec;
  spec.Width = 25000;
  spec.Height = 40;
  test::WriteTiff(input, spec);
  ASSERT_TRUE(Load(input));
  const auto before = ReadBytes(input);

  pipeline.DoResize(Params(2400, true, OutputChoice::Tif));
  EXPECT_FALSE(engine.Aborted) << ui.LastText();
  EXPECT_TRUE(hooks.Errors.empty());
  ExpectCleanEnd(input, {"pano.tif"});
  EXPECT_EQ(ReadBytes(input), before);
  EXPECT_EQ(Files(out), std::vector<std::string>{"pano.tif"});
  EXPECT_EQ(hooks.Descriptions,
            (std::vector<std::string>{"Step 1/4", "Step 2/4", "Step 3/4",
                                      "Step 4/4"}));

  const TResizePlan plan = PlanResize(25000, 40, 2400, 4, true);
  const test::TiffImage result = test::ReadTiff(out.File("pano.tif"));
  ASSERT_EQ(result.Width, plan.OutW);
  ASSERT_EQ(result.Height, plan.OutH);
  ASSERT_EQ(result.Width, 2500u);
  const auto source = MakePixels(25000, 40, 3, 8);
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 2500; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(result.Pixels[(y * 2500 + x) * 3 + c],
                  source[((10 * y) * 25000 + 10 * x) * 3 + c])
            << x << "," << y;
}

TEST_F(ResizeRun, OneTileIsResizedOnceAndTheInputStays) {
  // pano_10500X300.raw: one tile; divider 2.1 → 5000 × 143.
  const std::string input = in.File("pano_10500X300.raw");
  WriteBytes(input, MakePixels(10500, 300, 3, 8));
  ASSERT_TRUE(Load(input));
  const auto params = Params(5000, false);
  pipeline.DoResize(params);
  EXPECT_FALSE(engine.Aborted) << ui.LastText();
  ExpectCleanEnd(input, {"pano_10500X300.raw"});
  EXPECT_EQ(Files(out), std::vector<std::string>{"pano_5000X143.raw"});
  EXPECT_EQ(ReadBytes(out.File("pano_5000X143.raw")).size(), 5000u * 143u * 3u);
  EXPECT_EQ(hooks.Descriptions, std::vector<std::string>{"Step 4/4"});
}

TEST_F(ResizeRun, InputsAWorkerCannotReadAreWrittenAsRawFirst) {
  // The same picture as a TIFF and as a size-named RAW: both give the same
  // pixels; the TIFF goes through a RAW copy in the temporary folder.
  const auto pixels = MakePixels(10500, 300, 3, 8);
  const std::string raw = in.File("pano_10500X300.raw");
  WriteBytes(raw, pixels);
  ASSERT_TRUE(Load(raw));
  TempDir rawOut;
  auto params = Params(5000, false, OutputChoice::Tif);
  params.OutputFolder = rawOut.Dir();
  pipeline.DoResize(params);
  ASSERT_FALSE(engine.Aborted) << ui.LastText();
  const test::TiffImage fromRaw = test::ReadTiff(rawOut.File("pano.tif"));

  const std::string tif = in.File("pano.tif");
  test::TiffSpec spec;
  spec.Width = 10500;
  spec.Height = 300;
  test::WriteTiff(tif, spec, pixels);
  ASSERT_TRUE(Load(tif));
  hooks.Descriptions.clear();
  pipeline.DoResize(Params(5000, false, OutputChoice::Tif));
  ASSERT_FALSE(engine.Aborted) << ui.LastText();
  EXPECT_EQ(hooks.Descriptions,
            (std::vector<std::string>{"Step 1/4", "Step 4/4"}));
  EXPECT_EQ(Files(out), std::vector<std::string>{"pano.tif"});
  const test::TiffImage fromTif = test::ReadTiff(out.File("pano.tif"));
  EXPECT_EQ(fromTif.Width, 5000u);
  EXPECT_EQ(fromTif.Height, 143u);
  EXPECT_EQ(fromTif.Pixels, fromRaw.Pixels);
  EXPECT_FALSE(fs::exists(out.File(TResizePipeline::kTempDirName)));
  EXPECT_EQ(engine.InInfo.FileName, tif);
}

TEST_F(ResizeRun, SixteenBitImagesResizeAtSixteenBits) {
  // The same picture at 8 bits and at 16 (v × 257), through a tiled pass
  // and through a single worker.
  const struct {
    std::uint32_t w, h;
    std::int32_t newW;
  } cases[] = {{25000, 40, 1200}, {10500, 300, 5000}};
  for (const auto& c : cases) {
    const auto px8 = MakePixels(c.w, c.h, 3, 8);
    std::vector<std::uint8_t> px16(px8.size() * 2);
    for (std::size_t i = 0; i < px8.size(); ++i) {
      const unsigned v = px8[i] * 257u;
      px16[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
      px16[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    std::vector<std::uint8_t> results[2];
    for (int bits : {8, 16}) {
      TempDir src, dst;
      const std::string name =
          "p_" + std::to_string(c.w) + "X" + std::to_string(c.h) + ".raw";
      WriteBytes(src.File(name), bits == 8 ? px8 : px16);
      ASSERT_TRUE(Load(src.File(name)));
      ASSERT_EQ(engine.InInfo.Bits, bits);
      auto params = Params(c.newW, false);
      params.OutputFolder = dst.Dir();
      pipeline.DoResize(params);
      ASSERT_FALSE(engine.Aborted) << ui.LastText();
      const auto files = Files(dst);
      ASSERT_EQ(files.size(), 1u);
      results[bits == 16] = ReadBytes(dst.File(files[0]));
    }
    ASSERT_EQ(results[1].size(), results[0].size() * 2);
    int worst = 0;
    for (std::size_t i = 0; i < results[0].size(); ++i) {
      const int v16 = results[1][2 * i] | (results[1][2 * i + 1] << 8);
      const int diff =
          static_cast<int>(std::lround(v16 / 257.0)) - results[0][i];
      worst = std::max(worst, std::abs(diff));
    }
    EXPECT_LE(worst, 1) << c.w;
  }
}

TEST_F(ResizeRun, ThreePassesWhoseTileNamesRecur) {
  // Pass 1 halves three tiles to 5000 x 10; pass 2 cuts the merged 15000 x 10
  // into 10000 + 5000, so its tile (2, 1) has the name of a resized tile of
  // pass 1, which is deleted in between.
  const std::string input = in.File("p_30000X20.raw");
  WriteBytes(input, MakePixels(30000, 20, 3, 8));
  ASSERT_TRUE(Load(input));
  const TResizeParams params = Params(7000, false);
  const TResizePlan plan =
      PlanResize(30000, 20, params.NewW, params.NewH, false);
  ASSERT_EQ(plan.Passes.size(), 2u);
  EXPECT_EQ(plan.Passes[0].Divider, 2.0L);
  EXPECT_EQ(plan.Passes[1].Grid.Cols, 2u);
  pipeline.DoResize(params);
  ASSERT_FALSE(engine.Aborted)
      << (hooks.Errors.empty() ? ui.LastText() : hooks.Errors[0]);
  ExpectCleanEnd(input, {"p_30000X20.raw"});
  const std::string name = "p_" + std::to_string(plan.OutW) + "X" +
                           std::to_string(plan.OutH) + ".raw";
  EXPECT_EQ(Files(out), std::vector<std::string>{name});
  EXPECT_EQ(ReadBytes(out.File(name)).size(),
            std::size_t{plan.OutW} * plan.OutH * 3);
}

TEST_F(ResizeRun, SeveralWorkersAtOnceGiveTheSameResultAndStopTogether) {
  // Two passes of three and two tiles, on one to five workers at a time:
  // the same file, and each tile of a pass counted once when it starts and
  // once when it is collected.
  const std::string input = in.File("p_30000X20.raw");
  WriteBytes(input, MakePixels(30000, 20, 3, 8));
  std::vector<std::uint8_t> first;
  for (int cores : {1, 2, 3, 5}) {
    SCOPED_TRACE(cores);
    ASSERT_TRUE(Load(input));
    TempDir dst;
    auto params = Params(7000, false);
    params.OutputFolder = dst.Dir();
    params.NumOfCores = cores;
    std::vector<std::vector<std::int32_t>> steps;
    hooks.OnProgress = [&](std::int32_t current) {
      if (hooks.Descriptions.back() != "Step 2/4") return;
      if (current == 1) steps.emplace_back();
      steps.back().push_back(current);
    };
    pipeline.DoResize(params);
    ASSERT_FALSE(engine.Aborted) << ui.LastText();
    const auto files = Files(dst);
    ASSERT_EQ(files.size(), 1u);
    const auto bytes = ReadBytes(dst.File(files[0]));
    if (first.empty()) first = bytes;
    EXPECT_EQ(bytes, first);
    const std::vector<std::vector<std::int32_t>> expected = {{1, 2, 3, 4, 5, 6},
                                                             {1, 2, 3, 4}};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(Files(in), std::vector<std::string>{"p_30000X20.raw"});
    EXPECT_FALSE(fs::exists(dst.File(TResizePipeline::kTempDirName)));
  }

  // An abort once all three tiles of the first pass have started waits for
  // the three workers and leaves nothing behind.
  ASSERT_TRUE(Load(input));
  TempDir dst;
  auto params = Params(7000, false);
  params.OutputFolder = dst.Dir();
  params.NumOfCores = 3;
  hooks.OnProgress = [this](std::int32_t current) {
    if (hooks.Descriptions.back() == "Step 2/4" && current == 3)
      engine.Aborted = true;
  };
  hooks.Statuses.clear();
  pipeline.DoResize(params);
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Statuses.back(), "Killing processes...");
  EXPECT_TRUE(Files(dst).empty());
  EXPECT_EQ(Files(in), std::vector<std::string>{"p_30000X20.raw"});
  EXPECT_EQ(engine.InInfo.FileName, input);
}

TEST_F(ResizeRun, AWiderTargetGivesACopyAtTheInputSize) {
  const std::string input = in.File("wide_12000X30.raw");
  const auto pixels = MakePixels(12000, 30, 3, 8);
  WriteBytes(input, pixels);
  ASSERT_TRUE(Load(input));
  pipeline.DoResize(Params(20000, false));
  EXPECT_FALSE(engine.Aborted);
  EXPECT_EQ(ReadBytes(out.File("wide_12000X30.raw")), pixels);
  ExpectCleanEnd(input, {"wide_12000X30.raw"});
}

TEST_F(ResizeRun, RefusalsChangeNothing) {
  WriteBytes(in.File("small_9999X20.raw"), MakePixels(9999, 20, 3, 8));
  WriteBytes(in.File("ok_10000X2.raw"), MakePixels(10000, 2, 3, 8));
  // A file where the temporary folder should go.
  TempDir blocked;
  WriteBytes(blocked.File(TResizePipeline::kTempDirName), {1});
  fs::create_directory(in.Path() / "sub");

  struct Case {
    const char* name;
    std::string file;
    bool validInput;
    std::string folder;
    OutputChoice output;
    std::string message;
    bool dialog;
  } cases[] = {
      {"missing", in.File("gone_20000X2.raw"), false, out.Dir(),
       OutputChoice::Raw, "File not found or bad file!", false},
      {"same folder and type", in.File("ok_10000X2.raw"), true, "",
       OutputChoice::Raw, "Cannot overwrite input file", true},
      {"same folder spelled otherwise", in.File("ok_10000X2.raw"), true,
       in.Dir() + "sub/../", OutputChoice::Raw, "Cannot overwrite input file",
       true},
      {"too small", in.File("small_9999X20.raw"), true, out.Dir(),
       OutputChoice::Tif, "Width and height of the input file must be > 10000",
       true},
      {"no temp folder", in.File("ok_10000X2.raw"), true, blocked.Dir(),
       OutputChoice::Tif,
       "Cannot create the temporary directory " + blocked.Dir() +
           TResizePipeline::kTempDirName + "/",
       true},
  };
  for (const Case& c : cases) {
    engine.Aborted = false;
    ui.Messages.clear();
    hooks.Errors.clear();
    engine.InInfo = TFileInfo{};
    engine.InInfo.FileName = c.file;
    if (c.validInput) {
      ASSERT_TRUE(Load(c.file)) << c.name;
    }
    const TFileInfo before = engine.InInfo;
    auto params = Params(5000, false, c.output);
    params.OutputFolder = c.folder;
    pipeline.DoResize(params);
    EXPECT_TRUE(engine.Aborted) << c.name;
    if (c.dialog) {
      ASSERT_EQ(ui.Messages.size(), 1u) << c.name;
      EXPECT_EQ(ui.Messages[0].Text, c.message);
      EXPECT_TRUE(ui.Messages[0].IsDialog);
      EXPECT_EQ(ui.Messages[0].Icon, MsgIcon::Error);
    } else {
      EXPECT_EQ(hooks.Errors, std::vector<std::string>{c.message}) << c.name;
    }
    EXPECT_EQ(engine.InInfo.FileName, before.FileName);
    EXPECT_EQ(disabled, 0) << c.name;
    EXPECT_FALSE(fs::exists(out.File(TResizePipeline::kTempDirName)));
    EXPECT_FALSE(fs::exists(in.File(TResizePipeline::kTempDirName)));
  }
  EXPECT_TRUE(Files(out).empty());
  // 10000 on one side is enough.
  engine.Aborted = false;
  ASSERT_TRUE(Load(in.File("ok_10000X2.raw")));
  pipeline.DoResize(Params(5000, true, OutputChoice::Tif));
  EXPECT_FALSE(engine.Aborted);
}

TEST_F(ResizeRun, AbortWhileResizingCleansUpEverything) {
  const std::string input = in.File("pano_25000X40.raw");
  const auto pixels = MakePixels(25000, 40, 3, 8);
  WriteBytes(input, pixels);
  ASSERT_TRUE(Load(input));
  // Abort right after the second worker has started: it is still running
  // and is waited for.
  hooks.OnProgress = [this](std::int32_t current) {
    if (hooks.Descriptions.back() == "Step 2/4" && current == 3)
      engine.Aborted = true;
  };
  pipeline.DoResize(Params(2400, true));
  EXPECT_TRUE(engine.Aborted);
  EXPECT_NE(std::find(hooks.Statuses.begin(), hooks.Statuses.end(),
                      "Killing processes..."),
            hooks.Statuses.end());
  EXPECT_TRUE(hooks.Errors.empty());
  EXPECT_TRUE(Files(out).empty());  // temporary folder gone, no output
  ExpectCleanEnd(input, {"pano_25000X40.raw"});
  EXPECT_EQ(ReadBytes(input), pixels);
  EXPECT_EQ(engine.InInfo.Width, 25000u);
}

TEST_F(ResizeRun, AbortWhileSplittingCleansUpEverything) {
  const std::string input = in.File("pano_25000X40.raw");
  WriteBytes(input, MakePixels(25000, 40, 3, 8));
  ASSERT_TRUE(Load(input));
  hooks.OnProgress = [this](std::int32_t) {
    if (hooks.Descriptions.back() == "Step 1/4") engine.Aborted = true;
  };
  pipeline.DoResize(Params(2400, false));
  EXPECT_TRUE(engine.Aborted);
  EXPECT_TRUE(Files(out).empty());
  ExpectCleanEnd(input, {"pano_25000X40.raw"});
}

TEST_F(ResizeRun, AFailingTileIsReportedAndCleanedUp) {
  // Divider 10 on a 25000 × 5 image: the tiles shrink to nothing in height.
  const std::string input = in.File("thin_25000X5.raw");
  WriteBytes(input, MakePixels(25000, 5, 3, 8));
  ASSERT_TRUE(Load(input));
  pipeline.DoResize(Params(2400, true));
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Error resizing the image"});
  EXPECT_TRUE(Files(out).empty());
  ExpectCleanEnd(input, {"thin_25000X5.raw"});
}

}  // namespace
}  // namespace trelvi
