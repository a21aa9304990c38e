#pragma once

#include <cstdint>
#include <vector>

#include "resize/imaging/image_data.h"

namespace trelvi {

enum TResizeFilter : std::int32_t {
  rfNearest = 0,
  rfBilinear = 1,
  rfBicubic = 2,
  rfLanczos = 3,
};

// One source pixel's share in one destination pixel along one axis.
struct TPointRec {
  std::int32_t Pos;  // always within 0 .. source length - 1
  float Weight;
};
// All shares of one destination index, in the order they were found.
using TCluster = std::vector<TPointRec>;
// One cluster per destination index of one axis.
using TMappingTable = std::vector<TCluster>;

using TFilterFunction = float (*)(float);

struct TFilterKernel {
  TFilterFunction Kernel;
  float Radius;
};

float LanczosKernel(float x);     // three lobes, radius 3
float TentKernel(float x);        // radius 1
float CatmullRomKernel(float x);  // radius 2

// The kernel and radius of a filtered method; raises for rfNearest or an
// unknown value.
const TFilterKernel& GetFilterKernel(TResizeFilter filter);

// How the scaling runs; the result is the same either way.
struct TScaleOptions {
  // Threads sharing the destination rows; 0: one per processor.
  int Threads = 0;
  // The plain single-threaded loop in extended precision, pixel by pixel
  // through the format's float conversions: the yardstick that the fast
  // loops are checked against.
  bool Reference = false;
  // The widest vector loops the processor has, or narrower ones; the
  // results are the same.
  enum class Loops { Widest, Avx2, Plain };
  Loops Vector = Loops::Widest;
};

// Contributions along one axis; empty when either length is 0.
TMappingTable BuildContributions(std::int32_t sourceLength,
                                 std::int32_t destLength,
                                 TFilterFunction kernel, float radius);

// The source index nearest neighbour takes for each of destLength indices:
// steps of source / dest in 16.16 fixed point. Both lengths positive.
std::vector<std::int32_t> NearestIndices(std::int32_t sourceLength,
                                         std::int32_t destLength);

// Fills the whole of dest (allocated, same format) from the whole of source.
void ScaleNearest(const TImageData& source, TImageData& dest,
                  const TScaleOptions& options = {});
void ScaleFiltered(const TImageData& source, TImageData& dest,
                   TFilterFunction kernel, float radius,
                   const TScaleOptions& options = {});

// Replaces the image by a scaled copy in the same format. False when the
// image is not valid or already has that size (it is then untouched).
// Raises "New width or height is zero." for a size that is not positive,
// and passes on allocation errors; the image then keeps its pixels.
bool ScaleImage(TImageData& image, std::int32_t newWidth,
                std::int32_t newHeight, TResizeFilter filter,
                const TScaleOptions& options = {});

// The widest filter loops this processor runs: "AVX-512", "AVX2+FMA" or
// "plain".
const char* ResampleLoopsName();

}  // namespace trelvi
