// The filter loops on AVX2 and AVX-512. Only the functions marked for those
// instruction sets use them, and the dispatch calls them only on a
// processor that has them. Each loop adds the same products in the same
// order as the plain loop, so the results are identical.

#include "resize/imaging/resample_loops.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

namespace trelvi::resample_loops {

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool CpuHasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}

namespace {

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

// The samples from t to end that a block of 64 does not cover: eight at a
// time, then one by one.
template <typename Sample>
__attribute__((target("avx2,fma"))) inline void VerticalRest(const TapRow& row,
                                                             std::int32_t t,
                                                             std::int32_t end) {
  const auto [n, taps, weights, line] = row;
  constexpr std::int64_t S = sizeof(Sample);
  for (; t + 8 <= end; t += 8) {
    __m256 a = _mm256_setzero_ps();
    for (std::int32_t k = 0; k < n; ++k)
      a = _mm256_fmadd_ps(Load8<Sample>(taps[k] + t * S),
                          _mm256_set1_ps(weights[k]), a);
    _mm256_storeu_ps(line + t, a);
  }
  for (; t < end; ++t) {
    __m128 a = _mm_setzero_ps();
    for (std::int32_t k = 0; k < n; ++k)
      a = _mm_fmadd_ss(
          _mm_set_ss(SampleToFloat(LoadSample<Sample>(taps[k] + t * S))),
          _mm_set_ss(weights[k]), a);
    line[t] = _mm_cvtss_f32(a);
  }
}

template <typename Sample>
__attribute__((target("avx2,fma"))) void VerticalAvx2(const FilterJob& job,
                                                      std::int32_t y,
                                                      Scratch& scratch) {
  const TapRow row = PrepareTaps(job, y, scratch);
  const auto [n, taps, weights, line] = row;
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
  VerticalRest<Sample>(row, t, job.LineSamples);
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
  const TapRow row = PrepareTaps(job, y, scratch);
  const auto [n, taps, weights, line] = row;
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
  VerticalRest<Sample>(row, t, job.LineSamples);
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

}  // namespace

template <typename Sample>
void FilterRowX86(const FilterJob& job, std::int32_t y, Scratch& scratch,
                  bool wide) {
  if (wide)
    VerticalAvx512<Sample>(job, y, scratch);
  else
    VerticalAvx2<Sample>(job, y, scratch);
  HorizontalAvx2<Sample>(job, y, scratch);
}

template void FilterRowX86<std::uint8_t>(const FilterJob&, std::int32_t,
                                         Scratch&, bool);
template void FilterRowX86<std::uint16_t>(const FilterJob&, std::int32_t,
                                          Scratch&, bool);

}  // namespace trelvi::resample_loops

#endif
