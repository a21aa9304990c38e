// A crop reads the rows of its rectangle and no others: RAW and KRO rows
// are found by their position, as TIFF rows are, so a rectangle at the
// bottom of a huge input costs what the rectangle costs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "operations/ops_fixtures.h"
#include "support/hook_recorder.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::InputKind;
using test::TempDir;

// What the hooks of a crop that starts at the rectangle's top row receive:
// the cleared status, then one countdown per row; a progress report at
// every input row of the rectangle that is a multiple of 7.
std::vector<std::string> CopyStatuses(std::int32_t rowsDone, std::int32_t h) {
  std::vector<std::string> s = {""};
  for (std::int32_t k = 0; k < rowsDone; ++k)
    s.push_back("Saving lines... (" + std::to_string(h - k) + ")");
  return s;
}
std::vector<std::int32_t> CopyProgress(std::int32_t from, std::int32_t to) {
  std::vector<std::int32_t> p;
  for (std::int32_t i = from; i < to; ++i)
    if (i % 7 == 0) p.push_back(i);
  return p;
}

// 301 × 257: rows of 903 to 2408 bytes, so that the rows of a rectangle lie
// well beyond the first block the reader buffers.
constexpr std::uint32_t kW = 301, kH = 257;

struct RectCase {
  const char* Where;
  std::int32_t X, Y, W, H;
};
const RectCase kRects[] = {{"top", 5, 0, 40, 20},
                           {"middle", 17, 120, 100, 33},
                           {"bottom-right corner", 250, 200, 51, 57},
                           {"last row", 0, 256, 301, 1}};

TEST(CropRows, TopMiddleAndBottomOfRawAndKroArePixelExact) {
  for (InputKind kind : {InputKind::Raw, InputKind::Kro})
    for (int bits : {8, 16}) {
      TempDir in;
      const auto img = test::MakeInput(in, kind, kW, kH, bits);
      const auto inputBytes = test::ReadBytes(img.FileName);
      for (const RectCase& r : kRects)
        for (FileType out : {FileType::RAW, FileType::KRO4, FileType::TIF}) {
          SCOPED_TRACE(testing::Message()
                       << (kind == InputKind::Raw ? "raw " : "kro ") << bits
                       << " bits, " << r.Where << ", output "
                       << static_cast<int>(out));
          TempDir dir;
          TTrelvi engine;
          HookRecorder hooks(engine);
          test::Describe(engine, img.FileName);
          ASSERT_TRUE(engine.InInfo.ImageIsOk);
          engine.OutInfo.ImageType = out;
          engine.CropImage(r.X, r.Y, r.W, r.H, dir.Dir(), "");
          ASSERT_FALSE(engine.Aborted);
          EXPECT_TRUE(hooks.Errors.empty());
          EXPECT_EQ(test::OutputPixels(engine.OutInfo.FileName, bits),
                    test::Rect(img.Rgb, kW, bits, r.X, r.Y, r.W, r.H));
          EXPECT_EQ(hooks.ProgressMax, r.Y + r.H);
          EXPECT_EQ(hooks.Progress, CopyProgress(r.Y, r.Y + r.H));
          EXPECT_EQ(hooks.Statuses, CopyStatuses(r.H, r.H));
          EXPECT_EQ(hooks.Hides, 1);
          EXPECT_FALSE(engine.InOpen);
          EXPECT_FALSE(engine.OutOpen);
          EXPECT_EQ(test::ReadBytes(img.FileName), inputBytes);
        }
    }
}

// Crops one after another on the same engine and input, in an order that
// goes back up the file: each starts at its own rectangle.
TEST(CropRows, CropsOfOneInputInAnyOrderEachReadTheirOwnRows) {
  for (InputKind kind : {InputKind::Raw, InputKind::Kro}) {
    TempDir in;
    const auto img = test::MakeInput(in, kind, kW, kH, 16);
    TTrelvi engine;
    test::Describe(engine, img.FileName);
    engine.OutInfo.ImageType = FileType::RAW;
    for (const RectCase& r :
         {kRects[2], kRects[0], kRects[1], kRects[3], kRects[0]}) {
      SCOPED_TRACE(r.Where);
      TempDir dir;
      engine.CropImage(r.X, r.Y, r.W, r.H, dir.Dir(), "");
      ASSERT_FALSE(engine.Aborted);
      EXPECT_EQ(test::ReadBytes(engine.OutInfo.FileName),
                test::Rect(img.Rgb, kW, 16, r.X, r.Y, r.W, r.H));
    }
  }
}

// The input loses rows after it was described, as a file that changes
// under the program would: the rows the crop reaches that the file no
// longer holds are a read error, and no output stays.
TEST(CropRows, RectanglePastTheEndOfATruncatedFileIsAReadError) {
  constexpr std::uint32_t w = 40, h = 100;
  constexpr std::int32_t x = 3, y = 60, cw = 20, ch = 30;
  struct Cut {
    const char* What;
    double Rows;         // rows the file keeps, fractions for a cut row
    std::int32_t Saved;  // rows of the rectangle written before the error
  };
  const Cut cuts[] = {{"no rows", 0, 0},
                      {"rows far above the rectangle", 30, 0},
                      {"ends in the row above the rectangle", 59.5, 0},
                      {"ends in the middle of the rectangle", 75.25, 16}};
  for (InputKind kind : {InputKind::Raw, InputKind::Kro})
    for (int bits : {8, 16})
      for (const Cut& cut : cuts) {
        SCOPED_TRACE(testing::Message()
                     << (kind == InputKind::Raw ? "raw " : "kro ") << bits
                     << " bits, " << cut.What);
        TempDir in, out;
        const auto img = test::MakeInput(in, kind, w, h, bits);
        TTrelvi engine;
        HookRecorder hooks(engine);
        test::Describe(engine, img.FileName);
        ASSERT_TRUE(engine.InInfo.ImageIsOk);
        const std::size_t header = kind == InputKind::Kro ? 20 : 0;
        const std::size_t rowBytes =
            static_cast<std::size_t>(w) * engine.InInfo.BytesPerPixel;
        fs::resize_file(img.FileName,
                        header + static_cast<std::size_t>(cut.Rows * rowBytes));
        const auto cutBytes = test::ReadBytes(img.FileName);
        engine.OutInfo.ImageType = FileType::RAW;
        engine.CropImage(x, y, cw, ch, out.Dir(), "");
        EXPECT_TRUE(engine.Aborted);
        EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Read file error"});
        // A row the file holds in part is used; the row after it fails.
        EXPECT_EQ(hooks.Statuses, CopyStatuses(cut.Saved, ch));
        EXPECT_EQ(hooks.Progress, CopyProgress(y, y + cut.Saved));
        EXPECT_EQ(hooks.Hides, 1);
        EXPECT_TRUE(fs::is_empty(out.Path())) << "partial output left";
        EXPECT_FALSE(engine.InOpen);
        EXPECT_FALSE(engine.OutOpen);
        EXPECT_EQ(test::ReadBytes(img.FileName), cutBytes);
      }
}

// Bytes this process has read so far, whatever it read them with; -1 when
// the system does not tell.
std::int64_t BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

// 150000 × 150000, 8 bits: 67.5 GB that the file system holds as a hole,
// except for the corner rectangle and a frame of marked pixels just outside
// it. Reading the rows above the rectangle would read those 67.5 GB.
TEST(CropRows, CornerOfASparse150000SquareRawReadsOnlyTheRectangle) {
  constexpr std::uint64_t side = 150000, rowBytes = side * 3;
  constexpr std::uint32_t corner = 149000, size = 1000;
  TempDir in, out;
  const std::string name = in.File("pano_150000X150000.raw");
  const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  if (::ftruncate(fd, static_cast<off_t>(side * rowBytes)) != 0) {
    ::close(fd);
    GTEST_SKIP() << "the file system holds no sparse 67.5 GB file";
  }
  // The rectangle's pixels, and the row above it and the column left of it
  // marked, so that an output shifted by a row or a pixel shows.
  const auto pixels = test::MakePixels(size + 1, size + 1, 3, 8);
  for (std::uint32_t r = 0; r <= size; ++r) {
    const std::uint64_t at = (corner - 1 + r) * rowBytes + (corner - 1) * 3;
    const std::size_t n = (size + 1) * 3;
    ASSERT_EQ(::pwrite(fd, pixels.data() + r * n, n, static_cast<off_t>(at)),
              static_cast<ssize_t>(n));
  }
  ::close(fd);

  TTrelvi engine;
  HookRecorder hooks(engine);
  test::Describe(engine, name);
  ASSERT_TRUE(engine.InInfo.ImageIsOk);
  ASSERT_EQ(engine.InInfo.Width, side);
  engine.OutInfo.ImageType = FileType::RAW;
  const std::int64_t readBefore = BytesRead();
  engine.CropImage(corner, corner, size, size, out.Dir(), "");
  const std::int64_t readAfter = BytesRead();
  ASSERT_FALSE(engine.Aborted);
  EXPECT_TRUE(hooks.Errors.empty());
  EXPECT_EQ(engine.OutInfo.FileName, out.Dir() + "pano_1000X1000.raw");
  EXPECT_EQ(test::ReadBytes(engine.OutInfo.FileName),
            test::Rect(pixels, size + 1, 8, 1, 1, size, size));
  EXPECT_EQ(hooks.ProgressMax, 150000);
  EXPECT_EQ(hooks.Progress, CopyProgress(corner, corner + size));
  EXPECT_EQ(hooks.Statuses, CopyStatuses(size, size));
  // The thousand rows hold 450 MB; a few blocks of read-ahead around them
  // are all that may come on top.
  if (readBefore >= 0 && readAfter >= 0) {
    EXPECT_LT(readAfter - readBefore,
              static_cast<std::int64_t>(size * rowBytes * 2));
  }
}

}  // namespace
}  // namespace trelvi
