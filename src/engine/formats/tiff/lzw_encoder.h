#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace trelvi {

// Compresses one TIFF strip with LZW (compression 5) into exactly the bytes
// libtiff's own encoder writes for it: 9- to 12-bit codes packed most
// significant bit first, the width growing one code early, a Clear code
// first and whenever the table fills or libtiff's periodic compression-ratio
// check finds the ratio no better than at the last check, and EOI last.
//
// One encoder per thread; it keeps its table and scratch buffer between
// strips, so a warmed encoder allocates nothing unless a strip is larger
// than any before it.
class LzwEncoder {
 public:
  LzwEncoder();
  ~LzwEncoder();
  LzwEncoder(const LzwEncoder&) = delete;
  LzwEncoder& operator=(const LzwEncoder&) = delete;

  // The most bytes Encode can write for a strip of n bytes.
  static std::size_t MaxEncodedSize(std::size_t n);

  // Encodes the n bytes at in into dst, which holds at least
  // MaxEncodedSize(n) bytes; returns the strip's size.
  std::size_t Encode(const std::uint8_t* in, std::size_t n, std::uint8_t* dst);

  // The same, replacing the contents of out with the strip.
  std::size_t Encode(const std::uint8_t* in, std::size_t n,
                     std::vector<std::uint8_t>& out);

 private:
  // Open-addressed slots, each ((prefix code << 8 | byte) + 1) << 12 | code;
  // zero is an empty slot.
  std::unique_ptr<std::uint32_t[]> slots_;
  std::unique_ptr<std::uint8_t[]> scratch_;
  std::size_t scratchSize_ = 0;
};

}  // namespace trelvi
