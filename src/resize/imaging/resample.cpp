#include "resize/imaging/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "resize/imaging/pixel_convert.h"
#include "resize/imaging/resample_loops.h"

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

std::vector<std::int32_t> NearestIndices(std::int32_t sourceLength,
                                         std::int32_t destLength) {
  // 16.16 fixed point, in 64 bits so that sources of 32768 pixels and more
  // do not overflow.
  const std::int64_t step =
      (static_cast<std::int64_t>(sourceLength) << 16) / destLength;
  std::vector<std::int32_t> index(static_cast<std::size_t>(destLength));
  for (std::size_t i = 0; i < index.size(); ++i)
    index[i] =
        static_cast<std::int32_t>((static_cast<std::int64_t>(i) * step) >> 16);
  return index;
}

void ScaleNearest(const TImageData& source, TImageData& dest,
                  const TScaleOptions& options) {
  const TImageFormatInfo& format = CheckedFormat(source, dest);
  const std::int64_t bpp = format.BytesPerPixel;
  const std::vector<std::int32_t> sourceRow =
      NearestIndices(source.Height, dest.Height);
  std::vector<std::int64_t> columnOffset(static_cast<std::size_t>(dest.Width));
  {
    const std::vector<std::int32_t> column =
        NearestIndices(source.Width, dest.Width);
    for (std::size_t i = 0; i < column.size(); ++i)
      columnOffset[i] = column[i] * bpp;
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
              source.Bits +
              sourceRow[static_cast<std::size_t>(r)] * srcRowBytes;
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

using resample_loops::FilterJob;
using resample_loops::FlatTable;
using resample_loops::LoadSample;
using resample_loops::PrepareTaps;
using resample_loops::SampleToFloat;
using resample_loops::Scratch;
using resample_loops::StoreSample;

template <typename Sample>
void VerticalPortable(const FilterJob& job, std::int32_t y, Scratch& scratch) {
  const auto [n, taps, weights, line] = PrepareTaps(job, y, scratch);
  constexpr std::int32_t kChunk = 64;
  float acc[kChunk];
  for (std::int32_t t0 = 0; t0 < job.LineSamples; t0 += kChunk) {
    const std::int32_t m = std::min(kChunk, job.LineSamples - t0);
    std::fill(acc, acc + m, 0.0f);
    for (std::int32_t k = 0; k < n; ++k) {
      const std::uint8_t* p = taps[k] + t0 * sizeof(Sample);
      const float w = weights[k];
      for (std::int32_t j = 0; j < m; ++j)
        acc[j] =
            std::fma(SampleToFloat(LoadSample<Sample>(p + j * sizeof(Sample))),
                     w, acc[j]);
    }
    std::copy(acc, acc + m, line + t0);
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
const bool kUseAvx2 = resample_loops::CpuHasAvx2();
const bool kUseAvx512 = kUseAvx2 && resample_loops::CpuHasAvx512();
#else
const bool kUseAvx2 = false;
const bool kUseAvx512 = false;
#endif

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
            resample_loops::FilterRowX86<Sample>(
                job, y, s,
                kUseAvx512 && options.Vector == TScaleOptions::Loops::Widest);
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
  if (kernel)
    ScaleFiltered(image, scaled, kernel->Kernel, kernel->Radius, options);
  else
    ScaleNearest(image, scaled, options);
  image = std::move(scaled);
  return true;
}

}  // namespace trelvi
