#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct tiff TIFF;

namespace trelvi {

// Opens a TIFF through libtiff after making sure the program's silent
// warning and error handlers are installed; every TIFF open goes through here.
TIFF* OpenTiff(const std::string& fileName, const char* mode);

// Installs the two handlers that discard libtiff's messages. Idempotent.
void InstallTiffHandlers();

// Whether the samples of a TIFF input can be delivered as unsigned RGB(A)
// rows, and why not.
enum class TiffSamples { Rgb, NotUnsigned, NotRgb };

// Examines the sample format and the photometric interpretation of an open
// input. The one interpretation besides RGB that is accepted is YCbCr in an
// interleaved JPEG-compressed file: libtiff is then asked to convert it to
// RGB, which changes the size of its rows, so call this before asking for
// any row size.
TiffSamples PrepareRgbSamples(TIFF* tiff);

// The largest band of tiles a tiled input may need in memory: one row of
// tiles, every sample plane. 1 GiB holds a band of 1024-pixel-high tiles of
// a 100000-pixel-wide 16-bit RGBA image; a header that asks for more (a
// single tile as tall as the image, say) is refused before anything is
// allocated.
inline constexpr std::uint64_t kMaxTileBandBytes = std::uint64_t{1} << 30;

// Bytes of one band of tiles of an image `width` pixels wide: tileHeight
// rows of the width rounded up to whole tiles, pixelBytes bytes per pixel
// over all sample planes. 0 when a size is 0 or the band would exceed
// kMaxTileBandBytes; never overflows, whatever the sizes.
std::uint64_t TileBandBytes(std::uint32_t width, std::uint32_t tileWidth,
                            std::uint32_t tileHeight, std::uint64_t pixelBytes);

// Delivers the rows of an open TIFF input as interleaved samples in the
// layout of the engine's row buffer, whatever the file's own layout: a
// planar-separate file is read plane by plane and interleaved, a tiled file
// one row of tiles at a time. Rows may be asked for from any row on, in
// increasing order.
class TiffRowReader {
 public:
  explicit TiffRowReader(TIFF* tiff);
  ~TiffRowReader();
  TiffRowReader(const TiffRowReader&) = delete;
  TiffRowReader& operator=(const TiffRowReader&) = delete;

  // Reads row into buffer (exactly rowBytes bytes); true on success. Fails,
  // rather than deliver pixels of another layout, when the file's rows are
  // not unsigned RGB(A) samples of 8 or 16 bits that fill exactly rowBytes.
  bool ReadRow(std::uint32_t row, std::uint8_t* buffer, std::uint32_t rowBytes);

 private:
  // One sample plane read row after row through its own handle (an
  // interleaved file has one plane holding every sample). libtiff cannot
  // seek inside a compressed strip, so each plane keeps its own place.
  struct Plane {
    TIFF* Tiff = nullptr;
    bool Owned = false;  // opened here, closed here
    std::uint32_t NextRow = 0;
  };
  bool ReadScanline(Plane& plane, std::uint16_t sample, std::uint32_t row,
                    std::uint8_t* into);
  bool ReadPlanes(std::uint32_t row, std::uint8_t* buffer);
  bool PrepareTiles(std::uint32_t width, std::uint32_t height,
                    std::uint16_t samples, bool separate);
  bool ReadTiledRow(std::uint32_t row, std::uint8_t* buffer);
  bool ReadBand(std::uint32_t band);

  TIFF* tiff_;
  bool usable_ = false;
  std::uint32_t sampleBytes_ = 0;  // 1 or 2
  std::uint32_t rowsPerStrip_ = 1;
  std::uint64_t pixels_ = 0;      // pixels of one row
  std::uint64_t rowBytes_ = 0;    // one interleaved row
  std::uint64_t planeBytes_ = 0;  // one row of one plane
  std::vector<Plane> planes_;
  // One row of one sample plane, for planar-separate files only; allocated
  // once for the open file.
  std::unique_ptr<std::uint8_t[]> plane_;

  // Tiled files: the row of tiles holding the rows being asked for, read
  // whole (a tile is the smallest unit libtiff decodes) and kept until a
  // row of another band is wanted. The band holds its tiles one after the
  // other, plane by plane: tile t of plane s starts at (s * tilesAcross_ + t) *
  // tileBytes_.
  static constexpr std::uint32_t kNoBand = UINT32_MAX;
  bool tiled_ = false;
  std::uint32_t height_ = 0;
  std::uint32_t tileWidth_ = 0;
  std::uint32_t tileHeight_ = 0;
  std::uint32_t tilesAcross_ = 0;
  std::uint16_t bandPlanes_ = 1;    // sample planes in the band
  std::uint64_t tileBytes_ = 0;     // one tile of one plane
  std::uint64_t tileRowBytes_ = 0;  // one row of such a tile
  std::uint32_t loadedBand_ = kNoBand;
  std::unique_ptr<std::uint8_t[]> band_;  // allocated once for the open file
};

}  // namespace trelvi
