#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/psd/psd_format.h"

namespace trelvi::psd {

// What a PsdWriter writes: an RGB composite of three channels, no layers.
struct PsdWriteSpec {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t Depth = 8;  // 8 or 16
  // Resources carried from the input (profile, XMP, IPTC, EXIF, resolution),
  // written in this order. A resolution of 240 pixels per inch is added when
  // there is none; the version information is always the writer's own,
  // saying that the file holds a real merged image.
  std::vector<PsdResource> Resources;
  // Raw (the default) or Rle.
  PsdCompression Compression = PsdCompression::Raw;
  // Empty: ChoosePsdVersion decides.
  std::optional<PsdVersion> Version;
};

// The size of the file written for spec in the given version; for an RLE
// composite the most it can be.
std::uint64_t PsdFileBytes(const PsdWriteSpec& spec, PsdVersion version);

// A PSD when both sides are at most 30000 pixels and the file stays below
// 2 GiB, else a PSB. Depends on the spec's sizes, depth, compression and
// resources only.
PsdVersion ChoosePsdVersion(const PsdWriteSpec& spec);

// ".psd" or ".psb".
const char* PsdExtension(PsdVersion version);

// Writes a PSD or PSB row by row.
//
// Raw composite: the channels are planar, so row y of channel c belongs at
// start + (c * height + y) * planeRow. Each channel collects the rows it is
// given in a buffer of about 1 MiB and writes it with one positioned write
// at its computed place, so the file is written in a few large writes per
// channel without a second pass and in a few megabytes.
//
// RLE composite: the row byte counts must precede the rows, and the size of
// channel 0's rows decides where channel 1 starts. Channel 0 goes straight
// into the file after the space kept for the counts; channels 1 and 2 go to
// unnamed spill files in the output's folder, copied after channel 0 by
// Finish, which then writes the counts (kept in memory: 4 bytes per row and
// channel at most). The cost is writing and reading the compressed channels
// 1 and 2 once more, and that much free space meanwhile.
//
// A file that is not finished, or whose Finish fails, is removed.
class PsdWriter {
 public:
  PsdWriter();
  ~PsdWriter();  // removes the file unless Finish succeeded
  PsdWriter(const PsdWriter&) = delete;
  PsdWriter& operator=(const PsdWriter&) = delete;

  // Creates (or replaces) the file and writes everything before the
  // composite. False, with nothing left behind, when the spec cannot be
  // written (sizes 0 or beyond the version, depth not 8 or 16, a PSD that
  // would not fit its limits) or the file cannot be created.
  bool Create(const std::string& fileName, const PsdWriteSpec& spec);

  PsdVersion Version() const { return version_; }
  // Bytes of one interleaved RGB row given to WriteRow: 8-bit samples, or
  // 16-bit samples least significant byte first.
  std::uint64_t RowBytes() const { return rowBytes_; }

  // Writes the next row (rows come in order from 0). False when the writer
  // is not open, every row was already written, or a write failed; the
  // failure stays.
  bool WriteRow(const std::uint8_t* row);

  // Writes what is buffered, completes and closes the file. True only when
  // every row was given and everything reached the file, closing included;
  // otherwise the file is removed.
  bool Finish();

  // Closes and removes the file.
  void Abort();

 private:
  // Where the rows of one channel go: a file descriptor and the place of
  // the next byte, with a buffer in front.
  struct Sink {
    int Fd = -1;
    bool Spill = false;  // an unnamed spill file, owned by the sink
    std::uint64_t Offset = 0;
    std::uint64_t Written = 0;  // bytes of rows written through the sink
    std::unique_ptr<std::uint8_t[]> Buffer;
    std::size_t Used = 0;
  };

  bool Flush(Sink& sink);
  bool CopySpill(Sink& from, std::uint64_t to);
  void CloseAll();

  std::string fileName_;
  int fd_ = -1;
  bool regularFile_ = false;
  bool failed_ = false;
  PsdVersion version_ = PsdVersion::Psd;
  PsdCompression compression_ = PsdCompression::Raw;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint16_t depth_ = 8;
  std::uint64_t planeBytes_ = 0;
  std::uint64_t rowBytes_ = 0;
  std::uint64_t rowsStart_ = 0;  // after the compression word (and table)
  std::uint64_t tableStart_ = 0;
  std::size_t sinkCapacity_ = 0;
  std::uint32_t nextRow_ = 0;
  Sink sinks_[3];
  std::unique_ptr<std::uint8_t[]> plane_;  // one channel's row, for RLE
  std::vector<std::uint32_t> counts_;      // RLE row byte counts, planar
};

}  // namespace trelvi::psd
