#include "engine/tiff_access.h"

#include <tiffio.h>

#include <cstdarg>
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

}  // namespace trelvi
