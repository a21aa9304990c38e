#include "engine/formats/psd/psd_rle.h"

#include <cstring>

namespace trelvi::psd {

bool UnpackBitsRow(const std::uint8_t* in, std::size_t inSize,
                   std::uint8_t* out, std::size_t outSize) {
  std::size_t i = 0;
  std::size_t o = 0;
  while (o < outSize) {
    if (i >= inSize) return false;
    const int n = static_cast<std::int8_t>(in[i++]);
    if (n >= 0) {
      const std::size_t count = static_cast<std::size_t>(n) + 1;
      if (count > inSize - i || count > outSize - o) return false;
      std::memcpy(out + o, in + i, count);
      i += count;
      o += count;
    } else if (n != -128) {
      const std::size_t count = static_cast<std::size_t>(1 - n);
      if (i >= inSize || count > outSize - o) return false;
      std::memset(out + o, in[i++], count);
      o += count;
    }
  }
  for (; i < inSize; ++i)
    if (in[i] != 0x80) return false;
  return true;
}

std::size_t PackBitsRow(const std::uint8_t* in, std::size_t n,
                        std::uint8_t* out) {
  std::size_t o = 0;
  std::size_t i = 0;
  std::size_t literalStart = 0;  // start of the pending literal bytes
  auto flushLiterals = [&](std::size_t end) {
    while (literalStart < end) {
      const std::size_t count =
          end - literalStart < 128 ? end - literalStart : 128;
      out[o++] = static_cast<std::uint8_t>(count - 1);
      std::memcpy(out + o, in + literalStart, count);
      o += count;
      literalStart += count;
    }
  };
  while (i < n) {
    std::size_t run = 1;
    while (i + run < n && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      flushLiterals(i);
      out[o++] = static_cast<std::uint8_t>(257 - run);  // -(run - 1)
      out[o++] = in[i];
      i += run;
      literalStart = i;
    } else {
      i += run;
    }
  }
  flushLiterals(n);
  return o;
}

}  // namespace trelvi::psd
