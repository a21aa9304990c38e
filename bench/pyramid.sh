#!/usr/bin/env bash
# Puts the tile pyramid builder next to `vips dzsave` on the same 8-bit RGB
# image, tile size 254, overlap 1, JPEG quality 90: ROUNDS alternate runs
# each, outputs removed and flushed to disk before every timed run, inputs
# in the page cache. Prints each run and the medians.
#
#   bench/pyramid.sh                       30000 x 20000, 3 rounds
#   BENCH_SIZE=8000x6000 ROUNDS=5 bench/pyramid.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
size=${BENCH_SIZE:-30000x20000}
rounds=${ROUNDS:-3}
data=${BENCH_DIR:-$root/build/bench-data}/pyramid
W=${size%x*}
H=${size#*x}
bench=$build/bench/pyramid_bench
make_image=$build/bench/bench_make_image
for tool in "$bench" "$make_image"; do
  [[ -x $tool ]] || { echo "missing $tool: build the bench targets" >&2; exit 1; }
done
for tool in vips /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (libvips-tools, time)" >&2; exit 1; }
done

mkdir -p "$data"
raw=$data/img_${W}x${H}.raw
tif=$data/img_${W}x${H}.tif
[[ -f $raw ]] || "$make_image" "$W" "$H" 8 "$raw"
[[ -f $tif ]] || vips rawload "$raw" "$tif" "$W" "$H" 3

results=$(mktemp)
run() {  # NAME OUTDIR COMMAND...
  local name=$1 out=$2
  shift 2
  rm -rf "$out"
  mkdir -p "$out"
  sync
  cat "$raw" "$tif" >/dev/null  # both inputs from the page cache
  /usr/bin/time -f "$name %e %U %S %M" -o "$results.one" "$@" >/dev/null
  cat "$results.one" | tee -a "$results"
}
for ((i = 0; i < rounds; i++)); do
  run ours "$data/ours" "$bench" "$raw" "$W" "$H" "$data/ours" jpg 90
  run vips "$data/vips" vips dzsave "$tif" "$data/vips/bench" \
    --tile-size 254 --overlap 1 --suffix ".jpg[Q=90]"
done
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
echo "tool wall_s cpu_s peak_MB (medians of $rounds, $W x $H)"
for t in ours vips; do
  wall=$(awk -v t=$t '$1==t {print $2}' "$results" | median)
  cpu=$(awk -v t=$t '$1==t {print $3+$4}' "$results" | median)
  mem=$(awk -v t=$t '$1==t {print $5/1024}' "$results" | median)
  echo "$t $wall $cpu $mem"
done
rm -f "$results" "$results.one"
