#include "resize/raw_resize.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/fixtures.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::MakePixels;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Runs a worker the way the pipeline does: start, poll, read.
void RunWorker(TRawResize& worker) {
  worker.Start();
  while (!worker.Finished())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  worker.WaitFor();
}

std::vector<std::string> FilesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.Path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ResizedLength, RoundsHalfToEvenInExtendedPrecision) {
  EXPECT_EQ(ResizedLength(10001, 2.0L), 5000);
  EXPECT_EQ(ResizedLength(10003, 2.0L), 5002);
  EXPECT_EQ(ResizedLength(10000, 3.0L), 3333);
  EXPECT_EQ(ResizedLength(8000, 2.1L), 3810);
  EXPECT_EQ(ResizedLength(12500, 12500.0L / 12000.0L), 12000);
  EXPECT_EQ(ResizedLength(1000, 3000.0L), 0);
  EXPECT_EQ(ResizedLength(1000, 0.0L), -1);
  EXPECT_EQ(ResizedLength(1000, -2.0L), -1);
  EXPECT_EQ(ResizedLength(100000, 1e-6L), -1);  // does not fit 32 bits
}

TEST(RawResize, NamesCarryTheNewSizeAndThePosition) {
  const struct {
    const char* source;
    long double divider;
    const char* output;
  } cases[] = {
      {"pano_100X50.raw", 2, "pano_50X25.raw"},
      {"pano_100X50_x1y1.raw", 10, "pano_10X5_x1y1.raw"},
      {"pano_100x50_X2Y7.RAW", 2, "pano_50X25_x2y7.RAW"},
      {"pano_80X60_x1y1.big.raw", 4, "pano_20X15_x1y1.big.raw"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::uint32_t w = 0, h = 0;
    if (std::string(c.source).rfind("pano_100", 0) == 0)
      w = 100, h = 50;
    else
      w = 80, h = 60;
    WriteBytes(dir.File(c.source), MakePixels(w, h, 3, 8));
    for (bool fast : {false, true}) {
      TRawResize worker;
      worker.Init(dir.File(c.source), c.divider, fast);
      RunWorker(worker);
      EXPECT_FALSE(worker.Error) << c.source;
      EXPECT_EQ(worker.OutFileName, dir.File(c.output));
      ASSERT_TRUE(fs::exists(dir.File(c.output)));
      const auto out = ReadBytes(dir.File(c.output));
      EXPECT_EQ(out.size(), (w / c.divider) * (h / c.divider) * 3);
      // The source is never deleted.
      EXPECT_TRUE(fs::exists(dir.File(c.source)));
    }
  }
}

TEST(RawResize, ResultIsTheScaledImage) {
  TempDir dir;
  const auto pixels = MakePixels(90, 70, 3, 8);
  WriteBytes(dir.File("t_90X70_x2y3.raw"), pixels);
  for (bool fast : {false, true}) {
    TRawResize worker;
    worker.Init(dir.File("t_90X70_x2y3.raw"), 2.5L, fast);
    RunWorker(worker);
    ASSERT_FALSE(worker.Error);
    ASSERT_EQ(worker.OutFileName, dir.File("t_36X28_x2y3.raw"));

    TImageData expected;
    ASSERT_TRUE(AllocateImage(90, 70, TImageFormat::R8G8B8, expected));
    std::copy(pixels.begin(), pixels.end(), expected.Bits);
    ASSERT_TRUE(ScaleImage(expected, 36, 28, fast ? rfNearest : rfLanczos));
    EXPECT_EQ(ReadBytes(worker.OutFileName),
              std::vector<std::uint8_t>(expected.Bits,
                                        expected.Bits + expected.Size));
    ReleaseImage(expected);
  }
}

TEST(RawResize, SixteenBitTilesKeepSixBytesAPixel) {
  TempDir dir;
  const auto pixels = MakePixels(40, 30, 3, 16);
  WriteBytes(dir.File("w_40X30.raw"), pixels);
  TRawResize worker;
  worker.Init(dir.File("w_40X30.raw"), 2.0L, true, 16);
  RunWorker(worker);
  ASSERT_FALSE(worker.Error);
  const auto out = ReadBytes(worker.OutFileName);
  ASSERT_EQ(out.size(), 20u * 15u * 6u);
  // Nearest neighbour at 2: pixel (x, y) is source pixel (2x, 2y), whole.
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x)
      for (int b = 0; b < 6; ++b)
        ASSERT_EQ(out[(y * 20 + x) * 6 + b],
                  pixels[((2 * y) * 40 + 2 * x) * 6 + b]);
}

TEST(RawResize, ResultGoesToTheGivenFolder) {
  TempDir src, out;
  WriteBytes(src.File("p_20X10.raw"), MakePixels(20, 10, 3, 8));
  TRawResize worker;
  worker.Init(src.File("p_20X10.raw"), 2.0L, false, 8, out.Dir());
  RunWorker(worker);
  ASSERT_FALSE(worker.Error);
  EXPECT_EQ(worker.OutFileName, out.File("p_10X5.raw"));
  EXPECT_EQ(FilesIn(src), std::vector<std::string>{"p_20X10.raw"});
}

TEST(RawResize, UnchangedSizeWritesACopyUnderTheNewName) {
  TempDir dir;
  const auto pixels = MakePixels(100, 50, 3, 8);
  WriteBytes(dir.File("c_100x50.raw"), pixels);
  TRawResize worker;
  worker.Init(dir.File("c_100x50.raw"), 1.004L, false);
  RunWorker(worker);
  ASSERT_FALSE(worker.Error);
  EXPECT_EQ(worker.OutFileName, dir.File("c_100X50.raw"));
  EXPECT_EQ(ReadBytes(worker.OutFileName), pixels);
}

TEST(RawResize, ShortSourcesReadAsBlack) {
  TempDir dir;
  auto pixels = MakePixels(10, 4, 3, 8);
  pixels.resize(10 * 3 * 3);  // last row missing
  WriteBytes(dir.File("s_10X4.raw"), pixels);
  TRawResize worker;
  worker.Init(dir.File("s_10X4.raw"), 0.5L, true);
  RunWorker(worker);
  ASSERT_FALSE(worker.Error);
  const auto out = ReadBytes(worker.OutFileName);
  ASSERT_EQ(worker.OutFileName, dir.File("s_20X8.raw"));
  ASSERT_EQ(out.size(), 20u * 8u * 3u);
  // Output rows 6 and 7 come from the missing source row.
  for (std::size_t i = 6u * 60u; i < out.size(); ++i) ASSERT_EQ(out[i], 0);
  EXPECT_EQ(out[3], pixels[0]);  // column 1 is still source column 0
}

TEST(RawResize, FailuresAndRefusals) {
  TempDir dir;
  WriteBytes(dir.File("a_1000X5.raw"), MakePixels(1000, 5, 3, 8));
  WriteBytes(dir.File("nosize.raw"), MakePixels(10, 10, 3, 8));
  const struct {
    const char* name;
    long double divider;
    bool error;
  } cases[] = {
      {"nosize.raw", 2, false},      // no size: nothing done, no error
      {"a_1000X5.raw", 3000, true},  // rounds to 0
      {"a_1000X5.raw", 0, true},     // not a divider
      {"gone_10X10.raw", 2, true},   // missing file
  };
  for (const auto& c : cases) {
    TRawResize worker;
    worker.Init(dir.File(c.name), c.divider, false);
    RunWorker(worker);
    EXPECT_EQ(worker.Error, c.error) << c.name;
    EXPECT_EQ(worker.OutFileName, "") << c.name;
  }
  EXPECT_EQ(FilesIn(dir),
            (std::vector<std::string>{"a_1000X5.raw", "nosize.raw"}));
}

TEST(RawResize, AnUnwritableOutputIsAnError) {
  TempDir dir;
  WriteBytes(dir.File("a_20X20.raw"), MakePixels(20, 20, 3, 8));
  TRawResize worker;
  worker.Init(dir.File("a_20X20.raw"), 2.0L, false, 8,
              dir.File("no/such/folder/"));
  RunWorker(worker);
  EXPECT_TRUE(worker.Error);
  EXPECT_EQ(worker.OutFileName, "");
}

}  // namespace
}  // namespace trelvi
