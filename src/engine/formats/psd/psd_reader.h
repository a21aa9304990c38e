#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/formats/psd/psd_format.h"

namespace trelvi::psd {

// Why a file was refused, or Ok. Each refusal has a message of its own
// (PsdOpenMessage); CannotOpen and NotPsd have none, as an input that no
// reader recognises has none.
enum class PsdOpenResult {
  Ok,
  CannotOpen,  // no such file, or it cannot be read
  NotPsd,      // no "8BPS" signature of version 1 or 2
  ZeroSize,    // width or height 0
  NotRgb,      // another colour mode, or fewer than 3 channels
  NotEightOrSixteenBits,
  CompressionNotSupported,  // ZIP or an unknown method
  NoMergedImage,  // the version information says there is no real composite
  Damaged,        // a section runs past the end of the file, or a size
                  // beyond what the version allows
};

// The message the program shows for a refusal; empty for Ok, CannotOpen
// and NotPsd.
const char* PsdOpenMessage(PsdOpenResult result);

// The facts of a file's header and composite, filled as far as Open got.
struct PsdInfo {
  PsdVersion Version = PsdVersion::Psd;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t Depth = 0;      // bits per sample
  std::uint16_t Channels = 0;   // in the file, extra channels included
  std::uint16_t ColorMode = 0;  // 3 is RGB
  PsdCompression Compression = PsdCompression::Raw;
  // The fourth channel is the merged transparency, delivered as alpha.
  bool MergedAlpha = false;
  std::int64_t FileSize = 0;

  int RowChannels() const { return MergedAlpha ? 4 : 3; }
  // Bytes of one row as ReadRow delivers it.
  std::uint64_t RowBytes() const {
    return std::uint64_t{Width} * RowChannels() * (Depth / 8);
  }
};

// Reads the composite image of a PSD or PSB, row by row, into the engine's
// interleaved layout: R, G, B (and alpha) per pixel, 8-bit samples or 16-bit
// samples least significant byte first. The file is recognised by its
// content alone. Memory stays a few rows per channel (plus, for an RLE
// composite, the positions of its rows: 8 bytes per row and channel read),
// whatever the image's size.
class PsdReader {
 public:
  PsdReader();
  ~PsdReader();
  PsdReader(const PsdReader&) = delete;
  PsdReader& operator=(const PsdReader&) = delete;

  // Reads and checks the header and the sections before the composite, and
  // keeps the resources worth carrying. On a refusal the file is closed
  // again; Info() tells what had been read.
  PsdOpenResult Open(const std::string& fileName);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  const PsdInfo& Info() const { return info_; }
  // Resolution, alpha names and identifiers, IPTC, ICC profile, version
  // information, EXIF and XMP, in file order, as raw bytes.
  const std::vector<PsdResource>& Resources() const { return resources_; }
  // The first kept resource with this ID, or null.
  const PsdResource* Resource(std::uint16_t id) const;

  // Reads row (any row, in any order; consecutive rows are cheapest) into
  // buffer, which holds Info().RowBytes() bytes. False when the file is not
  // open, the row is outside the image, or the file shows itself truncated
  // or inconsistent at this row.
  bool ReadRow(std::uint32_t row, std::uint8_t* buffer);

 private:
  // A window of the file kept for one channel, refilled by one read when a
  // row falls outside it, so that reading in order costs one system call
  // per several rows of each channel.
  struct Window {
    std::unique_ptr<std::uint8_t[]> Data;
    std::uint64_t Capacity = 0;
    std::uint64_t Start = 0;
    std::uint64_t Size = 0;
  };

  PsdOpenResult ReadSections();
  bool ReadResources(std::uint64_t start, std::uint64_t length,
                     bool& noMergedImage);
  void FindMergedAlpha(std::uint64_t start, std::uint64_t length);
  void PrepareRle();
  const std::uint8_t* Fetch(int channel, std::uint64_t offset,
                            std::uint64_t length);
  bool ReadAt(std::uint64_t offset, void* into, std::uint64_t length);

  int fd_ = -1;
  PsdInfo info_;
  std::vector<PsdResource> resources_;
  std::uint64_t fileSize_ = 0;
  std::uint64_t planeBytes_ = 0;  // one row of one channel, uncompressed
  std::uint64_t rowsStart_ = 0;   // the first row of channel 0
  // Raw: rows are at computed places. RLE: the start of row y of channel c
  // (c below RowChannels()) is rleOffsets_[c * Height + y], its end the
  // next entry.
  std::vector<std::uint64_t> rleOffsets_;
  std::uint64_t maxRowBytes_ = 0;  // largest stored row read
  // Rows from here on fail: the file ends, or is inconsistent, in them.
  std::uint32_t firstBadRow_ = 0;
  std::vector<Window> windows_;
  std::unique_ptr<std::uint8_t[]> plane_;  // one decoded RLE row
};

}  // namespace trelvi::psd
