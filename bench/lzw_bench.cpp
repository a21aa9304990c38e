// Measures our LZW strip encoder against libtiff's codec on one thread, in
// processor time:
// the same rows, one row per strip, and checks that both wrote strips of
// the same sizes (the tests compare the bytes).
//
//   lzw_bench [MEGABYTES] [WIDTH]     default 200 MB of 16384-pixel rows
//
// Loads: the benchmark image's rows (gradients, blocks, a little noise; 8
// and 16 bits) and noisier photographic rows. 64 different rows are cycled,
// so the input stays in memory and is not what is measured.

#include <tiffio.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/tiff/lzw_encoder.h"

namespace {

// This thread's processor time: the machine is shared, so wall time would
// measure the neighbours too.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

constexpr int kRowsKept = 64;

// Rows as bench_make_image writes them for an image of w × h.
std::vector<std::vector<std::uint8_t>> BenchImageRows(long w, int bits) {
  const long h = 20000;
  const int bps = bits / 8;
  std::vector<std::vector<std::uint8_t>> rows;
  std::uint32_t seed = 12345;
  for (int k = 0; k < kRowsKept; ++k) {
    const long y = k * h / kRowsKept;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3 * bps);
    const double fy = static_cast<double>(y) / h;
    for (long x = 0; x < w; ++x) {
      const double fx = static_cast<double>(x) / w;
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
        const double s = std::clamp(v[c], 0.0, 255.0);
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
    rows.push_back(std::move(row));
  }
  return rows;
}

// A wandering tone with texture and sensor noise, 8-bit.
std::vector<std::vector<std::uint8_t>> NoisyPhotoRows(long w) {
  std::mt19937 rng(5);
  std::normal_distribution<double> step(0, 0.5), grain(0, 1.5);
  std::vector<std::vector<std::uint8_t>> rows;
  for (int k = 0; k < kRowsKept; ++k) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
    double tone[3] = {80, 120, 160};
    for (long x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        tone[c] = std::clamp(tone[c] + step(rng), 10.0, 245.0);
        const double texture = 8 * std::sin(x / (7.0 + c) + k);
        row[static_cast<std::size_t>(x) * 3 + c] = static_cast<std::uint8_t>(
            std::clamp(tone[c] + texture + grain(rng), 0.0, 255.0));
      }
    rows.push_back(std::move(row));
  }
  return rows;
}

// A TIFF "file" that keeps nothing, so that only the codec is measured.
tmsize_t NoRead(thandle_t, void*, tmsize_t) { return 0; }
tmsize_t Discard(thandle_t h, void*, tmsize_t n) {
  auto* end = static_cast<toff_t*>(h);
  *end += static_cast<toff_t>(n);
  return n;
}
toff_t SeekEnd(thandle_t h, toff_t off, int whence) {
  return whence == SEEK_END ? *static_cast<toff_t*>(h) + off : off;
}
int NoClose(thandle_t) { return 0; }
toff_t SizeOf(thandle_t h) { return *static_cast<toff_t*>(h); }
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}

struct Result {
  double seconds = 0;
  std::uint64_t outBytes = 0;
};

Result RunLibtiff(const std::vector<std::vector<std::uint8_t>>& rows,
                  std::size_t strips, int bits) {
  toff_t end = 0;
  TIFF* tif = TIFFClientOpen("bench", "w", &end, NoRead, Discard, SeekEnd,
                             NoClose, SizeOf, NoMap, NoUnmap);
  if (!tif) std::exit(1);
  const std::size_t rowBytes = rows[0].size();
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH,
               static_cast<std::uint32_t>(rowBytes / 3 / (bits / 8)));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(strips));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  std::vector<std::uint8_t> copy(rowBytes);
  Result r;
  const double start = CpuSeconds();
  for (std::size_t s = 0; s < strips; ++s) {
    // libtiff may change the row it is given.
    std::copy(rows[s % rows.size()].begin(), rows[s % rows.size()].end(),
              copy.begin());
    if (TIFFWriteEncodedStrip(tif, static_cast<std::uint32_t>(s), copy.data(),
                              static_cast<tmsize_t>(rowBytes)) < 0)
      std::exit(1);
  }
  r.seconds = CpuSeconds() - start;
  for (std::size_t s = 0; s < strips; ++s)
    r.outBytes += TIFFGetStrileByteCount(tif, static_cast<std::uint32_t>(s));
  TIFFClose(tif);
  return r;
}

Result RunOurs(const std::vector<std::vector<std::uint8_t>>& rows,
               std::size_t strips) {
  trelvi::LzwEncoder encoder;
  std::vector<std::uint8_t> out(
      trelvi::LzwEncoder::MaxEncodedSize(rows[0].size()));
  Result r;
  const double start = CpuSeconds();
  for (std::size_t s = 0; s < strips; ++s) {
    const auto& row = rows[s % rows.size()];
    r.outBytes += encoder.Encode(row.data(), row.size(), out.data());
  }
  r.seconds = CpuSeconds() - start;
  return r;
}

bool SameStrips(const std::vector<std::vector<std::uint8_t>>& rows, int bits) {
  // The size of libtiff's strip for each kept row against ours, through a
  // one-row TIFF each time.
  trelvi::LzwEncoder encoder;
  std::vector<std::uint8_t> ours;
  for (const auto& row : rows) {
    encoder.Encode(row.data(), row.size(), ours);
    toff_t end = 0;
    std::vector<std::uint8_t> copy(row);
    TIFF* tif = TIFFClientOpen("check", "w", &end, NoRead, Discard, SeekEnd,
                               NoClose, SizeOf, NoMap, NoUnmap);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH,
                 static_cast<std::uint32_t>(row.size() / 3 / (bits / 8)));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFWriteEncodedStrip(tif, 0, copy.data(),
                          static_cast<tmsize_t>(copy.size()));
    const auto size = TIFFGetStrileByteCount(tif, 0);
    TIFFClose(tif);
    if (size != ours.size()) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 200;
  const long width = argc > 2 ? std::atol(argv[2]) : 16384;
  if (megabytes <= 0 || width <= 0) return 2;
  struct Load {
    const char* name;
    int bits;
    std::vector<std::vector<std::uint8_t>> rows;
  };
  Load loads[] = {{"bench image 8-bit", 8, BenchImageRows(width, 8)},
                  {"bench image 16-bit", 16, BenchImageRows(width, 16)},
                  {"noisy photo 8-bit", 8, NoisyPhotoRows(width)}};
  std::printf("%-20s %10s %12s %12s %8s %8s\n", "load", "MB in", "libtiff MB/s",
              "ours MB/s", "speedup", "ratio");
  for (const Load& load : loads) {
    const std::size_t rowBytes = load.rows[0].size();
    const auto strips = static_cast<std::size_t>(
        std::max(1.0, megabytes * 1e6 / static_cast<double>(rowBytes)));
    const double inMb = static_cast<double>(strips * rowBytes) / 1e6;
    const Result theirs = RunLibtiff(load.rows, strips, load.bits);
    const Result ours = RunOurs(load.rows, strips);
    const bool same =
        theirs.outBytes == ours.outBytes && SameStrips(load.rows, load.bits);
    std::printf("%-20s %10.0f %12.1f %12.1f %7.2fx %8.3f%s\n", load.name, inMb,
                inMb / theirs.seconds, inMb / ours.seconds,
                theirs.seconds / ours.seconds,
                static_cast<double>(ours.outBytes) / (inMb * 1e6),
                same ? "" : "  SIZES DIFFER");
  }
  return 0;
}
