// Writes a photo-like RGB image as a headerless RAW file for the benchmark:
// smooth gradients, hard edges and a little noise, so that LZW shrinks it
// about as much as it shrinks a photograph.
//
//   bench_make_image WIDTH HEIGHT BITS OUT.raw
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT 8|16 OUT.raw\n", argv[0]);
    return 2;
  }
  const long w = std::atol(argv[1]), h = std::atol(argv[2]);
  const int bits = std::atoi(argv[3]);
  if (w <= 0 || h <= 0 || (bits != 8 && bits != 16)) return 2;
  std::FILE* f = std::fopen(argv[4], "wb");
  if (!f) return 1;
  const int bps = bits / 8;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3 * bps);
  std::uint32_t seed = 12345;
  for (long y = 0; y < h; ++y) {
    const double fy = static_cast<double>(y) / h;
    for (long x = 0; x < w; ++x) {
      const double fx = static_cast<double>(x) / w;
      // Sky-like gradient, a few soft waves, and hard-edged blocks.
      double r = 60 + 150 * fx + 20 * std::sin(fy * 17 + fx * 5);
      double g = 90 + 100 * fy + 25 * std::sin(fx * 23);
      double b = 200 - 120 * fy + 15 * std::cos((fx + fy) * 31);
      if (((x / 2500) * 7 + (y / 1700) * 3) % 5 == 0) {
        r *= 0.45;
        g *= 0.5;
        b *= 0.4;
      }
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<double>((seed >> 28) & 3) - 1.5;
      const double v[3] = {r + noise, g + noise, b + noise};
      for (int c = 0; c < 3; ++c) {
        double s = v[c] < 0 ? 0 : (v[c] > 255 ? 255 : v[c]);
        std::uint8_t* p =
            row.data() + (static_cast<std::size_t>(x) * 3 + c) * bps;
        if (bps == 1) {
          p[0] = static_cast<std::uint8_t>(s);
        } else {
          const auto s16 =
              static_cast<std::uint16_t>(s * 257 + ((seed >> 20) & 63));
          p[0] = static_cast<std::uint8_t>(s16 & 0xFF);
          p[1] = static_cast<std::uint8_t>(s16 >> 8);
        }
      }
    }
    if (std::fwrite(row.data(), 1, row.size(), f) != row.size()) return 1;
  }
  return std::fclose(f) == 0 ? 0 : 1;
}
