#pragma once

#include <cstdint>
#include <string>

typedef struct tiff TIFF;

namespace trelvi {

// Opens a TIFF through libtiff after making sure the program's silent
// warning and error handlers are installed; every TIFF open goes through here.
TIFF* OpenTiff(const std::string& fileName, const char* mode);

// Installs the two handlers that discard libtiff's messages. Idempotent.
void InstallTiffHandlers();

// Delivers the rows of an open TIFF input as interleaved samples in the
// layout of the engine's row buffer, whatever the file's own layout.
class TiffRowReader {
 public:
  explicit TiffRowReader(TIFF* tiff);
  ~TiffRowReader();
  TiffRowReader(const TiffRowReader&) = delete;
  TiffRowReader& operator=(const TiffRowReader&) = delete;

  // Reads row into buffer (exactly rowBytes bytes); true on success.
  bool ReadRow(std::uint32_t row, std::uint8_t* buffer, std::uint32_t rowBytes);

 private:
  TIFF* tiff_;
};

}  // namespace trelvi
