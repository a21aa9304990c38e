#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace trelvi {

struct ImageMetadata;

// Stored in one byte; the numbering is the one the rest of the program relies
// on.
enum class FileType : std::uint8_t {
  NV = 0,
  KRO4 = 1,
  RAW = 2,
  TIF = 3,
  PSD = 4  // PSD and PSB alike
};

// The array type only gives the row pointer its element type: every row
// buffer is allocated with exactly ScanLineSize bytes, which may be more.
using TScanLine = std::uint8_t[150000];
using PScanLine = std::uint8_t*;

// Description of one image file. Copying it copies the buffer pointer, never
// the buffer: only the engine that allocated a row buffer frees it.
struct TFileInfo {
  std::string FileName;
  std::int64_t FileSize = 0;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t Bits = 0;
  std::uint8_t Channels = 0;
  std::uint8_t BytesPerPixel = 0;
  std::uint32_t ScanLineSize = 0;
  PScanLine ScanLine = nullptr;
  bool IsLsb = false;
  FileType ImageType = FileType::NV;
  std::string ImageTypeDesc;
  bool ImageIsOk = false;
  // What the file carries besides its pixels, read once when it is
  // described; null when it carries nothing (RAW and KRO never do). In an
  // output's descriptor: what the output is to keep. Shared, never changed:
  // the engines of a split's tiles all hold the input's.
  std::shared_ptr<const ImageMetadata> Metadata;
};

}  // namespace trelvi
