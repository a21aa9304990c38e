#include "engine/formats/tiff/strip_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include "engine/format_table.h"
#include "engine/trelvi.h"
#include "support/fixtures.h"

namespace trelvi {
namespace {

using test::TempDir;

// Writes an LZW TIFF of the given pixels with the given number of
// compression threads and returns the file's bytes.
std::vector<std::uint8_t> WriteLzw(const TempDir& dir, const std::string& base,
                                   const std::vector<std::uint8_t>& rgb,
                                   std::uint32_t w, std::uint32_t h, int bits,
                                   int threads) {
  SetCompressionThreads(threads);
  TTrelvi engine;
  engine.InInfo.FileName = dir.File("in.raw");
  engine.InInfo.Bits = static_cast<std::uint8_t>(bits);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.OutInfo.Width = w;
  engine.OutInfo.Height = h;
  engine.UseLzw = true;
  EXPECT_TRUE(engine.CreateOutFile(dir.File(base)));
  const std::size_t row = engine.OutInfo.ScanLineSize;
  for (std::uint32_t y = 0; y < h; ++y) {
    std::copy_n(rgb.begin() + y * row, row, engine.OutInfo.ScanLine);
    EXPECT_EQ(engine.WriteLine(y), static_cast<std::int32_t>(row));
  }
  EXPECT_TRUE(engine.CloseOutFile());
  SetCompressionThreads(0);
  return test::ReadBytes(dir.File(base + ".tif"));
}

TEST(ParallelLzw, SameBytesAsTheSingleThreadedPath) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    TempDir dir;
    const std::uint32_t w = 6000, h = 57;
    auto rgb = test::MakePixels(w, h, 3, bits);
    // Some flat runs so that strips compress to very different sizes.
    std::fill(rgb.begin() + rgb.size() / 3, rgb.begin() + rgb.size() / 2, 7);
    const auto single = WriteLzw(dir, "one", rgb, w, h, bits, 1);
    const auto multi = WriteLzw(dir, "many", rgb, w, h, bits, 5);
    EXPECT_EQ(single, multi);
    EXPECT_EQ(test::ReadTiff(dir.File("many.tif")).Pixels, rgb);
  }
}

// Writes the pixels as the given output choice at the given level with the
// given number of compression threads; returns the file's bytes.
std::vector<std::uint8_t> WriteChoice(const TempDir& dir,
                                      const std::string& base,
                                      const std::vector<std::uint8_t>& rgb,
                                      std::uint32_t w, std::uint32_t h,
                                      int bits, OutputChoice choice, int level,
                                      int threads) {
  SetCompressionThreads(threads);
  TTrelvi engine;
  engine.InInfo.FileName = dir.File("in.raw");
  engine.InInfo.Bits = static_cast<std::uint8_t>(bits);
  SetOutputType(engine, choice);
  engine.CompressionLevel = level;
  engine.OutInfo.Width = w;
  engine.OutInfo.Height = h;
  EXPECT_TRUE(engine.CreateOutFile(dir.File(base)));
  const std::size_t row = engine.OutInfo.ScanLineSize;
  for (std::uint32_t y = 0; y < h; ++y) {
    std::copy_n(rgb.begin() + y * row, row, engine.OutInfo.ScanLine);
    EXPECT_EQ(engine.WriteLine(y), static_cast<std::int32_t>(row));
    // The predictor differences in place in libtiff; the engine's row must
    // come back as it was handed over.
    EXPECT_TRUE(std::equal(engine.OutInfo.ScanLine,
                           engine.OutInfo.ScanLine + row,
                           rgb.begin() + y * row))
        << y;
  }
  EXPECT_TRUE(engine.CloseOutFile());
  SetCompressionThreads(0);
  return test::ReadBytes(dir.File(base + ".tif"));
}

struct CodecTags {
  std::uint16_t Compression = 0, Predictor = 0;
  std::uint32_t RowsPerStrip = 0;
};

CodecTags TagsOf(const std::string& file) {
  CodecTags tags;
  TIFF* t = TIFFOpen(file.c_str(), "r");
  EXPECT_NE(t, nullptr) << file;
  if (!t) return tags;
  TIFFGetField(t, TIFFTAG_COMPRESSION, &tags.Compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &tags.Predictor);
  TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &tags.RowsPerStrip);
  TIFFClose(t);
  return tags;
}

TEST(ParallelDeflateAndZstd, SameBytesOnEveryThreadCountAndLevelsMatter) {
  const struct {
    OutputChoice choice;
    std::uint16_t tag;
    int low, high;
  } codecs[] = {
      {OutputChoice::TifDeflate, COMPRESSION_ADOBE_DEFLATE, 1, 12},
      {OutputChoice::TifZstd, COMPRESSION_ZSTD, 1, 19},
  };
  for (const auto& c : codecs)
    for (int bits : {8, 16})
      // Wide rows go to the threads, narrow rows stay on the caller's.
      for (std::uint32_t w : {6000u, 41u}) {
        SCOPED_TRACE(testing::Message()
                     << c.tag << " bits " << bits << " w " << w);
        TempDir dir;
        const std::uint32_t h = 23;
        auto rgb = test::MakePixels(w, h, 3, bits);
        std::fill(rgb.begin() + rgb.size() / 3, rgb.begin() + rgb.size() / 2,
                  7);
        const auto single =
            WriteChoice(dir, "one", rgb, w, h, bits, c.choice, 0, 1);
        const auto multi =
            WriteChoice(dir, "many", rgb, w, h, bits, c.choice, 0, 5);
        EXPECT_EQ(single, multi);
        const auto img = test::ReadTiff(dir.File("many.tif"));
        EXPECT_EQ(img.Pixels, rgb);
        EXPECT_EQ(img.Bits, bits);
        const CodecTags tags = TagsOf(dir.File("many.tif"));
        EXPECT_EQ(tags.Compression, c.tag);
        EXPECT_EQ(tags.Predictor, PREDICTOR_HORIZONTAL);
        EXPECT_EQ(tags.RowsPerStrip, 1u);
        // The default level is neither end of the range: both ends give
        // other bytes, the same on one thread and on many.
        for (int level : {c.low, c.high}) {
          const std::string name = "level" + std::to_string(level);
          const auto one =
              WriteChoice(dir, name + "a", rgb, w, h, bits, c.choice, level, 1);
          const auto many =
              WriteChoice(dir, name + "b", rgb, w, h, bits, c.choice, level, 5);
          EXPECT_EQ(one, many) << level;
          EXPECT_NE(one, single) << level;
          EXPECT_EQ(test::ReadTiff(dir.File(name + "b.tif")).Pixels, rgb);
        }
      }
}

TEST(ParallelLzw, AFullDiskIsReported) {
  TempDir dir;
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{300000, 300000};
    setrlimit(RLIMIT_FSIZE, &limit);
    SetCompressionThreads(4);
    TTrelvi engine;
    engine.InInfo.Bits = 8;
    engine.OutInfo.ImageType = FileType::TIF;
    engine.OutInfo.Width = 8000;
    engine.OutInfo.Height = 200;
    engine.UseLzw = true;
    if (!engine.CreateOutFile(dir.File("o"))) _exit(2);
    std::uint32_t seed = 1;
    bool rowFailed = false;
    for (std::uint32_t y = 0; y < 200 && !rowFailed; ++y) {
      for (std::uint32_t i = 0; i < engine.OutInfo.ScanLineSize; ++i) {
        seed = seed * 1103515245u + 12345u;  // noise: LZW cannot shrink it
        engine.OutInfo.ScanLine[i] = static_cast<std::uint8_t>(seed >> 24);
      }
      rowFailed = engine.WriteLine(y) == 0;
    }
    const bool closed = engine.CloseOutFile();
    _exit(rowFailed || !closed ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace trelvi
