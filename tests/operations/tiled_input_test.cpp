#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "engine/formats/tiff/tiff_access.h"
#include "engine/trelvi.h"
#include "operations/ops_fixtures.h"
#include "resize/resize_pipeline.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"
#include "ui/window_rules.h"

// Every operation takes a tiled TIFF input as it takes a striped one, and
// writes the same striped outputs.
namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::ScriptedUi;
using test::TempDir;
using test::TiffSpec;

TiffSpec Spec(std::uint32_t w, std::uint32_t h, int bits, int channels,
              std::uint32_t tileW = 0, std::uint32_t tileH = 0) {
  TiffSpec s;
  s.Width = w;
  s.Height = h;
  s.Bits = bits;
  s.Channels = channels;
  s.RowsPerStrip = 5;
  s.TileWidth = tileW;
  s.TileHeight = tileH;
  return s;
}

struct OutputCase {
  FileType type;
  bool lzw;
  const char* ext;
};
const OutputCase kOutputs[] = {{FileType::TIF, false, ".tif"},
                               {FileType::TIF, true, ".tif"},
                               {FileType::RAW, false, ".raw"}};

std::string OutputName(const std::string& dir, const OutputCase& o,
                       std::uint32_t w, std::uint32_t h) {
  return dir + "pic" +
         (o.type == FileType::RAW
              ? "_" + std::to_string(w) + "X" + std::to_string(h)
              : std::string()) +
         o.ext;
}

// Crops the file into outDir; returns the errors reported.
std::vector<std::string> Crop(const std::string& input, const OutputCase& o,
                              std::int32_t x, std::int32_t y, std::int32_t w,
                              std::int32_t h, const std::string& outDir) {
  ScriptedUi ui;
  TTrelvi engine(ui);
  HookRecorder hooks(engine);
  test::Describe(engine, input);
  EXPECT_TRUE(engine.InInfo.ImageIsOk) << input;
  engine.OutInfo.ImageType = o.type;
  engine.UseLzw = o.lzw;
  engine.CropImage(x, y, w, h, outDir, "");
  EXPECT_EQ(engine.Aborted, !hooks.Errors.empty());
  EXPECT_FALSE(engine.InOpen);
  EXPECT_FALSE(engine.OutOpen);
  EXPECT_TRUE(ui.Messages.empty());
  return hooks.Errors;
}

TEST(TiledInput, ConvertIsPixelExactAndTheSameFileAsFromStrips) {
  // 37 × 29 with 16 × 16 tiles: a partial last column and a partial last
  // band. The striped twin of the input must give the very same output.
  for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE})
    for (int bits : {8, 16})
      for (int channels : {3, 4})
        for (const auto& o : kOutputs) {
          SCOPED_TRACE(testing::Message()
                       << "planar " << planar << " bits " << bits
                       << " channels " << channels << " -> " << o.ext
                       << (o.lzw ? " lzw" : ""));
          TempDir in, striped, tiledOut, stripedOut;
          TiffSpec tiled = Spec(37, 29, bits, channels, 16, 16);
          tiled.Planar = planar;
          test::WriteTiff(in.File("pic.tif"), tiled);
          test::WriteTiff(striped.File("pic.tif"),
                          Spec(37, 29, bits, channels));
          ASSERT_TRUE(Crop(in.File("pic.tif"), o, 0, 0, 37, 29, tiledOut.Dir())
                          .empty());
          const std::string name = OutputName(tiledOut.Dir(), o, 37, 29);
          const auto rgb = test::DropAlpha(
              test::MakePixels(37, 29, channels, bits), channels, bits);
          EXPECT_EQ(test::OutputPixels(name, bits), rgb);
          if (o.type == FileType::TIF) {
            const test::TiffImage out = test::ReadTiff(name);
            EXPECT_EQ(out.RowsPerStrip, 1u);
            EXPECT_EQ(out.Planar, PLANARCONFIG_CONTIG);
            EXPECT_EQ(out.Compression,
                      o.lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
          }
          ASSERT_TRUE(
              Crop(striped.File("pic.tif"), o, 0, 0, 37, 29, stripedOut.Dir())
                  .empty());
          EXPECT_EQ(test::ReadBytes(name),
                    test::ReadBytes(OutputName(stripedOut.Dir(), o, 37, 29)));
        }
}

TEST(TiledInput, CropsStartingInsideATileRow) {
  // 16-high tiles: rectangles whose top lies inside a band, that cross band
  // boundaries, that lie in the last partial band, and that start at the
  // left edge of a tile column.
  const struct {
    std::int32_t x, y, w, h;
  } rects[] = {{5, 21, 20, 7},
               {3, 10, 30, 25},
               {0, 33, 37, 9},
               {16, 16, 21, 26},
               {36, 41, 1, 1}};
  TempDir in;
  for (int bits : {8, 16}) {
    TiffSpec s = Spec(37, 42, bits, 4, 16, 16);
    s.Compression = COMPRESSION_LZW;
    test::WriteTiff(in.File("pic.tif"), s);
    const auto rgb =
        test::DropAlpha(test::MakePixels(37, 42, 4, bits), 4, bits);
    for (const auto& r : rects)
      for (const auto& o : kOutputs) {
        SCOPED_TRACE(testing::Message()
                     << "bits " << bits << " rect " << r.x << "," << r.y << " "
                     << r.w << "x" << r.h << " -> " << o.ext);
        TempDir out;
        ASSERT_TRUE(
            Crop(in.File("pic.tif"), o, r.x, r.y, r.w, r.h, out.Dir()).empty());
        EXPECT_EQ(test::OutputPixels(OutputName(out.Dir(), o, r.w, r.h), bits),
                  test::Rect(rgb, 37, bits, r.x, r.y, r.w, r.h));
      }
  }
}

TEST(TiledInput, LzwTiledInputsConvert) {
  TempDir in;
  for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE})
    for (int bits : {8, 16}) {
      SCOPED_TRACE(testing::Message()
                   << "planar " << planar << " bits " << bits);
      TiffSpec s = Spec(70, 45, bits, 3, 32, 16);
      s.Planar = planar;
      s.Compression = COMPRESSION_LZW;
      test::WriteTiff(in.File("pic.tif"), s);
      TempDir out;
      ASSERT_TRUE(Crop(in.File("pic.tif"), kOutputs[2], 0, 0, 70, 45, out.Dir())
                      .empty());
      EXPECT_EQ(test::ReadBytes(out.Dir() + "pic_70X45.raw"),
                test::MakePixels(70, 45, 3, bits));
    }
}

// A tiled file whose directory comes before its tiles, as cloud-optimised
// files and several writers place it: cutting its end off loses tiles, not
// the directory, so the file still opens and is described.
void WriteDirectoryFirst(const std::string& path, std::uint32_t w,
                         std::uint32_t h, int compression) {
  InstallTiffHandlers();
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
  TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
  ASSERT_EQ(TIFFDeferStrileArrayWriting(t), 1);
  ASSERT_EQ(TIFFWriteCheck(t, 1, "directory first"), 1);
  ASSERT_EQ(TIFFWriteDirectory(t), 1);
  ASSERT_EQ(TIFFSetDirectory(t, 0), 1);
  const auto pixels = test::MakePixels(w, h, 3, 8);
  std::vector<std::uint8_t> tile(16 * 16 * 3);
  for (std::uint32_t ty = 0; ty < h; ty += 16)
    for (std::uint32_t tx = 0; tx < w; tx += 16) {
      std::fill(tile.begin(), tile.end(), 0);
      for (std::uint32_t y = ty; y < std::min(h, ty + 16); ++y)
        for (std::uint32_t x = tx; x < std::min(w, tx + 16); ++x)
          std::copy_n(&pixels[(y * w + x) * 3], 3,
                      &tile[((y - ty) * 16 + (x - tx)) * 3]);
      ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
    }
  ASSERT_EQ(TIFFForceStrileArrayWriting(t), 1);
  TIFFClose(t);
}

std::uint64_t TileOffset(const std::string& path, std::uint32_t tile) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  EXPECT_NE(t, nullptr);
  if (!t) return 0;
  const std::uint64_t offset = TIFFGetStrileOffset(t, tile);
  TIFFClose(t);
  return offset;
}

TEST(TiledInput, ATruncatedFileIsAReadErrorAndLeavesNoOutput) {
  // 37 × 40: three bands of three tiles. The file is cut inside the last
  // tile (the first two bands are written before the failure) or inside
  // the second tile (nothing can be written).
  for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW})
    for (std::uint32_t cutTile : {8u, 1u})
      for (const auto& o : kOutputs) {
        SCOPED_TRACE(testing::Message()
                     << "compression " << compression << " cut in tile "
                     << cutTile << " -> " << o.ext << (o.lzw ? " lzw" : ""));
        TempDir in, out;
        const std::string path = in.File("pic.tif");
        WriteDirectoryFirst(path, 37, 40, compression);
        const std::uint64_t cut = TileOffset(path, cutTile) + 5;
        ASSERT_GT(cut, 5u);
        ASSERT_LT(cut, fs::file_size(path));
        fs::resize_file(path, cut);

        ScriptedUi ui;
        TTrelvi engine(ui);
        HookRecorder hooks(engine);
        test::Describe(engine, path);
        ASSERT_TRUE(engine.InInfo.ImageIsOk);
        engine.OutInfo.ImageType = o.type;
        engine.UseLzw = o.lzw;
        engine.CropImage(0, 0, 37, 40, out.Dir(), "");
        EXPECT_TRUE(engine.Aborted);
        EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Read file error"});
        EXPECT_FALSE(fs::exists(OutputName(out.Dir(), o, 37, 40)));
        EXPECT_TRUE(fs::is_empty(out.Path()));
        EXPECT_FALSE(engine.InOpen);
        EXPECT_FALSE(engine.OutOpen);
        // Rows of the first two bands went out before the cut was reached.
        EXPECT_EQ(hooks.Progress.empty(), cutTile == 1);
      }
}

TEST(TiledInput, TheSameFileWholeReadsBack) {
  // The directory-first writer of the truncation test makes good files
  // when nothing is cut off, so the failure above is the cut's alone.
  for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW}) {
    TempDir in, out;
    WriteDirectoryFirst(in.File("pic.tif"), 37, 40, compression);
    ASSERT_TRUE(
        Crop(in.File("pic.tif"), kOutputs[2], 0, 0, 37, 40, out.Dir()).empty());
    EXPECT_EQ(test::ReadBytes(out.Dir() + "pic_37X40.raw"),
              test::MakePixels(37, 40, 3, 8));
  }
}

TEST(TiledInput, SplitOfATiledInput) {
  // 10 × 7 output tiles over 16 × 16 input tiles: no boundary agrees.
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    TempDir in, out;
    TiffSpec s = Spec(29, 23, bits, 4, 16, 16);
    s.Compression = COMPRESSION_LZW;
    test::WriteTiff(in.File("pic.tif"), s);
    const auto rgb =
        test::DropAlpha(test::MakePixels(29, 23, 4, bits), 4, bits);
    TTrelvi engine;
    HookRecorder hooks(engine);
    test::Describe(engine, in.File("pic.tif"));
    engine.OutInfo.ImageType = FileType::TIF;
    std::vector<std::string> list;
    engine.SplitImage(10, 7, list, out.Dir(), "");
    ASSERT_FALSE(engine.Aborted) << testing::PrintToString(hooks.Errors);
    ASSERT_EQ(list.size(), 12u);
    for (std::uint32_t r = 0; r < 4; ++r)
      for (std::uint32_t c = 0; c < 3; ++c) {
        const std::uint32_t w = c < 2 ? 10 : 9, h = r < 3 ? 7 : 2;
        const std::string name = list[r * 3 + c];
        EXPECT_EQ(test::ReadTiff(name).Pixels,
                  test::Rect(rgb, 29, bits, c * 10, r * 7, w, h))
            << name;
      }
  }
}

TEST(TiledInput, SplitOfATruncatedTiledInputReportsTheReadError) {
  TempDir in, out;
  const std::string path = in.File("pic.tif");
  WriteDirectoryFirst(path, 37, 40, COMPRESSION_LZW);
  fs::resize_file(path, TileOffset(path, 4) + 3);
  TTrelvi engine;
  HookRecorder hooks(engine);
  test::Describe(engine, path);
  engine.OutInfo.ImageType = FileType::RAW;
  std::vector<std::string> list;
  engine.SplitImage(20, 20, list, out.Dir(), "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Input file read error"});
  EXPECT_FALSE(engine.InOpen);
}

// Writes the grid of a w × h image cut into tileW × tileH pieces as tiled
// TIFF files named as a split names them; returns the names.
std::vector<std::string> WriteTiledTiles(const TempDir& dir,
                                         const std::vector<std::uint8_t>& rgba,
                                         std::uint32_t w, std::uint32_t h,
                                         int bits, std::uint32_t tileW,
                                         std::uint32_t tileH) {
  const std::size_t px = 4u * static_cast<std::size_t>(bits / 8);
  std::vector<std::string> names;
  for (std::uint32_t y = 0, row = 1; y < h; y += tileH, ++row)
    for (std::uint32_t x = 0, col = 1; x < w; x += tileW, ++col) {
      const std::uint32_t tw = std::min(tileW, w - x);
      const std::uint32_t th = std::min(tileH, h - y);
      std::vector<std::uint8_t> part;
      for (std::uint32_t r = y; r < y + th; ++r) {
        const auto start = rgba.begin() + (std::size_t{r} * w + x) * px;
        part.insert(part.end(), start, start + tw * px);
      }
      TiffSpec s = Spec(tw, th, bits, 4, 16, 16);
      s.Compression = COMPRESSION_LZW;
      s.Planar = col % 2 ? PLANARCONFIG_CONTIG : PLANARCONFIG_SEPARATE;
      const std::string name = dir.File(
          "pic_" + std::to_string(tw) + "X" + std::to_string(th) + "_x" +
          std::to_string(col) + "y" + std::to_string(row) + ".tif");
      test::WriteTiff(name, s, part);
      names.push_back(name);
    }
  return names;
}

TEST(TiledInput, MergeOfTiledTiles) {
  // Merge tiles 20 × 18 each (the last column 13, the last row 9), each a
  // tiled file with 16 × 16 tiles of its own, alternately planar.
  for (int bits : {8, 16})
    for (const auto& o : kOutputs) {
      SCOPED_TRACE(testing::Message() << "bits " << bits << " -> " << o.ext
                                      << (o.lzw ? " lzw" : ""));
      TempDir tiles, out;
      const auto rgba = test::MakePixels(53, 45, 4, bits);
      auto list = WriteTiledTiles(tiles, rgba, 53, 45, bits, 20, 18);
      ASSERT_EQ(list.size(), 9u);
      std::shuffle(list.begin(), list.end(), std::mt19937(7));
      TTrelvi engine;
      HookRecorder hooks(engine);
      engine.OutInfo.ImageType = o.type;
      engine.UseLzw = o.lzw;
      engine.MergeTiles(3, 3, list, out.Dir(), "");
      ASSERT_FALSE(engine.Aborted) << testing::PrintToString(hooks.Errors);
      EXPECT_EQ(test::OutputPixels(OutputName(out.Dir(), o, 53, 45), bits),
                test::DropAlpha(rgba, 4, bits));
    }
}

TEST(TiledInput, MergeWithATruncatedTiledTileLeavesNoOutput) {
  TempDir tiles, out;
  const auto rgba = test::MakePixels(40, 36, 4, 8);
  auto list = WriteTiledTiles(tiles, rgba, 40, 36, 8, 20, 18);
  ASSERT_EQ(list.size(), 4u);
  // Tile (2, 2), rewritten with its directory first and cut short.
  fs::remove(list[3]);
  WriteDirectoryFirst(list[3], 20, 18, COMPRESSION_NONE);
  fs::resize_file(list[3], TileOffset(list[3], 2) + 1);
  TTrelvi engine;
  HookRecorder hooks(engine);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.MergeTiles(2, 2, list, out.Dir(), "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Tile X=2 Y=2 read error"});
  EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST(TiledInput, ResizeOfATiledInputEqualsTheStripedOne) {
  // A fast resize cuts the input into temporary tiles through the row
  // reader: the result must not depend on the input's layout.
  const auto pixels = test::MakePixels(25000, 40, 3, 8);
  std::vector<std::uint8_t> results[2];
  for (int tiled : {0, 1}) {
    TempDir in, out;
    const std::string input = in.File("pano.tif");
    test::WriteTiff(
        input, tiled ? Spec(25000, 40, 8, 3, 256, 16) : Spec(25000, 40, 8, 3),
        pixels);
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    engine.InitEngine();
    test::Describe(engine, input);
    ASSERT_TRUE(engine.InInfo.ImageIsOk);
    TResizePipeline pipeline(engine);
    pipeline.PollInterval = std::chrono::milliseconds(1);
    TResizeParams params;
    params.NewW = 2400;
    params.NewH =
        static_cast<std::int32_t>(rules::ResizedHeight(25000, 40, 2400));
    params.FastMethod = true;
    params.OutputFolder = out.Dir();
    params.Output = rules::OutputChoice::Tif;
    pipeline.DoResize(params);
    ASSERT_FALSE(engine.Aborted) << ui.LastText();
    EXPECT_TRUE(hooks.Errors.empty());
    results[tiled] = test::ReadBytes(out.File("pano.tif"));
    EXPECT_FALSE(results[tiled].empty());
  }
  EXPECT_EQ(results[0], results[1]);
}

}  // namespace
}  // namespace trelvi
