#pragma once

// Builds every level of a Deep Zoom pyramid in one pass over the image,
// fed a row at a time. Each level holds only the band of rows its current
// row of tiles needs (tile size + 2 x overlap) and one row waiting for its
// partner in the halving, so memory grows with the width, never the
// height. Finished bands are cut into tiles, which a pool of threads
// encodes and writes; a bounded queue holds the reader back when the
// encoders fall behind.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "operations/pyramid/tile_encoder.h"

namespace trelvi::pyramid {

struct PyramidOptions {
  std::uint64_t Width = 0, Height = 0;
  int Channels = 3;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA; 8 bits each
  std::uint32_t TileSize = 254;
  std::uint32_t Overlap = 1;
  TileEncoding Encoding;
  // The "<name>_files" folder (or the caller's temporary name for it); the
  // level folders are made inside it.
  std::string TilesDir;
  unsigned Threads = 0;  // encoding threads; 0: one per core
};

struct PyramidResult {
  bool Ok = true;
  std::string Error;  // the first failure
};

// 16-bit samples to 8 bits, v / 257 rounded to nearest.
void Convert16To8(const std::uint16_t* in, std::uint8_t* out,
                  std::size_t count);

// The bytes the builder holds for the given image: every level's band and
// halving row, the tiles queued for encoding and the encoders' buffers.
std::uint64_t PyramidMemoryBytes(const PyramidOptions& options);

class PyramidBuilder {
 public:
  explicit PyramidBuilder(PyramidOptions options);
  // Stops the encoders; tiles not yet written are dropped.
  ~PyramidBuilder();
  PyramidBuilder(const PyramidBuilder&) = delete;
  PyramidBuilder& operator=(const PyramidBuilder&) = delete;

  // Checks the options, allocates every buffer, makes the level folders and
  // starts the encoders. False (see Result) on failure.
  bool Start();

  // The next row of the full-size image: Width x Channels bytes. False once
  // anything has failed; the caller stops feeding and reports Result().
  bool PushRow(const std::uint8_t* row);
  // The same without a copy: fill NextRow() (Width x Channels bytes), then
  // CommitRow().
  std::uint8_t* NextRow();
  bool CommitRow();

  // After the last row: waits until every tile is written. The result is
  // a failure if any tile failed or rows are missing.
  PyramidResult Finish();
  // Stops early: drops queued tiles, waits for the encoders to stop and
  // leaves the result a failure ("Cancelled" unless something failed
  // before). The tiles already written stay for the caller to remove.
  void Cancel();

  PyramidResult Result() const;
  const PyramidOptions& Options() const { return options_; }
  std::uint64_t TilesWritten() const;

 private:
  struct Level {
    std::uint64_t Width = 0, Height = 0;
    std::uint64_t Columns = 0, Rows = 0;
    std::size_t RowBytes = 0;
    std::unique_ptr<std::uint8_t[]> Band;     // up to tile + 2 x overlap rows
    std::unique_ptr<std::uint8_t[]> Pending;  // an even row awaiting its pair
    std::uint64_t NextRow = 0;                // rows received so far
    std::uint64_t TileRow = 0;                // the band being filled
    std::uint64_t BandFirst = 0;  // image row held in the band's first slot
    std::uint64_t BandEnd = 0;    // one past the band's last image row
  };
  struct Job {
    int Level = 0;
    std::uint64_t Column = 0, Row = 0;
    std::uint32_t Width = 0, Height = 0;
    std::uint8_t* Pixels = nullptr;
  };

  bool Fail(const std::string& error);
  bool Failed() const;
  void Commit(int level);
  bool EmitBand(int level);
  std::uint8_t* AcquireTileBuffer();
  void Worker();
  void StopWorkers();

  PyramidOptions options_;
  std::string ext_;
  std::vector<Level> levels_;
  bool started_ = false;
  bool finished_ = false;

  std::unique_ptr<std::uint8_t[]> tileMemory_;
  std::size_t tileBytes_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable jobReady_, bufferFree_, idle_;
  std::deque<Job> jobs_;
  std::vector<std::uint8_t*> freeBuffers_;
  unsigned busy_ = 0;
  bool stopping_ = false;
  bool failed_ = false;
  std::atomic<bool> failedFlag_{false};  // read per row without the lock
  std::string error_;
  std::uint64_t written_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace trelvi::pyramid
