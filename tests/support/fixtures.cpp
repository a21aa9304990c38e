#include "support/fixtures.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>

#include "engine/formats/tiff/tiff_access.h"

namespace trelvi::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string tag = info ? std::string(info->name()) : std::string("t");
  for (char& c : tag)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  path_ = fs::temp_directory_path() /
          ("trelvi-" + tag + "-" + std::to_string(rd()) + "-" +
           std::to_string(counter++));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return (path_ / name).string();
}

std::string TempDir::Dir() const { return path_.string() + "/"; }

std::uint16_t SampleAt(std::uint32_t x, std::uint32_t y, int channel,
                       int bits) {
  const std::uint32_t v = x * 7u + y * 13u +
                          static_cast<std::uint32_t>(channel) * 61u +
                          (x * y) % 17u;
  if (bits == 8) return static_cast<std::uint16_t>(v & 0xFF);
  return static_cast<std::uint16_t>(
      (v * 257u + static_cast<std::uint32_t>(channel) * 3u) & 0xFFFF);
}

std::vector<std::uint8_t> MakePixels(std::uint32_t width, std::uint32_t height,
                                     int channels, int bits) {
  const std::size_t bps = static_cast<std::size_t>(bits / 8);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height *
                                channels * bps);
  std::size_t i = 0;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const std::uint16_t v = SampleAt(x, y, c, bits);
        out[i++] = static_cast<std::uint8_t>(v & 0xFF);
        if (bps == 2) out[i++] = static_cast<std::uint8_t>(v >> 8);
      }
  return out;
}

void WriteBytes(const std::string& fileName,
                const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(fileName, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()),
          static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << fileName;
}

std::vector<std::uint8_t> ReadBytes(const std::string& fileName) {
  std::ifstream f(fileName, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteTiff(const std::string& fileName, const TiffSpec& spec) {
  WriteTiff(fileName, spec,
            MakePixels(spec.Width, spec.Height, spec.Channels, spec.Bits));
}

void WriteTiff(const std::string& fileName, const TiffSpec& s,
               const std::vector<std::uint8_t>& pixels) {
  InstallTiffHandlers();
  TIFF* t = TIFFOpen(fileName.c_str(), s.BigTiff ? "w8" : "w");
  ASSERT_NE(t, nullptr) << fileName;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.Width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.Height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.Bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.Channels);
  TIFFSetField(t, TIFFTAG_COMPRESSION, s.Compression);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.Planar);
  int photometric = s.Photometric;
  if (photometric < 0)
    photometric = s.Channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  if (s.Channels == 4 && photometric == PHOTOMETRIC_RGB) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (s.SampleFormat) TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.SampleFormat);

  const std::size_t bytesPerSample =
      s.Bits >= 8 ? static_cast<std::size_t>(s.Bits / 8) : 1;
  const std::size_t pixelBytes = bytesPerSample * s.Channels;
  const std::size_t rowBytes = pixelBytes * s.Width;
  // Samples of the given pixels, for planes and tiles.
  auto sampleBytes = [&](std::uint32_t x, std::uint32_t y, int c) {
    return pixels.data() + y * rowBytes + x * pixelBytes + c * bytesPerSample;
  };

  if (s.TileWidth) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.TileWidth);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.TileHeight);
    const int planes = s.Planar == PLANARCONFIG_SEPARATE ? s.Channels : 1;
    const std::size_t tilePixel =
        s.Planar == PLANARCONFIG_SEPARATE ? bytesPerSample : pixelBytes;
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(s.TileWidth) *
                                   s.TileHeight * tilePixel);
    for (int p = 0; p < planes; ++p)
      for (std::uint32_t ty = 0; ty < s.Height; ty += s.TileHeight)
        for (std::uint32_t tx = 0; tx < s.Width; tx += s.TileWidth) {
          std::fill(tile.begin(), tile.end(), 0);
          for (std::uint32_t y = ty; y < std::min(s.Height, ty + s.TileHeight);
               ++y)
            for (std::uint32_t x = tx; x < std::min(s.Width, tx + s.TileWidth);
                 ++x) {
              std::uint8_t* d =
                  tile.data() + ((y - ty) * s.TileWidth + (x - tx)) * tilePixel;
              if (planes > 1)
                std::memcpy(d, sampleBytes(x, y, p), bytesPerSample);
              else
                std::memcpy(d, sampleBytes(x, y, 0), pixelBytes);
            }
          ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0,
                                  static_cast<uint16_t>(p)),
                    0);
        }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.RowsPerStrip);
    if (s.Bits < 8) {
      // Packed sub-byte samples: content does not matter to the tests.
      std::vector<std::uint8_t> row(TIFFScanlineSize(t), 0x55);
      for (std::uint32_t y = 0; y < s.Height; ++y)
        ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    } else if (s.Planar == PLANARCONFIG_SEPARATE) {
      std::vector<std::uint8_t> row(s.Width * bytesPerSample);
      for (int p = 0; p < s.Channels; ++p)
        for (std::uint32_t y = 0; y < s.Height; ++y) {
          for (std::uint32_t x = 0; x < s.Width; ++x)
            std::memcpy(row.data() + x * bytesPerSample, sampleBytes(x, y, p),
                        bytesPerSample);
          ASSERT_EQ(
              TIFFWriteScanline(t, row.data(), y, static_cast<uint16_t>(p)), 1);
        }
    } else {
      std::vector<std::uint8_t> row(rowBytes);
      for (std::uint32_t y = 0; y < s.Height; ++y) {
        std::memcpy(row.data(), pixels.data() + y * rowBytes, rowBytes);
        ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
      }
    }
  }
  TIFFClose(t);
}

TiffImage ReadTiff(const std::string& fileName) {
  InstallTiffHandlers();
  TiffImage img;
  TIFF* t = TIFFOpen(fileName.c_str(), "r");
  EXPECT_NE(t, nullptr) << fileName;
  if (!t) return img;
  uint16_t bits = 0, spp = 0, comp = 0, planar = 0, photo = 0;
  uint32_t rps = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &img.Width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &img.Height);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
  TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
  TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps);
  img.Bits = bits;
  img.Channels = spp;
  img.Compression = comp;
  img.Planar = planar;
  img.Photometric = photo;
  img.RowsPerStrip = rps;
  img.BigTiff = TIFFIsBigTIFF(t) != 0;
  const std::size_t rowBytes = static_cast<std::size_t>(TIFFScanlineSize64(t));
  img.Pixels.resize(rowBytes * img.Height);
  for (std::uint32_t y = 0; y < img.Height; ++y) {
    EXPECT_EQ(TIFFReadScanline(t, img.Pixels.data() + y * rowBytes, y, 0), 1)
        << fileName << " row " << y;
  }
  TIFFClose(t);
  return img;
}

std::vector<std::uint8_t> DropAlpha(const std::vector<std::uint8_t>& pixels,
                                    int channels, int bits) {
  const std::size_t bps = static_cast<std::size_t>(bits / 8);
  const std::size_t in = channels * bps, out = 3 * bps;
  std::vector<std::uint8_t> result;
  result.reserve(pixels.size() / in * out);
  for (std::size_t i = 0; i + in <= pixels.size(); i += in)
    result.insert(result.end(), pixels.begin() + i, pixels.begin() + i + out);
  return result;
}

std::vector<std::uint8_t> MakeKro(std::uint32_t width, std::uint32_t height,
                                  int bits,
                                  const std::vector<std::uint8_t>& rgbaLsb) {
  std::vector<std::uint8_t> out = {'K', 'R', 'O', 1};
  auto put = [&](std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
  };
  put(width);
  put(height);
  put(static_cast<std::uint32_t>(bits));
  put(4);
  if (bits == 8) {
    out.insert(out.end(), rgbaLsb.begin(), rgbaLsb.end());
  } else {
    for (std::size_t i = 0; i + 1 < rgbaLsb.size(); i += 2) {
      out.push_back(rgbaLsb[i + 1]);
      out.push_back(rgbaLsb[i]);
    }
  }
  return out;
}

}  // namespace trelvi::test
