#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/formats/tiff/tiff_access.h"
#include "engine/trelvi.h"
#include "support/fixtures.h"
#include "support/row_check.h"
#include "support/scripted_ui.h"

// Tiled TIFF inputs arrive row by row in the engine's interleaved layout,
// read one row of tiles at a time, or not at all.
namespace trelvi {
namespace {

using test::ExpectRows;
using test::OpenInput;
using test::ScriptedUi;
using test::TempDir;
using test::TiffSpec;

TiffSpec Tiled(std::uint32_t w, std::uint32_t h, int bits, int channels,
               std::uint32_t tileW, std::uint32_t tileH) {
  TiffSpec s;
  s.Width = w;
  s.Height = h;
  s.Bits = bits;
  s.Channels = channels;
  s.TileWidth = tileW;
  s.TileHeight = tileH;
  return s;
}

std::vector<std::uint32_t> RowsFrom(std::uint32_t first, std::uint32_t end) {
  std::vector<std::uint32_t> rows;
  for (std::uint32_t y = first; y < end; ++y) rows.push_back(y);
  return rows;
}

TEST(TiffTiles, EveryLayoutReadsAsWritten) {
  // Sizes that are not multiples of the tile, one tile larger than the
  // whole image, one exact fit, tiles wider than high and the reverse.
  const struct {
    std::uint32_t w, h, tileW, tileH;
  } geometries[] = {
      {37, 29, 16, 16}, {37, 29, 48, 32}, {64, 48, 16, 16},
      {33, 70, 32, 16}, {50, 9, 16, 48},
  };
  TempDir dir;
  for (const auto& g : geometries)
    for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE})
      for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW})
        for (int bits : {8, 16})
          for (int channels : {3, 4}) {
            SCOPED_TRACE(testing::Message()
                         << g.w << "x" << g.h << " tiles " << g.tileW << "x"
                         << g.tileH << " planar " << planar << " compression "
                         << compression << " bits " << bits << " channels "
                         << channels);
            TiffSpec s = Tiled(g.w, g.h, bits, channels, g.tileW, g.tileH);
            s.Planar = planar;
            s.Compression = compression;
            const std::string path = dir.File("t.tif");
            test::WriteTiff(path, s);
            ExpectRows(path, test::MakePixels(g.w, g.h, channels, bits),
                       RowsFrom(0, g.h));
          }
}

TEST(TiffTiles, TiledFilesAreDescribedLikeStripedOnes) {
  TempDir dir;
  TiffSpec s = Tiled(37, 29, 16, 4, 16, 16);
  s.Planar = PLANARCONFIG_SEPARATE;
  test::WriteTiff(dir.File("t.tif"), s);
  ScriptedUi ui;
  TTrelvi engine(ui);
  engine.InInfo.FileName = dir.File("t.tif");
  engine.ReadInputInfo(false);
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(engine.InInfo.Width, 37u);
  EXPECT_EQ(engine.InInfo.Height, 29u);
  EXPECT_EQ(engine.InInfo.BytesPerPixel, 8);
}

TEST(TiffTiles, ReadingStartsAtAnyRow) {
  // 16-high tiles: a first row inside a band, a band's first row, a band's
  // last row, the last partial band; and a row of an earlier band again.
  TempDir dir;
  for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
    TiffSpec s = Tiled(37, 45, 16, 3, 16, 16);
    s.Planar = planar;
    s.Compression = COMPRESSION_LZW;
    const std::string path = dir.File("t.tif");
    test::WriteTiff(path, s);
    const auto pixels = test::MakePixels(37, 45, 3, 16);
    for (std::uint32_t first : {21u, 16u, 31u, 40u, 44u})
      ExpectRows(path, pixels, RowsFrom(first, 45));
    ExpectRows(path, pixels, {3, 5, 17, 2, 44, 44, 0, 32});
  }
}

TEST(TiffTiles, BigTiffTiledInput) {
  TempDir dir;
  TiffSpec s = Tiled(40, 20, 8, 4, 16, 16);
  s.BigTiff = true;
  test::WriteTiff(dir.File("big.tif"), s);
  ExpectRows(dir.File("big.tif"), test::MakePixels(40, 20, 4, 8),
             RowsFrom(0, 20));
}

TEST(TiffTiles, BigEndianSamplesArriveInMachineOrder) {
  TempDir dir;
  const std::string path = dir.File("be.tif");
  const std::uint32_t w = 20, h = 18;
  {
    InstallTiffHandlers();
    TIFF* t = TIFFOpen(path.c_str(), "wb");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    ASSERT_TRUE(TIFFIsByteSwapped(t));
    std::vector<std::uint16_t> tile(16 * 16 * 3);
    for (std::uint32_t ty = 0; ty < h; ty += 16)
      for (std::uint32_t tx = 0; tx < w; tx += 16) {
        for (std::uint32_t y = 0; y < 16; ++y)
          for (std::uint32_t x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c)
              tile[(y * 16 + x) * 3 + c] =
                  test::SampleAt(tx + x, ty + y, c, 16);
        ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
      }
    TIFFClose(t);
  }
  ExpectRows(path, test::MakePixels(w, h, 3, 16), RowsFrom(0, h));
}

TEST(TiffTiles, JpegYcbcrTilesAreDeliveredAsRgb) {
  // Subsampled chroma makes libtiff's own tile size smaller than an RGB
  // tile unless it is asked to convert; the band must hold RGB tiles.
  TempDir dir;
  const std::string path = dir.File("jpeg.tif");
  const std::uint32_t w = 72, h = 40;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* p = pixels.data() + (y * w + x) * 3;
      p[0] = static_cast<std::uint8_t>(40 + x * 2);
      p[1] = static_cast<std::uint8_t>(200 - y * 3);
      p[2] = 90;
    }
  {
    InstallTiffHandlers();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
    TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 32);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 32);
    std::vector<std::uint8_t> tile(32 * 32 * 3);
    for (std::uint32_t ty = 0; ty < h; ty += 32)
      for (std::uint32_t tx = 0; tx < w; tx += 32) {
        for (std::uint32_t y = 0; y < 32; ++y)
          for (std::uint32_t x = 0; x < 32; ++x) {
            const std::uint32_t sx = std::min(tx + x, w - 1);
            const std::uint32_t sy = std::min(ty + y, h - 1);
            std::memcpy(&tile[(y * 32 + x) * 3], &pixels[(sy * w + sx) * 3], 3);
          }
        ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
      }
    TIFFClose(t);
  }
  ScriptedUi ui;
  TTrelvi engine(ui);
  ASSERT_TRUE(OpenInput(engine, path));
  EXPECT_TRUE(ui.Messages.empty());
  int worst = 0;
  for (std::uint32_t y = 0; y < h; ++y) {
    ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(w * 3)) << y;
    for (std::uint32_t i = 0; i < w * 3; ++i)
      worst = std::max(worst, std::abs(int(engine.InInfo.ScanLine[i]) -
                                       int(pixels[y * w * 3 + i])));
  }
  EXPECT_LE(worst, 8);  // lossy, but RGB and in place
}

TEST(TiffTiles, ARowPastTheEndIsAFailure) {
  TempDir dir;
  test::WriteTiff(dir.File("t.tif"), Tiled(37, 29, 8, 3, 16, 16));
  TTrelvi engine;
  ASSERT_TRUE(OpenInput(engine, dir.File("t.tif")));
  // 29 lies inside the last band's padding, 32 past the last band.
  for (std::uint32_t row : {29u, 32u, UINT32_MAX})
    EXPECT_EQ(engine.ReadLine(row), 0) << row;
  EXPECT_EQ(engine.ReadLine(28), 37 * 3);
}

// The file's header claims what the caller says; the engine's row buffer is
// sized from the description given here.
std::int32_t ReadFirstRow(const std::string& path, std::uint32_t width,
                          std::uint8_t bits, std::uint8_t channels) {
  TTrelvi engine;
  engine.InInfo.FileName = path;
  engine.InInfo.ImageType = FileType::TIF;
  engine.InInfo.Width = width;
  engine.InInfo.Height = 4;
  engine.InInfo.Bits = bits;
  engine.InInfo.Channels = channels;
  engine.InInfo.BytesPerPixel = static_cast<std::uint8_t>(channels * bits / 8);
  engine.InInfo.IsLsb = true;
  engine.InInfo.ImageIsOk = true;
  if (!engine.OpenInFile(path)) return -1;
  return engine.ReadLine(0);
}

TEST(TiffTiles, RowsOfAnotherSizeAreRefused) {
  TempDir dir;
  for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
    TiffSpec s = Tiled(20, 4, 8, 3, 16, 16);
    s.Planar = planar;
    test::WriteTiff(dir.File("t.tif"), s);
    EXPECT_EQ(ReadFirstRow(dir.File("t.tif"), 20, 8, 3), 60) << planar;
    EXPECT_EQ(ReadFirstRow(dir.File("t.tif"), 21, 8, 3), 0) << planar;
    EXPECT_EQ(ReadFirstRow(dir.File("t.tif"), 19, 8, 3), 0) << planar;
    EXPECT_EQ(ReadFirstRow(dir.File("t.tif"), 20, 16, 3), 0) << planar;
    EXPECT_EQ(ReadFirstRow(dir.File("t.tif"), 20, 8, 4), 0) << planar;
  }
}

TEST(TiffTiles, BandSizeArithmetic) {
  constexpr std::uint32_t kMax32 = UINT32_MAX;
  const struct {
    std::uint32_t width, tileW, tileH;
    std::uint64_t pixelBytes, band;
  } cases[] = {
      {37, 16, 16, 3, 48 * 16 * 3},
      {37, 48, 32, 8, 48 * 32 * 8},
      {100000, 256, 256, 3, 100096ull * 256 * 3},
      {100000, 512, 512, 8, 100352ull * 512 * 8},
      {65536, 256, 4096, 4, std::uint64_t{1} << 30},  // exactly the bound
      {65536, 256, 4097, 4, 0},
      {0, 16, 16, 3, 0},
      {37, 0, 16, 3, 0},
      {37, 16, 0, 3, 0},
      {37, 16, 16, 0, 0},
      // Sizes whose products wrap 64 bits unless held back.
      {kMax32, kMax32, kMax32, 8, 0},
      {kMax32, 16, kMax32, 8, 0},
      {1, kMax32, 1, UINT64_MAX, 0},
      {16, 16, 16, UINT64_MAX / 16 + 1, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TileBandBytes(c.width, c.tileW, c.tileH, c.pixelBytes), c.band)
        << c.width << " " << c.tileW << "x" << c.tileH << " " << c.pixelBytes;
}

TEST(TiffTiles, AbsurdTilesAreRefusedBeforeAnythingIsAllocated) {
  // A 40 × 35 image that claims one tile of 2^20 × 2^20 pixels (3 TiB),
  // and no tile data. Reading it must fail without asking for that memory.
  TempDir dir;
  const std::string path = dir.File("absurd.tif");
  {
    InstallTiffHandlers();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 40u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 35u);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 1u << 20);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 1u << 20);
    // The directory goes out without tiles: offsets and counts stay 0.
    ASSERT_EQ(TIFFDeferStrileArrayWriting(t), 1);
    ASSERT_EQ(TIFFWriteCheck(t, 1, "absurd"), 1);
    ASSERT_EQ(TIFFWriteDirectory(t), 1);
    ASSERT_EQ(TIFFSetDirectory(t, 0), 1);
    ASSERT_EQ(TIFFForceStrileArrayWriting(t), 1);
    TIFFClose(t);
  }
  ScriptedUi ui;
  TTrelvi engine(ui);
  ASSERT_TRUE(OpenInput(engine, path));
  EXPECT_EQ(engine.ReadLine(0), 0);
  EXPECT_EQ(engine.ReadLine(1), 0);
  engine.CloseInFile();
  EXPECT_TRUE(ui.Messages.empty());
}

}  // namespace
}  // namespace trelvi
