#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

typedef struct tiff TIFF;

namespace trelvi {

// Writes a TIFF whose every row is a strip of its own, compressing rows on
// several threads and writing the compressed strips in row order. Each
// worker compresses with a codec of libtiff's own (a private in-memory TIFF
// with the same tags), or for LZW without a predictor with our LzwEncoder,
// which writes the same bytes; either way the file is byte for byte the one
// the single-threaded scanline path writes.
class ParallelStripWriter {
 public:
  // Null when the rows cannot be compressed this way.
  static std::unique_ptr<ParallelStripWriter> Create(TIFF* out, int threads);
  ~ParallelStripWriter();
  ParallelStripWriter(const ParallelStripWriter&) = delete;
  ParallelStripWriter& operator=(const ParallelStripWriter&) = delete;

  // Queues one row (copied); false once any earlier strip failed.
  bool Submit(std::uint32_t row, const std::uint8_t* data);
  // Compresses and writes everything queued; false when anything failed.
  bool Finish();

 private:
  struct Slot;
  struct Worker;
  ParallelStripWriter(TIFF* out, std::size_t rowBytes, int threads);
  void WorkerLoop(Worker& worker);
  // Writes the finished strips that are next in row order; with wait, waits
  // for the next one first.
  void WriteReady(std::unique_lock<std::mutex>& lock, bool wait);

  TIFF* out_;
  std::size_t rowBytes_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable work_;  // a slot was queued, or stop
  std::condition_variable done_;  // a slot was compressed
  std::uint64_t submitted_ = 0;   // rows queued so far
  std::uint64_t written_ = 0;     // rows written so far
  bool stop_ = false;
  bool failed_ = false;
};

// How many threads an LZW TIFF output may use; 1 writes on the caller's
// thread alone. Defaults to the number of processors.
void SetCompressionThreads(int threads);
int CompressionThreads();

}  // namespace trelvi
