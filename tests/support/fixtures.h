#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace trelvi::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Full path of a file in the folder.
  std::string File(const std::string& name) const;
  // The folder with a trailing separator, as the operations take it.
  std::string Dir() const;

 private:
  std::filesystem::path path_;
};

// Deterministic sample values: each pixel differs from its neighbours and
// each channel from the others, so misplaced or swapped samples show.
std::uint16_t SampleAt(std::uint32_t x, std::uint32_t y, int channel, int bits);

// Interleaved pixels of a width × height image with the given layout;
// 16-bit samples least significant byte first. Alpha, when present, follows
// SampleAt as well.
std::vector<std::uint8_t> MakePixels(std::uint32_t width, std::uint32_t height,
                                     int channels, int bits);

void WriteBytes(const std::string& fileName,
                const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& fileName);

struct TiffSpec {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  int Bits = 8;
  int Channels = 3;
  int Compression = 1;   // COMPRESSION_NONE
  int Photometric = -1;  // -1: RGB for 3 or 4 channels, black-is-zero else
  int Planar = 1;        // PLANARCONFIG_CONTIG
  int SampleFormat = 0;  // 0: tag not written
  std::uint32_t RowsPerStrip = 1;
  std::uint32_t TileWidth = 0;  // non-zero: a tiled file
  std::uint32_t TileHeight = 0;
  bool BigTiff = false;
};

// Writes a TIFF with libtiff holding MakePixels(spec) (or the given pixels,
// interleaved, 16-bit least significant byte first).
void WriteTiff(const std::string& fileName, const TiffSpec& spec,
               const std::vector<std::uint8_t>& pixels);
void WriteTiff(const std::string& fileName, const TiffSpec& spec);

// Reads any RGB(A) TIFF that libtiff reads by scanline into interleaved
// bytes (16-bit samples in native order). Fails the test on any error.
struct TiffImage {
  std::uint32_t Width = 0, Height = 0;
  int Bits = 0, Channels = 0, Compression = 0, Planar = 0, Photometric = 0;
  std::uint32_t RowsPerStrip = 0;
  bool BigTiff = false;
  std::vector<std::uint8_t> Pixels;
};
TiffImage ReadTiff(const std::string& fileName);

// The first 3 channels of interleaved pixels with `channels` samples each.
std::vector<std::uint8_t> DropAlpha(const std::vector<std::uint8_t>& pixels,
                                    int channels, int bits);

// KRO file bytes: header and rows, 16-bit samples most significant first,
// from least-significant-first interleaved 4-channel pixels.
std::vector<std::uint8_t> MakeKro(std::uint32_t width, std::uint32_t height,
                                  int bits,
                                  const std::vector<std::uint8_t>& rgbaLsb);

}  // namespace trelvi::test
