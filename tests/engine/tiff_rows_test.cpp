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

// Rows of TIFF inputs in every layout the header check lets through arrive
// in the engine's interleaved layout, or not at all.
namespace trelvi {
namespace {

using test::ExpectRows;
using test::OpenInput;
using test::ScriptedUi;
using test::TempDir;
using test::TiffSpec;

TiffSpec Spec(std::uint32_t w, std::uint32_t h, int bits, int channels) {
  TiffSpec s;
  s.Width = w;
  s.Height = h;
  s.Bits = bits;
  s.Channels = channels;
  return s;
}

TEST(TiffRows, InterleavedFilesReadAsWritten) {
  TempDir dir;
  for (int bits : {8, 16})
    for (int channels : {3, 4}) {
      TiffSpec s = Spec(13, 6, bits, channels);
      const std::string path = dir.File("c.tif");
      test::WriteTiff(path, s);
      ExpectRows(path, test::MakePixels(13, 6, channels, bits));
    }
}

TEST(TiffRows, PlanarFilesAreInterleaved) {
  TempDir dir;
  for (int bits : {8, 16})
    for (int channels : {3, 4}) {
      TiffSpec s = Spec(13, 6, bits, channels);
      s.Planar = PLANARCONFIG_SEPARATE;
      const std::string path = dir.File("p.tif");
      test::WriteTiff(path, s);
      ExpectRows(path, test::MakePixels(13, 6, channels, bits));
    }
}

TEST(TiffRows, PlanarFilesAreDescribedLikeInterleavedOnes) {
  TempDir dir;
  TiffSpec s = Spec(13, 6, 16, 4);
  s.Planar = PLANARCONFIG_SEPARATE;
  test::WriteTiff(dir.File("p.tif"), s);
  ScriptedUi ui;
  TTrelvi engine(ui);
  engine.InInfo.FileName = dir.File("p.tif");
  engine.ReadInputInfo(false);
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.Channels, 4);
  EXPECT_EQ(engine.InInfo.BytesPerPixel, 8);
}

TEST(TiffRows, CompressedStripsFromAnyFirstRow) {
  // Several rows per LZW strip, which libtiff cannot seek into: reading
  // starts inside a strip, as a crop does, and the planes of a planar file
  // take turns row after row.
  TempDir dir;
  for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE})
    for (int bits : {8, 16}) {
      TiffSpec s = Spec(21, 20, bits, 3);
      s.Planar = planar;
      s.Compression = COMPRESSION_LZW;
      s.RowsPerStrip = 7;
      const std::string path = dir.File("lzw.tif");
      test::WriteTiff(path, s);
      const auto pixels = test::MakePixels(21, 20, 3, bits);
      ExpectRows(path, pixels, 0);
      ExpectRows(path, pixels, 9);
      ExpectRows(path, pixels, 14);  // a strip's first row
    }
}

TEST(TiffRows, SkippedRowsAndRereadRows) {
  TempDir dir;
  TiffSpec s = Spec(10, 30, 8, 4);
  s.Planar = PLANARCONFIG_SEPARATE;
  s.Compression = COMPRESSION_LZW;
  s.RowsPerStrip = 8;
  const std::string path = dir.File("lzw.tif");
  test::WriteTiff(path, s);
  const auto pixels = test::MakePixels(10, 30, 4, 8);
  TTrelvi engine;
  ASSERT_TRUE(OpenInput(engine, path));
  const std::uint32_t rowBytes = engine.InInfo.ScanLineSize;
  for (std::uint32_t y : {3u, 5u, 6u, 17u, 2u, 29u, 29u}) {
    ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(rowBytes)) << y;
    EXPECT_EQ(std::memcmp(engine.InInfo.ScanLine, pixels.data() + y * rowBytes,
                          rowBytes),
              0)
        << y;
  }
}

TEST(TiffRows, BigEndianPlanarSamplesArriveInMachineOrder) {
  TempDir dir;
  const std::string path = dir.File("be.tif");
  const std::uint32_t w = 11, h = 5;
  const auto pixels = test::MakePixels(w, h, 3, 16);
  {
    InstallTiffHandlers();
    TIFF* t = TIFFOpen(path.c_str(), "wb");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
    ASSERT_TRUE(TIFFIsByteSwapped(t));
    std::vector<std::uint16_t> plane(w);
    for (std::uint16_t c = 0; c < 3; ++c)
      for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x)
          plane[x] = test::SampleAt(x, y, c, 16);
        ASSERT_EQ(TIFFWriteScanline(t, plane.data(), y, c), 1);
      }
    TIFFClose(t);
  }
  ExpectRows(path, pixels);
}

// A JPEG-compressed YCbCr TIFF of a smooth picture; libtiff turns the RGB
// rows into YCbCr when writing.
std::vector<std::uint8_t> WriteJpegYcbcr(const std::string& path,
                                         std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* p =
          pixels.data() + (static_cast<std::size_t>(y) * w + x) * 3;
      p[0] = static_cast<std::uint8_t>(40 + x * 4);
      p[1] = static_cast<std::uint8_t>(200 - y * 3);
      p[2] = 90;
    }
  InstallTiffHandlers();
  TIFF* t = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(t, nullptr);
  if (!t) return pixels;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
  TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
  TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
  for (std::uint32_t y = 0; y < h; ++y)
    EXPECT_EQ(TIFFWriteScanline(
                  t, pixels.data() + static_cast<std::size_t>(y) * w * 3, y, 0),
              1);
  TIFFClose(t);
  return pixels;
}

TEST(TiffRows, JpegYcbcrIsDeliveredAsRgb) {
  TempDir dir;
  const std::string path = dir.File("jpeg.tif");
  const std::uint32_t w = 48, h = 40;
  const auto pixels = WriteJpegYcbcr(path, w, h);

  ScriptedUi ui;
  TTrelvi engine(ui);
  ASSERT_TRUE(OpenInput(engine, path));
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(engine.InInfo.Channels, 3);
  EXPECT_EQ(engine.InInfo.BytesPerPixel, 3);
  int worst = 0;
  for (std::uint32_t y = 0; y < h; ++y) {
    ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(w * 3)) << y;
    for (std::uint32_t i = 0; i < w * 3; ++i)
      worst = std::max(worst, std::abs(int(engine.InInfo.ScanLine[i]) -
                                       int(pixels[y * w * 3 + i])));
  }
  // Lossy, but RGB: YCbCr samples or subsampled rows would be far off.
  EXPECT_LE(worst, 8);
}

// Inputs described by hand, past the header check: the row reader refuses
// them itself instead of delivering another layout.
struct HandDescribed {
  std::uint32_t Width;
  std::uint8_t Bits, Channels;
};

std::int32_t ReadFirstRow(const std::string& path, HandDescribed d) {
  TTrelvi engine;
  engine.InInfo.FileName = path;
  engine.InInfo.ImageType = FileType::TIF;
  engine.InInfo.Width = d.Width;
  engine.InInfo.Height = 4;
  engine.InInfo.Bits = d.Bits;
  engine.InInfo.Channels = d.Channels;
  engine.InInfo.BytesPerPixel =
      static_cast<std::uint8_t>(d.Channels * d.Bits / 8);
  engine.InInfo.IsLsb = true;
  engine.InInfo.ImageIsOk = true;
  if (!engine.OpenInFile(path)) return -1;
  return engine.ReadLine(0);
}

TEST(TiffRows, TheReaderRefusesOtherLayoutsByItself) {
  TempDir dir;
  TiffSpec ycbcr = Spec(8, 4, 8, 3);
  ycbcr.Photometric = PHOTOMETRIC_YCBCR;
  test::WriteTiff(dir.File("ycbcr.tif"), ycbcr);
  EXPECT_EQ(ReadFirstRow(dir.File("ycbcr.tif"), {8, 8, 3}), 0);

  TiffSpec signedSamples = Spec(8, 4, 16, 3);
  signedSamples.SampleFormat = SAMPLEFORMAT_INT;
  test::WriteTiff(dir.File("signed.tif"), signedSamples);
  EXPECT_EQ(ReadFirstRow(dir.File("signed.tif"), {8, 16, 3}), 0);

  TiffSpec cmyk = Spec(8, 4, 8, 4);
  cmyk.Photometric = PHOTOMETRIC_SEPARATED;
  test::WriteTiff(dir.File("cmyk.tif"), cmyk);
  EXPECT_EQ(ReadFirstRow(dir.File("cmyk.tif"), {8, 8, 4}), 0);
}

TEST(TiffRows, RowsOfAnotherSizeAreRefused) {
  // A row of the file that would fill only part of the buffer, or more than
  // all of it, is not delivered.
  TempDir dir;
  for (int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
    TiffSpec s = Spec(8, 4, 8, 3);
    s.Planar = planar;
    test::WriteTiff(dir.File("rgb.tif"), s);
    EXPECT_EQ(ReadFirstRow(dir.File("rgb.tif"), {8, 8, 3}), 24) << planar;
    EXPECT_EQ(ReadFirstRow(dir.File("rgb.tif"), {9, 8, 3}), 0) << planar;
    EXPECT_EQ(ReadFirstRow(dir.File("rgb.tif"), {7, 8, 3}), 0) << planar;
  }
}

TEST(TiffRows, ARowPastTheEndIsAFailure) {
  TempDir dir;
  TiffSpec s = Spec(8, 4, 8, 3);
  s.Planar = PLANARCONFIG_SEPARATE;
  test::WriteTiff(dir.File("p.tif"), s);
  TTrelvi engine;
  ASSERT_TRUE(OpenInput(engine, dir.File("p.tif")));
  EXPECT_EQ(engine.ReadLine(4), 0);
}

}  // namespace
}  // namespace trelvi
