#include "engine/formats/tiff/tiff_access.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>

namespace trelvi {

namespace {
void TiffWarningHandler(const char*, const char*, va_list) {}
void TiffErrorHandler(const char*, const char*, va_list) {}

// Spreads one plane's row of samples over the interleaved row: sample s of
// every pixel, `stride` bytes apart.
template <std::size_t Bytes>
void Interleave(const std::uint8_t* plane, std::uint8_t* row,
                std::uint64_t pixels, std::size_t stride) {
  for (std::uint64_t x = 0; x < pixels; ++x) {
    for (std::size_t b = 0; b < Bytes; ++b) row[b] = plane[b];
    plane += Bytes;
    row += stride;
  }
}
}  // namespace

void InstallTiffHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetWarningHandler(TiffWarningHandler);
    TIFFSetErrorHandler(TiffErrorHandler);
  });
}

TIFF* OpenTiff(const std::string& fileName, const char* mode) {
  InstallTiffHandlers();
  return TIFFOpen(fileName.c_str(), mode);
}

TiffSamples PrepareRgbSamples(TIFF* tiff) {
  std::uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  if (format != SAMPLEFORMAT_UINT) return TiffSamples::NotUnsigned;

  // A file without the tag says nothing of its colours: not RGB either.
  std::uint16_t photometric = 0;
  if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
    return TiffSamples::NotRgb;
  if (photometric == PHOTOMETRIC_RGB) return TiffSamples::Rgb;

  // libtiff converts JPEG's YCbCr to RGB when asked, but only for
  // interleaved samples.
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG &&
      planar == PLANARCONFIG_CONTIG &&
      TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 1)
    return TiffSamples::Rgb;
  return TiffSamples::NotRgb;
}

std::uint64_t TileBandBytes(std::uint32_t width, std::uint32_t tileWidth,
                            std::uint32_t tileHeight,
                            std::uint64_t pixelBytes) {
  if (width == 0 || tileWidth == 0 || tileHeight == 0 || pixelBytes == 0)
    return 0;
  // The rounded width stays below 2^33, and each further product is held
  // against the bound by a division before it is formed, so no step wraps.
  const std::uint64_t tiles =
      (std::uint64_t{width} + tileWidth - 1) / tileWidth;
  const std::uint64_t pixels = tiles * tileWidth;
  if (pixelBytes > kMaxTileBandBytes / pixels) return 0;
  const std::uint64_t rowBytes = pixels * pixelBytes;
  if (tileHeight > kMaxTileBandBytes / rowBytes) return 0;
  return rowBytes * tileHeight;
}

TiffRowReader::TiffRowReader(TIFF* tiff) : tiff_(tiff) {
  if (!tiff_ || PrepareRgbSamples(tiff_) != TiffSamples::Rgb) return;
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
  if (TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
      TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, &height) != 1 ||
      TIFFGetField(tiff_, TIFFTAG_BITSPERSAMPLE, &bits) != 1 ||
      TIFFGetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples) != 1 ||
      (bits != 8 && bits != 16) || samples == 0 || width == 0 || height == 0)
    return;
  TIFFGetFieldDefaulted(tiff_, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff_, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip_);
  if (rowsPerStrip_ == 0 || rowsPerStrip_ > height) rowsPerStrip_ = height;

  sampleBytes_ = bits / 8;
  pixels_ = width;
  planeBytes_ = pixels_ * sampleBytes_;
  rowBytes_ = planeBytes_ * samples;
  const bool separate = planar == PLANARCONFIG_SEPARATE;
  if (TIFFIsTiled(tiff_)) {
    usable_ = PrepareTiles(width, height, samples, separate);
    return;
  }
  // What libtiff delivers per call must be exactly the row the engine
  // expects, or one plane of it; anything else is another layout.
  const auto delivered = static_cast<std::uint64_t>(TIFFScanlineSize64(tiff_));
  if (delivered != (separate ? planeBytes_ : rowBytes_)) return;

  planes_.push_back({tiff_, false, 0});
  if (separate) {
    plane_.reset(new (std::nothrow) std::uint8_t[planeBytes_]);
    if (!plane_) return;
    // The other planes get handles of their own, opened like the engine's
    // input handle: without memory mapping.
    const char* name = TIFFFileName(tiff_);
    for (std::uint16_t s = 1; s < samples; ++s) {
      TIFF* other = OpenTiff(name, "rm");
      if (!other) return;
      planes_.push_back({other, true, 0});
    }
  }
  usable_ = true;
}

TiffRowReader::~TiffRowReader() {
  for (const Plane& plane : planes_)
    if (plane.Owned) TIFFClose(plane.Tiff);
}

bool TiffRowReader::ReadRow(std::uint32_t row, std::uint8_t* buffer,
                            std::uint32_t rowBytes) {
  if (!usable_ || rowBytes != rowBytes_) return false;
  if (tiled_) return ReadTiledRow(row, buffer);
  // libtiff writes a whole scanline of the file's own layout; never let it
  // write more than the buffer it is given holds, whatever the header claims.
  const std::uint64_t target = planes_.size() > 1 ? planeBytes_ : rowBytes_;
  if (static_cast<std::uint64_t>(TIFFScanlineSize64(tiff_)) > target)
    return false;
  if (planes_.size() > 1) return ReadPlanes(row, buffer);
  return ReadScanline(planes_[0], 0, row, buffer);
}

bool TiffRowReader::ReadScanline(Plane& plane, std::uint16_t sample,
                                 std::uint32_t row, std::uint8_t* into) {
  // A compressed strip is decoded from its start: a row further on (the
  // first row of a crop, say) is reached by reading the rows before it.
  const std::uint32_t stripStart = row - row % rowsPerStrip_;
  std::uint32_t next = plane.NextRow >= stripStart && plane.NextRow <= row
                           ? plane.NextRow
                           : stripStart;
  plane.NextRow = UINT32_MAX;  // unknown until this read succeeds
  for (; next <= row; ++next)
    if (TIFFReadScanline(plane.Tiff, into, next, sample) != 1) return false;
  plane.NextRow = row + 1;
  return true;
}

bool TiffRowReader::ReadPlanes(std::uint32_t row, std::uint8_t* buffer) {
  const std::size_t stride = planes_.size() * sampleBytes_;
  for (std::size_t s = 0; s < planes_.size(); ++s) {
    if (!ReadScanline(planes_[s], static_cast<std::uint16_t>(s), row,
                      plane_.get()))
      return false;
    std::uint8_t* first = buffer + s * sampleBytes_;
    if (sampleBytes_ == 1)
      Interleave<1>(plane_.get(), first, pixels_, stride);
    else
      Interleave<2>(plane_.get(), first, pixels_, stride);
  }
  return true;
}

bool TiffRowReader::PrepareTiles(std::uint32_t width, std::uint32_t height,
                                 std::uint16_t samples, bool separate) {
  std::uint32_t tileWidth = 0, tileHeight = 0, depth = 1;
  if (TIFFGetField(tiff_, TIFFTAG_TILEWIDTH, &tileWidth) != 1 ||
      TIFFGetField(tiff_, TIFFTAG_TILELENGTH, &tileHeight) != 1)
    return false;
  // A stack of images in one file: its first slice alone would be delivered.
  TIFFGetFieldDefaulted(tiff_, TIFFTAG_IMAGEDEPTH, &depth);
  if (depth != 1) return false;

  // The band size is settled, and absurd tiles refused, before anything is
  // allocated or read.
  const std::uint64_t pixelBytes = std::uint64_t{samples} * sampleBytes_;
  const std::uint64_t bandBytes =
      TileBandBytes(width, tileWidth, tileHeight, pixelBytes);
  if (bandBytes == 0) return false;
  height_ = height;
  tileWidth_ = tileWidth;
  tileHeight_ = tileHeight;
  tilesAcross_ = static_cast<std::uint32_t>(
      (std::uint64_t{width} + tileWidth - 1) / tileWidth);
  bandPlanes_ = separate ? samples : 1;
  tileRowBytes_ =
      std::uint64_t{tileWidth} * (separate ? sampleBytes_ : pixelBytes);
  tileBytes_ = tileRowBytes_ * tileHeight;
  // What libtiff decodes per tile must be exactly such a tile, or a tile
  // read would fill its place in the band only in part or overrun it:
  // anything else (subsampled chroma, deeper tiles) is another layout.
  if (static_cast<std::uint64_t>(TIFFTileSize64(tiff_)) != tileBytes_ ||
      tileBytes_ * tilesAcross_ * bandPlanes_ != bandBytes)
    return false;
  band_.reset(new (std::nothrow) std::uint8_t[bandBytes]);
  if (!band_) return false;
  tiled_ = true;
  return true;
}

bool TiffRowReader::ReadBand(std::uint32_t band) {
  loadedBand_ = kNoBand;  // a band read in part holds nothing to serve
  const std::uint32_t top = band * tileHeight_;
  std::uint8_t* into = band_.get();
  for (std::uint16_t s = 0; s < bandPlanes_; ++s)
    for (std::uint32_t t = 0; t < tilesAcross_; ++t, into += tileBytes_) {
      const std::uint32_t tile =
          TIFFComputeTile(tiff_, t * tileWidth_, top, 0, s);
      // The size given is the tile's place in the band: libtiff never
      // decodes more than that into it. A short tile (a truncated or
      // damaged file) is a failure, not a tile padded with old pixels.
      if (TIFFReadEncodedTile(tiff_, tile, into,
                              static_cast<tmsize_t>(tileBytes_)) !=
          static_cast<tmsize_t>(tileBytes_))
        return false;
    }
  loadedBand_ = band;
  return true;
}

bool TiffRowReader::ReadTiledRow(std::uint32_t row, std::uint8_t* buffer) {
  if (row >= height_) return false;
  const std::uint32_t band = row / tileHeight_;
  if (band != loadedBand_ && !ReadBand(band)) return false;

  // Tile t supplies pixels t * tileWidth_ on, as many as the row still has:
  // the padding of the last tile of the band is never copied.
  const std::size_t pixelBytes = static_cast<std::size_t>(rowBytes_ / pixels_);
  const std::uint8_t* tile =
      band_.get() +
      static_cast<std::size_t>((row % tileHeight_) * tileRowBytes_);
  for (std::uint16_t s = 0; s < bandPlanes_; ++s) {
    for (std::uint32_t t = 0; t < tilesAcross_; ++t, tile += tileBytes_) {
      const std::uint64_t first = std::uint64_t{t} * tileWidth_;
      const std::uint64_t count =
          std::min<std::uint64_t>(tileWidth_, pixels_ - first);
      std::uint8_t* into =
          buffer + static_cast<std::size_t>(first) * pixelBytes;
      if (bandPlanes_ == 1)
        std::memcpy(into, tile, static_cast<std::size_t>(count) * pixelBytes);
      else if (sampleBytes_ == 1)
        Interleave<1>(tile, into + s, count, pixelBytes);
      else
        Interleave<2>(tile, into + 2 * s, count, pixelBytes);
    }
  }
  return true;
}

}  // namespace trelvi
