// Writes and reads a PSB of the given size row by row, raw or RLE, and
// prints the wall time of each pass; run it under /usr/bin/time -v for the
// peak memory. Until the codec has its place in the format table it is
// built by hand against the core:
//   g++ -O2 -std=c++20 -Isrc bench/psd_bench.cpp
//       build/dev/libtrelvi_core.a -o build/dev/psd_bench   (one line)
//   /usr/bin/time -v build/dev/psd_bench /tmp/b.psb 30000 20000 raw
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/formats/psd/psd_reader.h"
#include "engine/formats/psd/psd_writer.h"

using namespace trelvi::psd;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: psd_bench FILE WIDTH HEIGHT [raw|rle]\n");
    return 2;
  }
  const std::string file = argv[1];
  PsdWriteSpec spec;
  spec.Width = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  spec.Height = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  spec.Depth = 8;
  spec.Version = PsdVersion::Psb;
  if (argc > 4 && std::strcmp(argv[4], "rle") == 0)
    spec.Compression = PsdCompression::Rle;

  // Rows that are mostly flat, as a scan's sky, with a changing start so
  // that no two rows are equal.
  std::vector<std::uint8_t> row(std::size_t{spec.Width} * 3, 0);
  auto start = std::chrono::steady_clock::now();
  {
    PsdWriter writer;
    if (!writer.Create(file, spec)) {
      std::fprintf(stderr, "cannot create %s\n", file.c_str());
      return 1;
    }
    for (std::uint32_t y = 0; y < spec.Height; ++y) {
      for (int i = 0; i < 64; ++i) row[i] = static_cast<std::uint8_t>(y + i);
      if (!writer.WriteRow(row.data())) {
        std::fprintf(stderr, "write failed at row %u\n", y);
        return 1;
      }
    }
    if (!writer.Finish()) {
      std::fprintf(stderr, "finish failed\n");
      return 1;
    }
  }
  std::printf("write %ux%u %s: %.2f s\n", spec.Width, spec.Height,
              spec.Compression == PsdCompression::Rle ? "rle" : "raw",
              Seconds(start));

  start = std::chrono::steady_clock::now();
  PsdReader reader;
  if (reader.Open(file) != PsdOpenResult::Ok) {
    std::fprintf(stderr, "cannot open %s\n", file.c_str());
    return 1;
  }
  std::uint64_t sum = 0;
  for (std::uint32_t y = 0; y < spec.Height; ++y) {
    if (!reader.ReadRow(y, row.data())) {
      std::fprintf(stderr, "read failed at row %u\n", y);
      return 1;
    }
    sum += row[y % row.size()];
  }
  std::printf("read: %.2f s (check %llu)\n", Seconds(start),
              static_cast<unsigned long long>(sum));
  return 0;
}
