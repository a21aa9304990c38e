#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "resize/imaging/resample.h"

namespace trelvi {

// Resizes one RAW tile on a thread of its own: reads it whole, scales it by
// Divider and writes the result, named with its new size and the tile's
// grid position, into the output folder (the source's folder unless Init
// names another). The driver creates it, calls Init, Start, polls
// Finished, then reads Error and OutFileName. It never touches a window or
// an engine.
class TRawResize {
 public:
  TRawResize() = default;
  // Waits for a started thread: a worker always runs to the end of its tile.
  ~TRawResize();
  TRawResize(const TRawResize&) = delete;
  TRawResize& operator=(const TRawResize&) = delete;

  // Bits: 8 for three-byte pixels, 16 for three 16-bit samples. OutFolder:
  // where the result goes, with its trailing separator; empty: beside the
  // source.
  void Init(const std::string& inFile, long double aDivider, bool fast,
            int bits = 8, const std::string& outFolder = std::string());
  // Raises std::system_error when no thread can be started.
  void Start();
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  void WaitFor();

  // Written before Start, read afterwards.
  bool FastMethod = false;
  std::string SrcFileName;
  long double Divider = 1.0L;
  int Bits = 8;
  std::string OutFolder;
  // Written by the worker; read only once Finished() is true.
  std::string OutFileName;
  bool Error = false;

  // Options of the in-memory scaling (threads inside the tile).
  TScaleOptions ScaleOptions;

 private:
  void Execute();
  // The work itself; raises on any failure, which Execute turns into Error.
  void ResizeTile();

  std::thread thread_;
  std::atomic<bool> finished_{false};
};

// Length / divider rounded to the nearest whole number, ties to even, in
// extended precision. -1 when the result does not fit 32 bits or the
// divider is not a positive number.
std::int64_t ResizedLength(std::uint32_t length, long double divider);

}  // namespace trelvi
