#!/bin/sh
# Converting a tiled TIFF against converting the same image striped: wall
# time and peak memory of `trelvi convert` for each. Run by hand:
#
#   bench/tiled_vs_striped.sh [TRELVI] [WORKDIR]
#
# TRELVI defaults to build/tiled-rel/trelvi (a Release build), WORKDIR to
# /work/benchdata. Settings through the environment: WIDTH (30000), HEIGHT
# (20000), BITS (8 or 16), TILE (256, tile side), COMPRESSION (none or lzw),
# FORMAT (the output format, raw), RUNS (3; the best run of each counts).
# The images are written once by a small libtiff program built here and
# kept for later runs; the outputs are deleted after each run.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
trelvi=${1:-$here/../build/tiled-rel/trelvi}
work=${2:-/work/benchdata}
width=${WIDTH:-30000}
height=${HEIGHT:-20000}
bits=${BITS:-8}
tile=${TILE:-256}
compression=${COMPRESSION:-none}
format=${FORMAT:-raw}
runs=${RUNS:-3}

[ -x "$trelvi" ] || { echo "no trelvi at $trelvi" >&2; exit 2; }
mkdir -p "$work/out"
gen=$work/tiled_vs_striped_gen

if [ ! -x "$gen" ]; then
  cat > "$work/tiled_vs_striped_gen.cpp" <<'EOF'
// gen OUT.tif WIDTH HEIGHT BITS TILE(0: striped) none|lzw
// A photo-like RGB picture (gradients, hard edges, a little noise), the
// same pixels whatever the layout.
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

static void Row(std::vector<std::uint8_t>& row, std::uint32_t w,
                std::uint32_t h, std::uint32_t y, int bps) {
  std::uint32_t seed = 12345u + y * 2654435761u;
  const double fy = double(y) / h;
  for (std::uint32_t x = 0; x < w; ++x) {
    const double fx = double(x) / w;
    double v[3] = {60 + 150 * fx + 20 * std::sin(fy * 17 + fx * 5),
                   90 + 100 * fy + 25 * std::sin(fx * 23),
                   200 - 120 * fy + 15 * std::cos((fx + fy) * 31)};
    const bool dark = ((x / 2500) * 7 + (y / 1700) * 3) % 5 == 0;
    seed = seed * 1664525u + 1013904223u;
    for (int c = 0; c < 3; ++c) {
      double s = (dark ? v[c] * 0.45 : v[c]) + double((seed >> 28) & 3) - 1.5;
      s = s < 0 ? 0 : (s > 255 ? 255 : s);
      std::uint8_t* p = &row[(std::size_t(x) * 3 + c) * bps];
      if (bps == 1) {
        p[0] = std::uint8_t(s);
      } else {
        const std::uint16_t s16 = std::uint16_t(s * 257);
        std::memcpy(p, &s16, 2);
      }
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 7) return 2;
  const std::uint32_t w = std::atol(argv[2]), h = std::atol(argv[3]);
  const int bits = std::atoi(argv[4]), bps = bits / 8;
  const std::uint32_t tile = std::atol(argv[5]);
  const bool lzw = std::strcmp(argv[6], "lzw") == 0;
  const std::uint64_t bytes = std::uint64_t(w) * h * 3 * bps;
  TIFF* t = TIFFOpen(argv[1], bytes > 4000000000ull ? "w8" : "w");
  if (!t) return 1;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  const std::size_t rowBytes = std::size_t(w) * 3 * bps;
  std::vector<std::uint8_t> row(rowBytes);
  if (tile == 0) {
    // libtiff's usual strips, as most striped files have them.
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    for (std::uint32_t y = 0; y < h; ++y) {
      Row(row, w, h, y, bps);
      if (TIFFWriteScanline(t, row.data(), y, 0) != 1) return 1;
    }
  } else {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, tile);
    const std::size_t px = 3 * bps, tileRow = std::size_t(tile) * px;
    const std::uint32_t across = (w + tile - 1) / tile;
    std::vector<std::uint8_t> band(std::size_t(across) * tile * tileRow, 0);
    for (std::uint32_t ty = 0; ty < h; ty += tile) {
      std::memset(band.data(), 0, band.size());
      for (std::uint32_t y = ty; y < h && y < ty + tile; ++y) {
        Row(row, w, h, y, bps);
        for (std::uint32_t a = 0; a < across; ++a) {
          const std::uint32_t x = a * tile, n = w - x < tile ? w - x : tile;
          std::memcpy(&band[(std::size_t(a) * tile + (y - ty)) * tileRow],
                      &row[std::size_t(x) * px], std::size_t(n) * px);
        }
      }
      for (std::uint32_t a = 0; a < across; ++a)
        if (TIFFWriteTile(t, &band[std::size_t(a) * tile * tileRow], a * tile,
                          ty, 0, 0) < 0)
          return 1;
    }
  }
  TIFFClose(t);
  return 0;
}
EOF
  c++ -O2 -std=c++17 -o "$gen" "$work/tiled_vs_striped_gen.cpp" -ltiff
fi

tag=${width}x${height}_${bits}_${compression}
striped=$work/striped_$tag/pic.tif
tiled=$work/tiled${tile}_$tag/pic.tif
for f in "$striped" "$tiled"; do
  if [ ! -s "$f" ]; then
    mkdir -p "$(dirname "$f")"
    t=0
    [ "$f" = "$tiled" ] && t=$tile
    echo "writing $f"
    "$gen" "$f" "$width" "$height" "$bits" "$t" "$compression"
  fi
done

# One conversion; prints "wall-seconds cpu-seconds peak-KB".
run() {
  rm -f "$work/out/"*
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
    "$trelvi" convert "$1" -f "$format" -q -y -o "$work/out/" >/dev/null
  rm -f "$work/out/"*
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$work/time.txt"
}

# Smaller of two numbers (the second when the first is empty).
least() { awk -v a="$1" -v b="$2" 'BEGIN{print (a == "" || b < a) ? b : a}'; }

# Warm the page cache with both inputs, then alternate so that neither
# layout profits from the other's run. On a shared machine the wall time
# waits for other processes; the processor time (user + system) does not.
run "$striped" >/dev/null
run "$tiled" >/dev/null
wall_s="" wall_t="" cpu_s="" cpu_t="" mem_s=0 mem_t=0
i=0
while [ "$i" -lt "$runs" ]; do
  set -- $(run "$striped")
  wall_s=$(least "$wall_s" "$1"); cpu_s=$(least "$cpu_s" "$2"); mem_s=$3
  echo "run $((i + 1)): striped $1 s (cpu $2 s)"
  set -- $(run "$tiled")
  wall_t=$(least "$wall_t" "$1"); cpu_t=$(least "$cpu_t" "$2"); mem_t=$3
  echo "run $((i + 1)): tiled   $1 s (cpu $2 s)"
  i=$((i + 1))
done

echo "image ${width} x ${height}, ${bits} bits, ${compression}, tiles ${tile}, output ${format}"
echo "striped: best ${wall_s} s, cpu ${cpu_s} s, peak ${mem_s} KB"
echo "tiled:   best ${wall_t} s, cpu ${cpu_t} s, peak ${mem_t} KB"
awk "BEGIN{printf \"tiled / striped: wall %.3f, cpu %.3f (limit 1.2)\n\", \
  $wall_t / $wall_s, $cpu_t / $cpu_s}"
