// Measures the resize: the whole pipeline against libvips on a large TIFF,
// the tile filter on one and on all processors, and how far the fast filter
// loops stray from the extended-precision reference loop.
//
//   resize_bench [--dir DIR] [--width W] [--height H] [--new-width N]
//                [--repeat N] [--skip-pipeline] [--skip-filter]
//                [--skip-diff]
//
// The input TIFF is made in DIR (default /tmp/trelvi-bench) on first use and
// kept for later runs. Each pipeline or vips run is a child process, so its
// peak memory is its own.

#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/trelvi.h"
#include "resize/imaging/resample.h"
#include "resize/resize_pipeline.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace trelvi;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Smooth gradients, a fine grid and a little noise: neither uniform nor
// pure noise, so both filters and compressors see a photo-like load.
std::uint8_t Sample(std::uint32_t x, std::uint32_t y, int c) {
  std::uint32_t h =
      x * 73856093u ^ y * 19349663u ^ static_cast<std::uint32_t>(c) * 83492791u;
  h ^= h >> 13;
  const int noise = static_cast<int>(h & 15) - 8;
  const int base = static_cast<int>((x / 37 + y / 23 + c * 40) & 0xFF);
  const int grid = ((x % 250) < 3 || (y % 180) < 3) ? 120 : 0;
  return static_cast<std::uint8_t>(
      std::clamp(base / 2 + grid + noise + 40, 0, 255));
}

bool MakeInput(const std::string& file, std::uint32_t w, std::uint32_t h) {
  if (fs::exists(file)) return true;
  std::printf("making %s (%u x %u)...\n", file.c_str(), w, h);
  std::fflush(stdout);
  const std::string part = file + ".part";
  const bool big = static_cast<std::uint64_t>(w) * h * 3 > 4000000000ull;
  TIFF* tif = TIFFOpen(part.c_str(), big ? "w8" : "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = Sample(x, y, c);
    if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) {
      TIFFClose(tif);
      return false;
    }
  }
  TIFFClose(tif);
  fs::rename(part, file);
  return true;
}

struct RunResult {
  bool Ok = false;
  double Seconds = 0;
  double PeakMiB = 0;
};

// Runs body in a child process and reports its time and peak memory.
RunResult InChild(const std::function<int()>& body) {
  RunResult r;
  std::fflush(stdout);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    const int code = body();
    std::fflush(stdout);
    _exit(code);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return r;
  r.Seconds = Seconds(start);
  r.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

RunResult RunPipeline(const std::string& input, const std::string& outDir,
                      std::int32_t newW, bool fast) {
  fs::remove_all(outDir);
  fs::create_directories(outDir);
  return InChild([&] {
    TTrelvi engine;
    engine.InitEngine();
    engine.InInfo.FileName = input;
    engine.ReadInputInfo(false);
    if (!engine.InInfo.ImageIsOk) return 2;
    std::string lastError;
    engine.OnError = [&](const std::string& m) { lastError = m; };
    const auto start = Clock::now();
    if (std::getenv("TRELVI_BENCH_PHASES")) {
      engine.OnShowProgress = [&](std::int32_t, const std::string& d) {
        std::printf("    %7.2f s  %s starts\n", Seconds(start), d.c_str());
      };
      engine.OnHideProgress = [&] {
        std::printf("    %7.2f s  ends\n", Seconds(start));
      };
    }
    TResizeParams p;
    p.NewW = newW;
    p.NewH = static_cast<std::int32_t>(
        std::nearbyint(engine.InInfo.Height /
                       (static_cast<double>(engine.InInfo.Width) / newW)));
    p.FastMethod = fast;
    p.OutputFolder = outDir;
    p.Output = rules::OutputChoice::Tif;
    TResizePipeline pipeline(engine);
    pipeline.DoResize(p);
    if (engine.Aborted) {
      std::fprintf(stderr, "pipeline failed: %s\n", lastError.c_str());
      return 1;
    }
    return 0;
  });
}

RunResult RunVips(const std::string& input, const std::string& output,
                  const char* kernel, double scale) {
  fs::remove(output);
  char scaleText[32];
  std::snprintf(scaleText, sizeof scaleText, "%.10g", scale);
  return InChild([&] {
    execlp("vips", "vips", "resize", input.c_str(), output.c_str(), scaleText,
           "--kernel", kernel, "--gap", "0", static_cast<char*>(nullptr));
    return 127;
  });
}

void FillPattern(TImageData& image) {
  const std::int64_t bpp = GetFormatInfo(image.Format)->BytesPerPixel;
  for (std::int32_t y = 0; y < image.Height; ++y)
    for (std::int32_t x = 0; x < image.Width; ++x)
      for (int c = 0; c < bpp; ++c)
        image.Bits[(static_cast<std::int64_t>(y) * image.Width + x) * bpp + c] =
            Sample(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                   c % 3);
}

double TimeScale(const TImageData& src, std::int32_t w, std::int32_t h,
                 TResizeFilter filter, const TScaleOptions& options) {
  TImageData dst;
  AllocateImage(w, h, src.Format, dst);
  const auto start = Clock::now();
  if (filter == rfNearest)
    ScaleNearest(src, dst, options);
  else
    ScaleFiltered(src, dst, GetFilterKernel(filter).Kernel,
                  GetFilterKernel(filter).Radius, options);
  const double s = Seconds(start);
  ReleaseImage(dst);
  return s;
}

void FilterBench() {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  std::printf(
      "\n== Tile filter, 10000 x 10000 8-bit tile (%d processors, %s)\n", cores,
      ResampleLoopsName());
  TImageData tile;
  AllocateImage(10000, 10000, TImageFormat::R8G8B8, tile);
  FillPattern(tile);
  struct Case {
    const char* name;
    std::int32_t w, h;
    TResizeFilter filter;
  } cases[] = {{"Lanczos / 4  -> 2500 x 2500", 2500, 2500, rfLanczos},
               {"Lanczos / 10 -> 1000 x 1000", 1000, 1000, rfLanczos},
               {"Lanczos / 2.5 -> 4000 x 4000", 4000, 4000, rfLanczos},
               {"nearest / 10 -> 1000 x 1000", 1000, 1000, rfNearest}};
  for (const Case& c : cases) {
    const double one = TimeScale(tile, c.w, c.h, c.filter, TScaleOptions{1});
    const double all = TimeScale(tile, c.w, c.h, c.filter, TScaleOptions{0});
    std::printf(
        "  %-30s 1 thread %7.3f s   %d threads %7.3f s   speed-up %.2f\n",
        c.name, one, cores, all, one / all);
  }
  const double avx2 =
      TimeScale(tile, 2500, 2500, rfLanczos,
                TScaleOptions{1, false, TScaleOptions::Loops::Avx2});
  const double plain =
      TimeScale(tile, 2500, 2500, rfLanczos,
                TScaleOptions{1, false, TScaleOptions::Loops::Plain});
  std::printf(
      "  Lanczos / 4, 1 thread: AVX2 loops %.3f s, plain loops %.3f s\n", avx2,
      plain);
  ReleaseImage(tile);

  TImageData small;
  AllocateImage(2000, 2000, TImageFormat::R8G8B8, small);
  FillPattern(small);
  const double ref =
      TimeScale(small, 500, 500, rfLanczos, TScaleOptions{1, true});
  const double fast = TimeScale(small, 500, 500, rfLanczos, TScaleOptions{1});
  std::printf(
      "  2000 x 2000 / 4, 1 thread: reference loop %.3f s, fast %.3f s\n", ref,
      fast);
  ReleaseImage(small);
}

// Counts the samples where the fast loops and the reference differ.
void DiffBench() {
  std::printf("\n== Fast loops against the extended-precision reference\n");
  struct Case {
    std::int32_t sw, sh, dw, dh;
    TImageFormat format;
  } cases[] = {{3000, 3000, 750, 750, TImageFormat::R8G8B8},
               {3000, 2000, 1200, 800, TImageFormat::R8G8B8},
               {2000, 2000, 1000, 1000, TImageFormat::R16G16B16},
               {1000, 700, 2500, 1750, TImageFormat::R8G8B8}};
  for (const Case& c : cases) {
    TImageData src, ref, fast;
    AllocateImage(c.sw, c.sh, c.format, src);
    FillPattern(src);
    AllocateImage(c.dw, c.dh, c.format, ref);
    AllocateImage(c.dw, c.dh, c.format, fast);
    ScaleFiltered(src, ref, LanczosKernel, 3.0f, TScaleOptions{0, true});
    ScaleFiltered(src, fast, LanczosKernel, 3.0f, TScaleOptions{0});
    const int bps = c.format == TImageFormat::R8G8B8 ? 1 : 2;
    std::int64_t differing = 0, worst = 0;
    const std::int64_t samples = ref.Size / bps;
    for (std::int64_t i = 0; i < samples; ++i) {
      const int a =
          bps == 1 ? ref.Bits[i] : ref.Bits[2 * i] | (ref.Bits[2 * i + 1] << 8);
      const int b = bps == 1 ? fast.Bits[i]
                             : fast.Bits[2 * i] | (fast.Bits[2 * i + 1] << 8);
      if (a != b) {
        ++differing;
        worst = std::max<std::int64_t>(worst, std::abs(a - b));
      }
    }
    std::printf(
        "  %5d x %-5d -> %5d x %-5d %2d-bit: %lld of %lld samples differ, "
        "by at most %lld\n",
        c.sw, c.sh, c.dw, c.dh, bps * 8, static_cast<long long>(differing),
        static_cast<long long>(samples), static_cast<long long>(worst));
    ReleaseImage(src);
    ReleaseImage(ref);
    ReleaseImage(fast);
  }
}

void PipelineBench(const std::string& dir, std::uint32_t w, std::uint32_t h,
                   std::int32_t newW, int repeat) {
  const std::string input = dir + "/in.tif";
  if (!MakeInput(input, w, h)) {
    std::printf("cannot make %s\n", input.c_str());
    return;
  }
  // Read once so that every run starts with the input in the page cache.
  {
    std::FILE* f = std::fopen(input.c_str(), "rb");
    std::vector<char> buf(1 << 20);
    while (f && std::fread(buf.data(), 1, buf.size(), f) > 0) {
    }
    if (f) std::fclose(f);
  }
  const double scale = static_cast<double>(newW) / w;
  const bool haveVips = std::system("vips --version > /dev/null 2>&1") == 0;
  std::printf("\n== Whole resize, %u x %u 8-bit RGB TIFF to width %d\n", w, h,
              newW);

  // The runs alternate, each repeated; the best time of each counts, since
  // other work on the machine can only slow a run down.
  struct Entry {
    const char* Name;
    std::function<RunResult()> Run;
    std::vector<RunResult> Results;
  };
  std::vector<Entry> entries;
  entries.push_back(
      {"trelvi slow (Lanczos)",
       [&] { return RunPipeline(input, dir + "/out-slow", newW, false); },
       {}});
  if (haveVips)
    entries.push_back({"vips lanczos3 --gap 0",
                       [&] {
                         return RunVips(input, dir + "/vips-lanczos.tif",
                                        "lanczos3", scale);
                       },
                       {}});
  entries.push_back(
      {"trelvi fast (nearest)",
       [&] { return RunPipeline(input, dir + "/out-fast", newW, true); },
       {}});
  if (haveVips)
    entries.push_back({"vips nearest --gap 0",
                       [&] {
                         return RunVips(input, dir + "/vips-nearest.tif",
                                        "nearest", scale);
                       },
                       {}});
  const char* only = std::getenv("TRELVI_BENCH_ONLY");
  for (int r = 0; r < repeat; ++r)
    for (Entry& e : entries)
      if (!only || std::strstr(e.Name, only)) e.Results.push_back(e.Run());
  std::vector<double> best;
  for (const Entry& e : entries) {
    double b = 1e30, peak = 0;
    bool ok = true;
    std::string all;
    for (const RunResult& r : e.Results) {
      if (r.Ok) b = std::min(b, r.Seconds);
      peak = std::max(peak, r.PeakMiB);
      ok = ok && r.Ok;
      char t[32];
      std::snprintf(t, sizeof t, " %.2f", r.Seconds);
      all += t;
    }
    best.push_back(b);
    std::printf("  %-24s best %7.2f s  peak %6.0f MiB  %s (runs:%s)\n", e.Name,
                b, peak, ok ? "" : "FAILED", all.c_str());
  }
  if (haveVips)
    std::printf("  time ratio trelvi/vips: slow %.2f, fast %.2f\n",
                best[0] / best[1], best[2] / best[3]);
  else
    std::printf("  (vips not found: install libvips-tools to compare)\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "/tmp/trelvi-bench";
  std::uint32_t w = 30000, h = 20000;
  std::int32_t newW = 3000;
  bool pipeline = true, filter = true, diff = true;
  int repeat = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--dir")
      dir = next();
    else if (a == "--width")
      w = static_cast<std::uint32_t>(std::stoul(next()));
    else if (a == "--height")
      h = static_cast<std::uint32_t>(std::stoul(next()));
    else if (a == "--new-width")
      newW = std::stoi(next());
    else if (a == "--repeat")
      repeat = std::max(1, std::stoi(next()));
    else if (a == "--skip-pipeline")
      pipeline = false;
    else if (a == "--skip-filter")
      filter = false;
    else if (a == "--skip-diff")
      diff = false;
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  fs::create_directories(dir);
  // The whole runs first: their children are forked from this process and
  // would count its tiles into their peak memory.
  if (pipeline) PipelineBench(dir, w, h, newW, repeat);
  if (filter) FilterBench();
  if (diff) DiffBench();
  return 0;
}
