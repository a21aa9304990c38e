#pragma once

#include <cfloat>
#include <cstdint>

#include "resize/imaging/image_data.h"

namespace trelvi {

// The rounding below relies on doubles being evaluated as doubles.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not be widened");

// Sample to float: the exact product rounded once to single precision,
// which is what a float multiplication gives.
inline float ByteToFloat(std::uint8_t b) {
  return static_cast<float>(b) * kByteToFloat;
}
inline float WordToFloat(std::uint16_t w) {
  return static_cast<float>(w) * kWordToFloat;
}

// Rounds to the nearest whole number, ties to even, clamped to 0 .. max
// (a whole number below 2^51). Clamping first gives the same result, the
// bounds being whole numbers.
inline double RoundClamp(double d, double max) {
  if (!(d > 0.0)) return 0.0;  // also NaN
  if (d > max) d = max;
  // Adding 1.5 × 2^52 leaves no fraction bits; the addition rounds in the
  // default nearest-even mode.
  constexpr double kMagic = 6755399441055744.0;
  return (d + kMagic) - kMagic;
}

// value × scale, rounded and clamped. The product of a float and a whole
// number below 2^16 is exact in a double, so there is one rounding only, as
// with extended precision.
inline double ScaleAndClamp(float value, double scale) {
  return RoundClamp(static_cast<double>(value) * scale, scale);
}

inline std::uint8_t FloatToByte(float value) {
  return static_cast<std::uint8_t>(ScaleAndClamp(value, 255.0));
}
inline std::uint16_t FloatToWord(float value) {
  return static_cast<std::uint16_t>(ScaleAndClamp(value, 65535.0));
}

}  // namespace trelvi
