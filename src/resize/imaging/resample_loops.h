#pragma once

// The pieces the filter loops share: the flat tables, one job's
// description, the per-thread memory and the sample conversions. Used by
// the resampler and by its x86 vector loops, which live in a file of their
// own so that only they are compiled for those instruction sets.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "resize/imaging/pixel_convert.h"
#include "resize/imaging/resample.h"

namespace trelvi::resample_loops {

// The tables laid out flat for the fast loops. The product of a single
// sample and a single weight is exact in extended precision, so adding it
// and rounding once to single precision is a fused multiply-add: that is
// what these loops do, channel by channel, in the same order.
struct FlatTable {
  std::vector<std::int32_t> Start;  // cluster i is [Start[i], Start[i + 1])
  std::vector<std::int32_t> Pos;
  std::vector<float> Weight;
  std::int32_t Longest = 0;

  FlatTable(const TMappingTable& table, std::int32_t posBase) {
    Start.reserve(table.size() + 1);
    Start.push_back(0);
    for (const TCluster& cluster : table) {
      for (const TPointRec& e : cluster) {
        Pos.push_back(e.Pos - posBase);
        Weight.push_back(e.Weight);
      }
      Start.push_back(static_cast<std::int32_t>(Pos.size()));
      Longest = std::max(Longest, static_cast<std::int32_t>(cluster.size()));
    }
  }
};

struct FilterJob {
  const TImageData* Source;
  TImageData* Dest;
  std::int32_t BytesPerSample;  // 1 or 2
  std::int32_t Cmin;
  std::int32_t LineSamples;  // (cmax - cmin + 1) × 3
  const FlatTable* Rows;
  const FlatTable* Columns;  // positions relative to cmin
};

// Per-thread working memory, allocated before the threads start.
struct Scratch {
  std::vector<float> Line;  // 3 floats a pixel and one spare
  std::vector<const std::uint8_t*> Taps;
};

template <typename Sample>
inline float SampleToFloat(Sample s) {
  if constexpr (sizeof(Sample) == 1)
    return ByteToFloat(s);
  else
    return WordToFloat(s);
}

template <typename Sample>
inline void StoreSample(std::uint8_t* p, float v) {
  if constexpr (sizeof(Sample) == 1) {
    *p = FloatToByte(v);
  } else {
    const std::uint16_t w = FloatToWord(v);
    p[0] = static_cast<std::uint8_t>(w & 0xFF);
    p[1] = static_cast<std::uint8_t>(w >> 8);
  }
}

template <typename Sample>
inline Sample LoadSample(const std::uint8_t* p) {
  if constexpr (sizeof(Sample) == 1)
    return *p;
  else
    return static_cast<Sample>(p[0] | (p[1] << 8));
}

// What the vertical pass of destination row y reads and writes: N source
// rows, each through its first used sample and its weight, into the line.
struct TapRow {
  std::int32_t N;
  const std::uint8_t* const* Taps;
  const float* Weights;
  float* Line;
};

// Sets up the tap pointers of destination row y.
inline TapRow PrepareTaps(const FilterJob& job, std::int32_t y,
                          Scratch& scratch) {
  const FlatTable& rows = *job.Rows;
  const std::int32_t begin = rows.Start[static_cast<std::size_t>(y)];
  const std::int32_t n = rows.Start[static_cast<std::size_t>(y) + 1] - begin;
  const std::int64_t rowBytes =
      static_cast<std::int64_t>(job.Source->Width) * 3 * job.BytesPerSample;
  for (std::int32_t k = 0; k < n; ++k)
    scratch.Taps[static_cast<std::size_t>(k)] =
        job.Source->Bits +
        rows.Pos[static_cast<std::size_t>(begin + k)] * rowBytes +
        static_cast<std::int64_t>(job.Cmin) * 3 * job.BytesPerSample;
  return {n, scratch.Taps.data(), rows.Weight.data() + begin,
          scratch.Line.data()};
}

#if defined(__x86_64__)
// What this processor has, found once.
bool CpuHasAvx2();    // AVX2 and FMA
bool CpuHasAvx512();  // AVX-512F

// One destination row: the vertical pass with AVX-512 (wide) or AVX2, then
// the horizontal pass with AVX2. Only for a processor that has them.
template <typename Sample>
void FilterRowX86(const FilterJob& job, std::int32_t y, Scratch& scratch,
                  bool wide);
extern template void FilterRowX86<std::uint8_t>(const FilterJob&, std::int32_t,
                                                Scratch&, bool);
extern template void FilterRowX86<std::uint16_t>(const FilterJob&, std::int32_t,
                                                 Scratch&, bool);
#endif

}  // namespace trelvi::resample_loops
