#include "engine/formats/tiff/lzw_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "support/lzw_reference.h"

namespace trelvi {
namespace {

using test::LibtiffLzwDecode;
using test::LibtiffLzwStrip;

enum class Pattern { Random, Uniform, Gradient, Photo };

const char* Name(Pattern p) {
  switch (p) {
    case Pattern::Random:
      return "random";
    case Pattern::Uniform:
      return "uniform";
    case Pattern::Gradient:
      return "gradient";
    case Pattern::Photo:
      return "photo";
  }
  return "?";
}

// A row of `pixels` RGB pixels with `bits`-bit samples, 16-bit samples least
// significant byte first, as libtiff holds them on this machine.
std::vector<std::uint8_t> MakeRow(Pattern p, std::size_t pixels, int bits,
                                  unsigned seed) {
  const std::size_t samples = pixels * 3;
  const std::uint32_t maxValue = bits == 8 ? 255 : 65535;
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> row(samples * (bits / 8));
  double walk[3] = {0.3, 0.5, 0.7};
  for (std::size_t i = 0; i < samples; ++i) {
    const int ch = static_cast<int>(i % 3);
    const double x = static_cast<double>(i / 3);
    double v = 0;  // 0 .. 1
    switch (p) {
      case Pattern::Random:
        v = std::uniform_real_distribution<double>(0, 1)(rng);
        break;
      case Pattern::Uniform:
        v = 0.25 + 0.25 * ch;
        break;
      case Pattern::Gradient:
        v = std::fmod(x * (1 + ch) / 4096.0, 1.0);
        break;
      case Pattern::Photo: {
        // A slowly wandering tone with texture and sensor noise.
        walk[ch] += std::normal_distribution<double>(0, 0.002)(rng);
        walk[ch] = std::clamp(walk[ch], 0.05, 0.95);
        const double texture = 0.03 * std::sin(x / (7.0 + ch));
        const double noise = std::normal_distribution<double>(0, 0.006)(rng);
        v = std::clamp(walk[ch] + texture + noise, 0.0, 1.0);
        break;
      }
    }
    const auto s = static_cast<std::uint32_t>(std::lround(v * maxValue));
    if (bits == 8) {
      row[i] = static_cast<std::uint8_t>(s);
    } else {
      row[2 * i] = static_cast<std::uint8_t>(s & 0xFF);
      row[2 * i + 1] = static_cast<std::uint8_t>(s >> 8);
    }
  }
  return row;
}

// What a decoder sees in a strip: the Clears, split by whether the table
// was full, and whether EOI closes it after every byte was read.
struct StreamShape {
  int Codes = 0;
  int FullClears = 0;   // the table had reached its last code
  int RatioClears = 0;  // any other Clear after the first code
  bool ClearBeforeEoi = false;
  bool EndsWithEoi = false;
};

StreamShape ReadShape(const std::vector<std::uint8_t>& strip) {
  StreamShape shape;
  std::size_t bitPos = 0;
  unsigned width = 9;
  std::uint32_t next = 258;
  bool afterClear = false;
  bool lastWasClear = false;
  while (bitPos + width <= strip.size() * 8) {
    std::uint32_t code = 0;
    for (unsigned b = 0; b < width; ++b, ++bitPos)
      code = (code << 1) | ((strip[bitPos / 8] >> (7 - bitPos % 8)) & 1);
    ++shape.Codes;
    if (code == 257) {
      shape.EndsWithEoi = (strip.size() * 8 - bitPos) < 8;
      shape.ClearBeforeEoi = lastWasClear;
      break;
    }
    lastWasClear = code == 256;
    if (code == 256) {
      if (shape.Codes > 1) {
        if (next >= 4093)
          ++shape.FullClears;
        else
          ++shape.RatioClears;
      }
      width = 9;
      next = 258;
      afterClear = true;
      continue;
    }
    // The decoder adds a string for every code but the first after a Clear
    // and widens its codes one entry early.
    if (!afterClear) ++next;
    afterClear = false;
    if (next + 1 >= (1u << width) && width < 12) ++width;
  }
  return shape;
}

// Ours against libtiff's, byte for byte, and decoded back by libtiff.
void ExpectLibtiffBytes(LzwEncoder& encoder,
                        const std::vector<std::uint8_t>& row, int bits,
                        std::vector<std::uint8_t>* ours = nullptr) {
  std::vector<std::uint8_t> strip;
  const std::size_t size = encoder.Encode(row.data(), row.size(), strip);
  ASSERT_EQ(size, strip.size());
  ASSERT_LE(size, LzwEncoder::MaxEncodedSize(row.size()) - 8);
  const auto reference = LibtiffLzwStrip(row.data(), row.size(), bits);
  ASSERT_FALSE(reference.empty());
  if (strip != reference) {
    std::size_t at = 0;
    while (at < std::min(strip.size(), reference.size()) &&
           strip[at] == reference[at])
      ++at;
    FAIL() << row.size() << " bytes: ours " << strip.size() << " bytes, "
           << "libtiff's " << reference.size() << ", first difference at byte "
           << at;
  }
  EXPECT_EQ(LibtiffLzwDecode(strip, row.size(), bits), row);
  if (ours) *ours = std::move(strip);
}

TEST(LzwEncoder, SameBytesAsLibtiffForEveryKindOfRow) {
  const std::size_t widths[] = {1,    2,    3,    255,  256,   4093,
                                4094, 4095, 4096, 4097, 10000, 100000};
  LzwEncoder encoder;  // one encoder throughout, as a worker uses it
  for (int bits : {8, 16})
    for (Pattern p :
         {Pattern::Random, Pattern::Uniform, Pattern::Gradient, Pattern::Photo})
      for (std::size_t w : widths) {
        SCOPED_TRACE(std::string(Name(p)) + " " + std::to_string(bits) +
                     "-bit, " + std::to_string(w) + " px");
        ExpectLibtiffBytes(encoder, MakeRow(p, w, bits, 7 + w), bits);
      }
}

TEST(LzwEncoder, SameBytesAsLibtiffForEveryStripLength) {
  // Every ending: in the middle of a string, right after a wider code, the
  // last string filling the table (a Clear between it and EOI).
  const auto random = MakeRow(Pattern::Random, 2600, 8, 1);
  LzwEncoder encoder;
  bool sawClearBeforeEoi = false;
  for (std::size_t n = 1; n <= random.size(); ++n) {
    SCOPED_TRACE(n);
    const std::vector<std::uint8_t> row(random.begin(), random.begin() + n);
    std::vector<std::uint8_t> strip;
    ExpectLibtiffBytes(encoder, row, 8, &strip);
    if (HasFatalFailure()) return;
    sawClearBeforeEoi |= ReadShape(strip).ClearBeforeEoi;
  }
  EXPECT_TRUE(sawClearBeforeEoi);
}

TEST(LzwEncoder, TableResetsAndRatioClearsAsLibtiff) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> row;
    bool fullClears, ratioClears;
  };
  auto joined = [](std::vector<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const std::vector<std::uint8_t> flat(30000, 9);
  const Case cases[] = {
      // Noise fills the table every few thousand bytes.
      {"noise", MakeRow(Pattern::Random, 200000, 8, 3), true, false},
      // Flat, then noise: at the next check the ratio has fallen.
      {"flat then noise", joined({flat, MakeRow(Pattern::Random, 20000, 8, 4)}),
       false, true},
      // Alternating, so that checks land before and after table resets.
      {"flat and noise alternating",
       joined({flat, MakeRow(Pattern::Random, 30000, 8, 5), flat,
               MakeRow(Pattern::Random, 12000, 8, 6), flat, flat,
               MakeRow(Pattern::Photo, 40000, 8, 7)}),
       true, true},
      {"photo, 16-bit", MakeRow(Pattern::Photo, 60000, 16, 8), true, false},
  };
  LzwEncoder encoder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> strip;
    ExpectLibtiffBytes(encoder, c.row, 8, &strip);
    const StreamShape shape = ReadShape(strip);
    EXPECT_TRUE(shape.EndsWithEoi);
    if (c.fullClears) {
      EXPECT_GE(shape.FullClears, 2);
    }
    if (c.ratioClears) {
      EXPECT_GE(shape.RatioClears, 1);
    }
  }
}

// A row of runs of different character: flat, noise over a few values or
// all of them, photographic, at lengths around the ratio check's spacing,
// so that checks fall before and after table resets and the ratio both
// improves and worsens between them.
std::vector<std::uint8_t> MixedRow(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> row;
  const int runs = 2 + static_cast<int>(rng() % 6);
  for (int r = 0; r < runs; ++r) {
    const std::size_t length = 500 + rng() % 40000;
    const unsigned kind = rng() % 4;
    if (kind == 0) {
      row.insert(row.end(), length, static_cast<std::uint8_t>(rng()));
    } else if (kind == 3) {
      const auto photo = MakeRow(Pattern::Photo, length / 3 + 1, 8, rng());
      row.insert(row.end(), photo.begin(), photo.end());
    } else {
      const unsigned values = kind == 1 ? 2u << (rng() % 5) : 256u;
      for (std::size_t i = 0; i < length; ++i)
        row.push_back(static_cast<std::uint8_t>(rng() % values));
    }
  }
  return row;
}

TEST(LzwEncoder, SameBytesAsLibtiffForMixedRows) {
  LzwEncoder encoder;
  int ratioClears = 0;
  for (unsigned seed = 0; seed < 60; ++seed) {
    SCOPED_TRACE(seed);
    std::vector<std::uint8_t> strip;
    ExpectLibtiffBytes(encoder, MixedRow(seed), 8, &strip);
    if (HasFatalFailure()) return;
    ratioClears += ReadShape(strip).RatioClears;
  }
  EXPECT_GE(ratioClears, 10);
}

// Noise over all values for `noise` bytes (ending in table resets), then
// 10000 bytes of noise over two values, then the same with a byte over all
// values once in `every`: the ratio barely moves between two checks.
std::vector<std::uint8_t> StallingRow(std::size_t noise, unsigned every,
                                      unsigned seed) {
  std::mt19937 rng(seed);
  const std::size_t from = noise + 10000;
  std::vector<std::uint8_t> row(from + 30000);
  for (std::size_t i = 0; i < row.size(); ++i) {
    const unsigned r = rng();
    const bool wide = i < noise || (i >= from && r % every == 0);
    row[i] = static_cast<std::uint8_t>(wide ? r >> 8 : r & 1);
  }
  return row;
}

TEST(LzwEncoder, RatioCheckAtItsEdgesAsLibtiff) {
  // Found by encoding variants of the ratio rule: in each, one check lands
  // where a slightly different rule decides the other way.
  struct Case {
    const char* what;
    std::size_t noise;
    unsigned every, seed;
  } const cases[] = {
      {"ratio equal to the last: a Clear", 0, 99, 7},
      {"ratio equal to the last, again", 0, 104, 7},
      {"ratio within the rounding of 24.8 fixed point", 0, 121, 1},
      {"the same, elsewhere", 0, 122, 7},
      {"output counted from the Clear, which counts", 8000, 65, 3},
      {"the same, elsewhere", 8000, 69, 5},
  };
  LzwEncoder encoder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectLibtiffBytes(encoder, StallingRow(c.noise, c.every, c.seed), 8);
  }
}

}  // namespace
}  // namespace trelvi
