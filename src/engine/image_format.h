#pragma once

// The two halves of a format unit: a reader that delivers the rows of an
// input and a writer that takes the rows of an output. The engine chooses
// one of each when it opens an input or creates an output and then talks to
// it through these interfaces alone; everything a format knows (its header,
// its library, its compression) stays inside its unit.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_info.h"
#include "engine/image_metadata.h"

namespace trelvi {

class UiServices;

// The end of an output: whether every row and every structure the format
// needs after them reached the disk. An incomplete file is not a valid file.
struct [[nodiscard]] FinishResult {
  bool Complete = false;
};

// Delivers the rows of one open input.
class ImageReader {
 public:
  virtual ~ImageReader() = default;

  // Reads row `row` (0-based) into buffer, which holds rowBytes bytes: the
  // row laid out as the input's descriptor says. Rows may be asked for in
  // any order a format allows (see the unit); asking in increasing order is
  // always allowed and is the cheap case. The result is the number of bytes
  // of the row the file held: rowBytes for a whole row, fewer for a row cut
  // short by the end of the file, 0 when nothing could be read. Bytes the
  // file did not hold are set to 0 (black).
  [[nodiscard]] virtual std::uint32_t ReadRow(std::uint32_t row,
                                              std::uint8_t* buffer,
                                              std::uint32_t rowBytes) = 0;

  // Blocks the input carries for an output to keep; null when none.
  virtual const ImageMetadata* Metadata() const { return nullptr; }
};

// The lossless codec of an output whose format offers one; a codec is
// offered by the formats that write it and ignored by the others.
enum class Compression : std::uint8_t { None, Lzw, Deflate, Zstd };

// How a new output file is to be written. Fields a format does not know are
// ignored by it.
struct WriterOptions {
  std::string FileName;
  // Layout of the rows handed to WriteRow: the descriptor after
  // CreateOutFile set channels, depth and byte order.
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t Bits = 0;
  std::uint8_t Channels = 0;
  std::uint32_t RowBytes = 0;
  Compression Codec = Compression::None;
  // Horizontal differencing before the codec, for the codecs that gain
  // from it (Deflate, ZSTD).
  bool Predictor = false;
  // The codec's level; 0 is the codec's default.
  int Level = 0;
  // The larger flavour of a format with a size limit (TIFF: BigTIFF), as
  // the format's output-name rule chose it.
  bool Large = false;
  // Blocks to store along with the pixels; null when none.
  const ImageMetadata* Metadata = nullptr;
};

// Takes the rows of one output being created, in increasing row order.
class ImageWriter {
 public:
  virtual ~ImageWriter() = default;

  // Writes one whole row of RowBytes bytes; false when it did not reach the
  // file in full (every later row then fails too).
  [[nodiscard]] virtual bool WriteRow(std::uint32_t row,
                                      const std::uint8_t* data) = 0;

  // Writes what the format needs after the rows and closes the file. Called
  // once; a writer destroyed without it closes the file as it stands.
  virtual FinishResult Finish() = 0;
};

// The row layout a format gives its outputs, whatever the input's: bytes
// per pixel follow from the channels and the input's depth.
struct OutputLayout {
  std::uint8_t Channels = 3;
  bool IsLsb = true;
};

// What an output-name rule knows of the output to be written.
struct OutputRequest {
  std::string BaseName;          // the caller's name, without extension
  std::uint64_t PixelBytes = 0;  // width × height × bytes per pixel, held
  // What the output's metadata adds at most (MetadataBytes), held; 0 when
  // it keeps none.
  std::uint64_t MetadataBytes = 0;
  Compression Codec = Compression::None;
  bool ForceLarge = false;  // the caller needs the larger flavour
  // The output's sizes and depth, for formats whose limits are per side.
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t Bits = 0;
  // Blocks the output will store, for formats that count them in their
  // limits; null when none.
  const ImageMetadata* Metadata = nullptr;
};

// The name an output gets and whether it is the larger flavour.
struct OutputName {
  std::string FileName;
  bool Large = false;
};

}  // namespace trelvi
