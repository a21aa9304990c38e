#include "resize/imaging/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "resize/imaging/pixel_convert.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace trelvi {

// Weights are worked out in extended precision (long double is the 80-bit
// format on x86-64) and every value is rounded to single precision where
// it is stored, so the tables do not depend on how the compiler keeps
// intermediate values.
using Ext = long double;

namespace {

constexpr Ext kPi = 3.141592653589793238462643383279502884L;

float Sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const float t = static_cast<float>(kPi * x);
  return static_cast<float>(std::sin(static_cast<Ext>(t)) / t);
}

std::int64_t FloorOf(float v) {
  return static_cast<std::int64_t>(std::floor(v));
}
std::int64_t CeilOf(float v) { return static_cast<std::int64_t>(std::ceil(v)); }

std::int32_t Clamp(std::int64_t j, std::int32_t length) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(j, 0, static_cast<std::int64_t>(length) - 1));
}

}  // namespace

float LanczosKernel(float x) {
  x = std::fabs(x);
  if (x >= 3.0f) return 0.0f;
  const float third = static_cast<float>(static_cast<Ext>(x) / 3.0L);
  return static_cast<float>(static_cast<Ext>(Sinc(x)) * Sinc(third));
}

float TentKernel(float x) {
  x = std::fabs(x);
  if (x < 1.0f) return static_cast<float>(1.0L - x);
  return 0.0f;
}

float CatmullRomKernel(float x) {
  const Ext a = std::fabs(static_cast<Ext>(x));
  const Ext x2 = static_cast<Ext>(x) * x;
  if (a < 1.0L) return static_cast<float>(((3.0L * a - 5.0L) * x2 + 2.0L) / 2);
  if (a < 2.0L)
    return static_cast<float>(((a * (5.0L - a) - 8.0L) * a + 4.0L) / 2);
  return 0.0f;
}

const TFilterKernel& GetFilterKernel(TResizeFilter filter) {
  static constexpr TFilterKernel kBilinear{TentKernel, 1.0f};
  static constexpr TFilterKernel kBicubic{CatmullRomKernel, 2.0f};
  static constexpr TFilterKernel kLanczos{LanczosKernel, 3.0f};
  switch (filter) {
    case rfBilinear:
      return kBilinear;
    case rfBicubic:
      return kBicubic;
    case rfLanczos:
      return kLanczos;
    default:
      throw TImagingError("Unknown resampling filter.");
  }
}

TMappingTable BuildContributions(std::int32_t sourceLength,
                                 std::int32_t destLength,
                                 TFilterFunction kernel, float radius) {
  TMappingTable table;
  if (sourceLength <= 0 || destLength <= 0) return table;
  table.resize(static_cast<std::size_t>(destLength));
  if (sourceLength == 1) {
    for (auto& cluster : table) cluster.push_back({0, 1.0f});
    return table;
  }

  const float scale =
      static_cast<float>(static_cast<Ext>(destLength) / sourceLength);
  // Widens one cluster's total back to exactly 1 through its middle entry.
  auto balance = [](TCluster& cluster, float sum) {
    if (sum == 0.0f) return;
    TPointRec& middle = cluster[(cluster.size() - 1) / 2];
    middle.Weight = static_cast<float>(static_cast<Ext>(middle.Weight) - sum);
  };

  if (scale < 1.0f) {
    const float support = static_cast<float>(static_cast<Ext>(radius) / scale);
    for (std::int32_t i = 0; i < destLength; ++i) {
      TCluster& cluster = table[static_cast<std::size_t>(i)];
      const float center =
          static_cast<float>(-0.5L + (static_cast<Ext>(i) + 0.5L) / scale);
      const std::int64_t left =
          FloorOf(static_cast<float>(static_cast<Ext>(center) - support));
      const std::int64_t right =
          CeilOf(static_cast<float>(static_cast<Ext>(center) + support));
      cluster.reserve(static_cast<std::size_t>(right - left + 1));
      float sum = -1.0f;
      for (std::int64_t j = left; j <= right; ++j) {
        const float arg = static_cast<float>(
            (static_cast<Ext>(center) - static_cast<Ext>(j)) * scale);
        const float weight =
            static_cast<float>(static_cast<Ext>(kernel(arg)) * scale);
        if (weight != 0.0f) {
          sum = static_cast<float>(static_cast<Ext>(sum) + weight);
          cluster.push_back({Clamp(j, sourceLength), weight});
        }
      }
      if (cluster.empty())
        cluster.push_back({Clamp(FloorOf(center), sourceLength), 1.0f});
      else
        balance(cluster, sum);
    }
  } else {
    const float step = static_cast<float>(1.0L / scale);
    for (std::int32_t i = 0; i < destLength; ++i) {
      TCluster& cluster = table[static_cast<std::size_t>(i)];
      const float center =
          static_cast<float>(-0.5L + (static_cast<Ext>(i) + 0.5L) * step);
      const std::int64_t left =
          FloorOf(static_cast<float>(static_cast<Ext>(center) - radius));
      const std::int64_t right =
          CeilOf(static_cast<float>(static_cast<Ext>(center) + radius));
      cluster.reserve(static_cast<std::size_t>(right - left + 1));
      float sum = -1.0f;
      for (std::int64_t j = left; j <= right; ++j) {
        const float weight = kernel(
            static_cast<float>(static_cast<Ext>(center) - static_cast<Ext>(j)));
        if (weight != 0.0f) {
          sum = static_cast<float>(static_cast<Ext>(sum) + weight);
          cluster.push_back({Clamp(j, sourceLength), weight});
        }
      }
      if (!cluster.empty()) balance(cluster, sum);
    }
  }
  return table;
}

// ---------------------------------------------------------------------------
// Running rows on several threads

namespace {

int ThreadCount(const TScaleOptions& options, std::int32_t rows) {
  int n = options.Threads;
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  n = std::max(n, 1);
  return static_cast<int>(std::min<std::int64_t>(n, std::max(rows, 1)));
}

// Calls body(first, last, worker) over [0, rows) in small runs handed out
// in turn. Each destination row depends only on the source, so the split
// never changes a result. The caller's thread is worker 0; a thread that
// cannot be started leaves its share to the others.
template <typename Body>
void ForEachRowRun(std::int32_t rows, int threads, Body&& body) {
  constexpr std::int32_t kRun = 4;
  std::atomic<std::int32_t> next{0};
  auto work = [&](int worker) {
    for (;;) {
      const std::int32_t first = next.fetch_add(kRun);
      if (first >= rows) return;
      body(first, std::min(rows, first + kRun), worker);
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
  for (int t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work, t);
    } catch (const std::system_error&) {
      break;
    }
  }
  work(0);
  for (auto& thread : pool) thread.join();
}

const TImageFormatInfo& CheckedFormat(const TImageData& source,
                                      const TImageData& dest) {
  if (!IsImageValid(source) || !IsImageValid(dest) ||
      source.Format != dest.Format)
    throw TImagingError("Invalid source or destination image.");
  return *GetFormatInfo(source.Format);
}

}  // namespace

// ---------------------------------------------------------------------------
// Nearest neighbour

void ScaleNearest(const TImageData& source, TImageData& dest,
                  const TScaleOptions& options) {
  const TImageFormatInfo& format = CheckedFormat(source, dest);
  const std::int64_t bpp = format.BytesPerPixel;
  // 16.16 fixed point, in 64 bits so that sources of 32768 pixels and more
  // do not overflow.
  const std::int64_t xStep =
      (static_cast<std::int64_t>(source.Width) << 16) / dest.Width;
  const std::int64_t yStep =
      (static_cast<std::int64_t>(source.Height) << 16) / dest.Height;
  std::vector<std::int64_t> columnOffset(static_cast<std::size_t>(dest.Width));
  std::int64_t acc = 0;
  for (auto& offset : columnOffset) {
    offset = (acc >> 16) * bpp;
    acc += xStep;
  }
  const std::int64_t srcRowBytes = source.Width * bpp;
  const std::int64_t dstRowBytes = dest.Width * bpp;
  // Copying is cheap: unless told otherwise, a thread is only added for
  // every few million pixels.
  const std::int64_t pixels =
      static_cast<std::int64_t>(dest.Width) * dest.Height;
  int threads = options.Reference ? 1 : ThreadCount(options, dest.Height);
  if (options.Threads <= 0)
    threads = std::min<int>(threads, static_cast<int>(std::min<std::int64_t>(
                                         64, 1 + pixels / (4 << 20))));
  ForEachRowRun(
      dest.Height, threads, [&](std::int32_t first, std::int32_t last, int) {
        for (std::int32_t r = first; r < last; ++r) {
          const std::uint8_t* src =
              source.Bits + ((r * yStep) >> 16) * srcRowBytes;
          std::uint8_t* dst = dest.Bits + r * dstRowBytes;
          if (bpp == 3) {
            for (const std::int64_t offset : columnOffset) {
              std::memcpy(dst, src + offset, 3);
              dst += 3;
            }
          } else {
            for (const std::int64_t offset : columnOffset) {
              std::memcpy(dst, src + offset, static_cast<std::size_t>(bpp));
              dst += bpp;
            }
          }
        }
      });
}

// ---------------------------------------------------------------------------
// Filtered scaling

namespace {

// The reference loop: pixel by pixel through the format's conversions, four
// accumulators, each rounded to single precision after every addition of a
// product formed in extended precision.
void ScaleFilteredReference(const TImageData& source, TImageData& dest,
                            const TImageFormatInfo& format,
                            const TMappingTable& columns,
                            const TMappingTable& rows, std::int32_t cmin,
                            std::int32_t cmax) {
  const std::int64_t bpp = format.BytesPerPixel;
  std::vector<TColorFPRec> line(static_cast<std::size_t>(cmax - cmin + 1));
  auto add = [](float& acc, float sample, float weight) {
    acc = static_cast<float>(static_cast<Ext>(acc) +
                             static_cast<Ext>(sample) * weight);
  };
  for (std::int32_t y = 0; y < dest.Height; ++y) {
    const TCluster& rowCluster = rows[static_cast<std::size_t>(y)];
    for (std::int32_t x = cmin; x <= cmax; ++x) {
      TColorFPRec acc{0.0f, 0.0f, 0.0f, 0.0f};
      for (const TPointRec& e : rowCluster) {
        const TColorFPRec c = format.GetPixelFP(
            source.Bits +
            (static_cast<std::int64_t>(e.Pos) * source.Width + x) * bpp);
        add(acc.B, c.B, e.Weight);
        add(acc.G, c.G, e.Weight);
        add(acc.R, c.R, e.Weight);
        add(acc.A, c.A, e.Weight);
      }
      line[static_cast<std::size_t>(x - cmin)] = acc;
    }
    for (std::int32_t i = 0; i < dest.Width; ++i) {
      TColorFPRec acc{0.0f, 0.0f, 0.0f, 0.0f};
      for (const TPointRec& e : columns[static_cast<std::size_t>(i)]) {
        const TColorFPRec& c = line[static_cast<std::size_t>(e.Pos - cmin)];
        add(acc.B, c.B, e.Weight);
        add(acc.G, c.G, e.Weight);
        add(acc.R, c.R, e.Weight);
        add(acc.A, c.A, e.Weight);
      }
      format.SetPixelFP(
          dest.Bits + (static_cast<std::int64_t>(y) * dest.Width + i) * bpp,
          acc);
    }
  }
}

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
float SampleToFloat(Sample s) {
  if constexpr (sizeof(Sample) == 1)
    return ByteToFloat(s);
  else
    return WordToFloat(s);
}

template <typename Sample>
void StoreSample(std::uint8_t* p, float v) {
  if constexpr (sizeof(Sample) == 1) {
    *p = FloatToByte(v);
  } else {
    const std::uint16_t w = FloatToWord(v);
    p[0] = static_cast<std::uint8_t>(w & 0xFF);
    p[1] = static_cast<std::uint8_t>(w >> 8);
  }
}

template <typename Sample>
Sample LoadSample(const std::uint8_t* p) {
  if constexpr (sizeof(Sample) == 1)
    return *p;
  else
    return static_cast<Sample>(p[0] | (p[1] << 8));
}

// Sets up the tap pointers of destination row y: the first sample used of
// each source row.
std::int32_t PrepareTaps(const FilterJob& job, std::int32_t y,
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
  return n;
}

template <typename Sample>
void VerticalPortable(const FilterJob& job, std::int32_t y, Scratch& scratch) {
  const std::int32_t n = PrepareTaps(job, y, scratch);
  const float* weights =
      job.Rows->Weight.data() + job.Rows->Start[static_cast<std::size_t>(y)];
  constexpr std::int32_t kChunk = 64;
  float acc[kChunk];
  for (std::int32_t t0 = 0; t0 < job.LineSamples; t0 += kChunk) {
    const std::int32_t m = std::min(kChunk, job.LineSamples - t0);
    std::fill(acc, acc + m, 0.0f);
    for (std::int32_t k = 0; k < n; ++k) {
      const std::uint8_t* p =
          scratch.Taps[static_cast<std::size_t>(k)] + t0 * sizeof(Sample);
      const float w = weights[k];
      for (std::int32_t j = 0; j < m; ++j)
        acc[j] =
            std::fma(SampleToFloat(LoadSample<Sample>(p + j * sizeof(Sample))),
                     w, acc[j]);
    }
    std::copy(acc, acc + m, scratch.Line.data() + t0);
  }
}

template <typename Sample>
void HorizontalPortable(const FilterJob& job, std::int32_t y,
                        const Scratch& scratch) {
  const FlatTable& cols = *job.Columns;
  const float* line = scratch.Line.data();
  std::uint8_t* out = job.Dest->Bits + static_cast<std::int64_t>(y) *
                                           job.Dest->Width * 3 *
                                           job.BytesPerSample;
  for (std::int32_t i = 0; i < job.Dest->Width; ++i) {
    float b = 0.0f, g = 0.0f, r = 0.0f;
    for (std::int32_t e = cols.Start[static_cast<std::size_t>(i)];
         e < cols.Start[static_cast<std::size_t>(i) + 1]; ++e) {
      const float* px = line + 3 * cols.Pos[static_cast<std::size_t>(e)];
      const float w = cols.Weight[static_cast<std::size_t>(e)];
      b = std::fma(px[0], w, b);
      g = std::fma(px[1], w, g);
      r = std::fma(px[2], w, r);
    }
    StoreSample<Sample>(out, b);
    StoreSample<Sample>(out + sizeof(Sample), g);
    StoreSample<Sample>(out + 2 * sizeof(Sample), r);
    out += 3 * sizeof(Sample);
  }
}

#if defined(__x86_64__)

bool DetectAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool DetectAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}

template <typename Sample>
__attribute__((target("avx2,fma"))) inline __m256 Load8(const std::uint8_t* p) {
  if constexpr (sizeof(Sample) == 1) {
    const __m256i v = _mm256_cvtepu8_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(v), _mm256_set1_ps(kByteToFloat));
  } else {
    const __m256i v = _mm256_cvtepu16_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(v), _mm256_set1_ps(kWordToFloat));
  }
}

template <typename Sample>
__attribute__((target("avx2,fma"))) void VerticalAvx2(const FilterJob& job,
                                                      std::int32_t y,
                                                      Scratch& scratch) {
  const std::int32_t n = PrepareTaps(job, y, scratch);
  const float* weights =
      job.Rows->Weight.data() + job.Rows->Start[static_cast<std::size_t>(y)];
  const std::uint8_t* const* taps = scratch.Taps.data();
  float* line = scratch.Line.data();
  constexpr std::int64_t S = sizeof(Sample);
  std::int32_t t = 0;
  // 64 samples in eight registers stay put while all taps pass over them.
  for (; t + 64 <= job.LineSamples; t += 64) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0, a4 = a0,
           a5 = a0, a6 = a0, a7 = a0;
    for (std::int32_t k = 0; k < n; ++k) {
      const std::uint8_t* p = taps[k] + t * S;
      const __m256 w = _mm256_set1_ps(weights[k]);
      a0 = _mm256_fmadd_ps(Load8<Sample>(p + 0 * S), w, a0);
      a1 = _mm256_fmadd_ps(Load8<Sample>(p + 8 * S), w, a1);
      a2 = _mm256_fmadd_ps(Load8<Sample>(p + 16 * S), w, a2);
      a3 = _mm256_fmadd_ps(Load8<Sample>(p + 24 * S), w, a3);
      a4 = _mm256_fmadd_ps(Load8<Sample>(p + 32 * S), w, a4);
      a5 = _mm256_fmadd_ps(Load8<Sample>(p + 40 * S), w, a5);
      a6 = _mm256_fmadd_ps(Load8<Sample>(p + 48 * S), w, a6);
      a7 = _mm256_fmadd_ps(Load8<Sample>(p + 56 * S), w, a7);
    }
    _mm256_storeu_ps(line + t + 0, a0);
    _mm256_storeu_ps(line + t + 8, a1);
    _mm256_storeu_ps(line + t + 16, a2);
    _mm256_storeu_ps(line + t + 24, a3);
    _mm256_storeu_ps(line + t + 32, a4);
    _mm256_storeu_ps(line + t + 40, a5);
    _mm256_storeu_ps(line + t + 48, a6);
    _mm256_storeu_ps(line + t + 56, a7);
  }
  for (; t + 8 <= job.LineSamples; t += 8) {
    __m256 a = _mm256_setzero_ps();
    for (std::int32_t k = 0; k < n; ++k)
      a = _mm256_fmadd_ps(Load8<Sample>(taps[k] + t * S),
                          _mm256_set1_ps(weights[k]), a);
    _mm256_storeu_ps(line + t, a);
  }
  for (; t < job.LineSamples; ++t) {
    __m128 a = _mm_setzero_ps();
    for (std::int32_t k = 0; k < n; ++k)
      a = _mm_fmadd_ss(
          _mm_set_ss(SampleToFloat(LoadSample<Sample>(taps[k] + t * S))),
          _mm_set_ss(weights[k]), a);
    line[t] = _mm_cvtss_f32(a);
  }
}

template <typename Sample>
__attribute__((target("avx512f"))) inline __m512 Load16(const std::uint8_t* p) {
  // The zero-masked forms: the plain ones start from an undefined register,
  // which the compiler warns about.
  constexpr __mmask16 kAll = 0xFFFF;
  if constexpr (sizeof(Sample) == 1) {
    const __m512i v = _mm512_maskz_cvtepu8_epi32(
        kAll, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    return _mm512_mul_ps(_mm512_maskz_cvtepi32_ps(kAll, v),
                         _mm512_set1_ps(kByteToFloat));
  } else {
    const __m512i v = _mm512_maskz_cvtepu16_epi32(
        kAll, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    return _mm512_mul_ps(_mm512_maskz_cvtepi32_ps(kAll, v),
                         _mm512_set1_ps(kWordToFloat));
  }
}

// The same loop on 16 samples a register where the processor has them.
template <typename Sample>
__attribute__((target("avx512f,avx2,fma"))) void VerticalAvx512(
    const FilterJob& job, std::int32_t y, Scratch& scratch) {
  const std::int32_t n = PrepareTaps(job, y, scratch);
  const float* weights =
      job.Rows->Weight.data() + job.Rows->Start[static_cast<std::size_t>(y)];
  const std::uint8_t* const* taps = scratch.Taps.data();
  float* line = scratch.Line.data();
  constexpr std::int64_t S = sizeof(Sample);
  std::int32_t t = 0;
  for (; t + 64 <= job.LineSamples; t += 64) {
    __m512 a0 = _mm512_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (std::int32_t k = 0; k < n; ++k) {
      const std::uint8_t* p = taps[k] + t * S;
      const __m512 w = _mm512_set1_ps(weights[k]);
      a0 = _mm512_fmadd_ps(Load16<Sample>(p + 0 * S), w, a0);
      a1 = _mm512_fmadd_ps(Load16<Sample>(p + 16 * S), w, a1);
      a2 = _mm512_fmadd_ps(Load16<Sample>(p + 32 * S), w, a2);
      a3 = _mm512_fmadd_ps(Load16<Sample>(p + 48 * S), w, a3);
    }
    _mm512_storeu_ps(line + t + 0, a0);
    _mm512_storeu_ps(line + t + 16, a1);
    _mm512_storeu_ps(line + t + 32, a2);
    _mm512_storeu_ps(line + t + 48, a3);
  }
  for (; t + 8 <= job.LineSamples; t += 8) {
    __m256 a = _mm256_setzero_ps();
    for (std::int32_t k = 0; k < n; ++k)
      a = _mm256_fmadd_ps(Load8<Sample>(taps[k] + t * S),
                          _mm256_set1_ps(weights[k]), a);
    _mm256_storeu_ps(line + t, a);
  }
  for (; t < job.LineSamples; ++t) {
    __m128 a = _mm_setzero_ps();
    for (std::int32_t k = 0; k < n; ++k)
      a = _mm_fmadd_ss(
          _mm_set_ss(SampleToFloat(LoadSample<Sample>(taps[k] + t * S))),
          _mm_set_ss(weights[k]), a);
    line[t] = _mm_cvtss_f32(a);
  }
}

template <typename Sample>
__attribute__((target("avx2,fma"))) void HorizontalAvx2(
    const FilterJob& job, std::int32_t y, const Scratch& scratch) {
  const FlatTable& cols = *job.Columns;
  const float* line = scratch.Line.data();
  const std::int32_t* start = cols.Start.data();
  const std::int32_t* pos = cols.Pos.data();
  const float* weight = cols.Weight.data();
  std::uint8_t* out = job.Dest->Bits + static_cast<std::int64_t>(y) *
                                           job.Dest->Width * 3 *
                                           job.BytesPerSample;
  alignas(16) float result[4];
  for (std::int32_t i = 0; i < job.Dest->Width; ++i) {
    // One pixel's three channels (and a spare lane) in one register.
    __m128 acc = _mm_setzero_ps();
    for (std::int32_t e = start[i]; e < start[i + 1]; ++e)
      acc = _mm_fmadd_ps(_mm_loadu_ps(line + 3 * pos[e]),
                         _mm_set1_ps(weight[e]), acc);
    _mm_store_ps(result, acc);
    StoreSample<Sample>(out, result[0]);
    StoreSample<Sample>(out + sizeof(Sample), result[1]);
    StoreSample<Sample>(out + 2 * sizeof(Sample), result[2]);
    out += 3 * sizeof(Sample);
  }
}

#else

bool DetectAvx2() { return false; }
bool DetectAvx512() { return false; }

#endif

const bool kUseAvx2 = DetectAvx2();
const bool kUseAvx512 = kUseAvx2 && DetectAvx512();

template <typename Sample>
void ScaleFilteredFast(const FilterJob& job, const TScaleOptions& options) {
  const int threads = ThreadCount(options, job.Dest->Height);
  std::vector<Scratch> scratch(static_cast<std::size_t>(threads));
  for (Scratch& s : scratch) {
    // The spare float is read, never used, by the last pixel's register.
    s.Line.assign(static_cast<std::size_t>(job.LineSamples) + 1, 0.0f);
    s.Taps.assign(static_cast<std::size_t>(job.Rows->Longest), nullptr);
  }
  ForEachRowRun(
      job.Dest->Height, threads,
      [&](std::int32_t first, std::int32_t last, int worker) {
        Scratch& s = scratch[static_cast<std::size_t>(worker)];
        for (std::int32_t y = first; y < last; ++y) {
#if defined(__x86_64__)
          if (kUseAvx2 && options.Vector != TScaleOptions::Loops::Plain) {
            if (kUseAvx512 && options.Vector == TScaleOptions::Loops::Widest)
              VerticalAvx512<Sample>(job, y, s);
            else
              VerticalAvx2<Sample>(job, y, s);
            HorizontalAvx2<Sample>(job, y, s);
            continue;
          }
#endif
          VerticalPortable<Sample>(job, y, s);
          HorizontalPortable<Sample>(job, y, s);
        }
      });
}

}  // namespace

const char* ResampleLoopsName() {
  return kUseAvx512 ? "AVX-512" : kUseAvx2 ? "AVX2+FMA" : "plain";
}

void ScaleFiltered(const TImageData& source, TImageData& dest,
                   TFilterFunction kernel, float radius,
                   const TScaleOptions& options) {
  const TImageFormatInfo& format = CheckedFormat(source, dest);
  const TMappingTable columns =
      BuildContributions(source.Width, dest.Width, kernel, radius);
  const TMappingTable rows =
      BuildContributions(source.Height, dest.Height, kernel, radius);
  if (columns.empty() || rows.empty()) return;

  std::int32_t cmin = source.Width - 1, cmax = 0;
  for (const TCluster& cluster : columns)
    for (const TPointRec& e : cluster) {
      cmin = std::min(cmin, e.Pos);
      cmax = std::max(cmax, e.Pos);
    }
  if (cmin > cmax) return;  // no column has a contribution

  if (options.Reference) {
    ScaleFilteredReference(source, dest, format, columns, rows, cmin, cmax);
    return;
  }
  const FlatTable flatRows(rows, 0);
  const FlatTable flatColumns(columns, cmin);
  const FilterJob job{&source,
                      &dest,
                      format.BytesPerSample,
                      cmin,
                      (cmax - cmin + 1) * 3,
                      &flatRows,
                      &flatColumns};
  if (format.BytesPerSample == 1)
    ScaleFilteredFast<std::uint8_t>(job, options);
  else
    ScaleFilteredFast<std::uint16_t>(job, options);
}

bool ScaleImage(TImageData& image, std::int32_t newWidth,
                std::int32_t newHeight, TResizeFilter filter,
                const TScaleOptions& options) {
  if (newWidth <= 0 || newHeight <= 0)
    throw TImagingError("New width or height is zero.");
  if (!IsImageValid(image) ||
      (newWidth == image.Width && newHeight == image.Height))
    return false;
  const TFilterKernel* kernel =
      filter == rfNearest ? nullptr : &GetFilterKernel(filter);

  TImageData scaled;
  AllocateImage(newWidth, newHeight, image.Format, scaled);
  try {
    if (kernel)
      ScaleFiltered(image, scaled, kernel->Kernel, kernel->Radius, options);
    else
      ScaleNearest(image, scaled, options);
  } catch (...) {
    ReleaseImage(scaled);
    throw;
  }
  ReleaseImage(image);
  image = scaled;
  return true;
}

}  // namespace trelvi
