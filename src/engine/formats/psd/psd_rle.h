#pragma once

#include <cstddef>
#include <cstdint>

// PackBits, the run-length code of the large-document format's RLE
// composite: each row of each channel is coded on its own.
namespace trelvi::psd {

// The most bytes PackBitsRow writes for a row of n bytes: literal runs of
// 128 bytes with one header byte each.
constexpr std::uint64_t PackBitsBound(std::uint64_t n) {
  return n + (n + 127) / 128;
}

// Decodes one coded row into exactly outSize bytes. False when the code
// would write past outSize, reads past inSize, leaves the row short, or has
// anything but no-op bytes (-128) left over once the row is full: a row
// whose code does not match its length is a damaged row, never a guess.
bool UnpackBitsRow(const std::uint8_t* in, std::size_t inSize,
                   std::uint8_t* out, std::size_t outSize);

// Codes n bytes into out, which holds at least PackBitsBound(n) bytes;
// returns the number of bytes written. Runs of three or more equal bytes
// become repeats, the rest literals, as the format's own writers do.
std::size_t PackBitsRow(const std::uint8_t* in, std::size_t n,
                        std::uint8_t* out);

}  // namespace trelvi::psd
