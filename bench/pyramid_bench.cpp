// Builds a Deep Zoom pyramid from an 8-bit RGB image, reading a headerless
// RAW file row by row straight into the builder (or making photo-like rows
// when the input is "-"), and prints the wall time, the tiles written, the
// builder's own memory figure and the process's peak resident memory.
//
//   pyramid_bench IN.raw|- WIDTH HEIGHT OUTDIR [jpg|png] [QUALITY] [THREADS]
//
// OUTDIR should be new or empty: removing an earlier run's thousands of
// tiles is not the builder's time (bench/pyramid.sh does it untimed).
//
// With "-" and a small height it shows the memory a very wide image needs:
//   pyramid_bench - 150000 600 /tmp/p
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "operations/pyramid/dzi_layout.h"
#include "operations/pyramid/pyramid_builder.h"

using namespace trelvi::pyramid;

namespace {

// Gradients, waves and a little noise, cheap enough per pixel not to hide
// the builder's own time.
class PhotoRows {
 public:
  explicit PhotoRows(std::uint64_t width) : width_(width), wave_(width * 3) {
    for (std::uint64_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        wave_[x * 3 + c] = static_cast<std::int16_t>(
            60 * std::sin(x * 0.0021 * (c + 1)) + 40 * std::sin(x * 0.031));
  }
  void Fill(std::uint64_t y, std::uint8_t* row) {
    const int base = static_cast<int>(100 + 50 * std::sin(y * 0.0017));
    for (std::uint64_t i = 0; i < width_ * 3; ++i) {
      seed_ = seed_ * 1664525u + 1013904223u;
      const int v = base + wave_[i] + static_cast<int>((seed_ >> 29) & 7) - 3;
      row[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }

 private:
  std::uint64_t width_;
  std::vector<std::int16_t> wave_;
  std::uint32_t seed_ = 12345;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: %s IN.raw|- WIDTH HEIGHT OUTDIR [jpg|png] [QUALITY] "
                 "[THREADS]\n",
                 argv[0]);
    return 2;
  }
  PyramidOptions o;
  o.Width = std::strtoull(argv[2], nullptr, 10);
  o.Height = std::strtoull(argv[3], nullptr, 10);
  o.Channels = 3;
  o.TilesDir = std::string(argv[4]) + "/bench_files";
  if (argc > 5 && std::strcmp(argv[5], "png") == 0)
    o.Encoding.Format = TileFormat::Png;
  if (argc > 6) o.Encoding.Quality = std::atoi(argv[6]);
  if (argc > 7) o.Threads = static_cast<unsigned>(std::atoi(argv[7]));

  std::FILE* in = nullptr;
  if (std::strcmp(argv[1], "-") != 0) {
    in = std::fopen(argv[1], "rb");
    if (!in) {
      std::perror(argv[1]);
      return 1;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  PyramidBuilder builder(o);
  if (!builder.Start()) {
    std::fprintf(stderr, "%s\n", builder.Result().Error.c_str());
    return 1;
  }
  PhotoRows photo(o.Width);
  const std::size_t rowBytes = o.Width * 3;
  for (std::uint64_t y = 0; y < o.Height; ++y) {
    std::uint8_t* row = builder.NextRow();
    if (!row) break;
    if (in) {
      if (std::fread(row, 1, rowBytes, in) != rowBytes) {
        std::fprintf(stderr, "short input at row %llu\n",
                     static_cast<unsigned long long>(y));
        builder.Cancel();
        break;
      }
    } else {
      photo.Fill(y, row);
    }
    if (!builder.CommitRow()) break;
  }
  const PyramidResult r = builder.Finish();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  if (in) std::fclose(in);
  if (!r.Ok) {
    std::fprintf(stderr, "%s\n", r.Error.c_str());
    return 1;
  }
  const std::string dzi = std::string(argv[4]) + "/bench.dzi";
  if (std::FILE* f = std::fopen(dzi.c_str(), "wb")) {
    const std::string text =
        Descriptor(FormatExtension(o.Encoding.Format), o.Overlap, o.TileSize,
                   o.Width, o.Height);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "%llux%llu %s: %.2f s, %llu tiles, builder memory %.1f MB, peak RSS "
      "%.1f MB\n",
      static_cast<unsigned long long>(o.Width),
      static_cast<unsigned long long>(o.Height),
      FormatExtension(o.Encoding.Format), seconds,
      static_cast<unsigned long long>(builder.TilesWritten()),
      PyramidMemoryBytes(o) / 1e6, usage.ru_maxrss / 1024.0);
  return 0;
}
