#include "engine/tiff_access.h"

#include <tiffio.h>

#include <cstdarg>
#include <mutex>

namespace trelvi {

namespace {
void TiffWarningHandler(const char*, const char*, va_list) {}
void TiffErrorHandler(const char*, const char*, va_list) {}
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

TiffRowReader::TiffRowReader(TIFF* tiff) : tiff_(tiff) {}


TiffRowReader::~TiffRowReader() = default;

bool TiffRowReader::ReadRow(std::uint32_t row, std::uint8_t* buffer,
                            std::uint32_t rowBytes) {
  // libtiff writes a whole scanline of the file's own layout; never let it
  // write more than the row buffer holds, whatever the header claims.
  if (static_cast<std::uint64_t>(TIFFScanlineSize64(tiff_)) > rowBytes)
    return false;
  return TIFFReadScanline(tiff_, buffer, row, 0) == 1;
}

}  // namespace trelvi
