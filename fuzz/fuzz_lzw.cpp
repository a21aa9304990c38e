// Our LZW strip encoder against libtiff's on arbitrary strips: the bytes
// must be libtiff's, and libtiff must decode them back to the strip.
//
// Byte 0: bit 0 picks 8- or 16-bit samples (libtiff sees the same bytes
// either way, but the strip must hold whole samples); bits 1-7 a repeat
// count, so that short inputs still reach table resets and the ratio check
// (every 10000 bytes). The rest, repeated, is the strip.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../tests/support/lzw_reference.h"
#include "engine/formats/tiff/lzw_encoder.h"
#include "fuzz_common.h"

using namespace trelvi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const int bits = (data[0] & 1) ? 16 : 8;
  const std::size_t repeats = 1 + (data[0] >> 1);
  std::vector<std::uint8_t> strip;
  strip.reserve((size - 1) * repeats);
  for (std::size_t r = 0; r < repeats; ++r)
    strip.insert(strip.end(), data + 1, data + size);
  if (bits == 16 && strip.size() % 2 != 0) strip.pop_back();
  if (strip.empty() || strip.size() > (1u << 22)) return 0;

  static LzwEncoder encoder;  // reused, as a strip writer's worker does
  std::vector<std::uint8_t> ours;
  if (encoder.Encode(strip.data(), strip.size(), ours) != ours.size())
    fuzz::Fail("returned size differs from the strip's");
  if (ours.size() + 8 > LzwEncoder::MaxEncodedSize(strip.size()))
    fuzz::Fail("strip larger than the bound");
  const auto reference =
      test::LibtiffLzwStrip(strip.data(), strip.size(), bits);
  if (reference.empty()) fuzz::Fail("libtiff could not encode the strip");
  if (ours != reference) fuzz::Fail("bytes differ from libtiff's");
  if (test::LibtiffLzwDecode(ours, strip.size(), bits) != strip)
    fuzz::Fail("libtiff decodes something else");
  return 0;
}
