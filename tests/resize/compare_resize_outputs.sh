#!/usr/bin/env bash
# Resizes a set of generated images with two builds of the command line and
# compares every output byte for byte: 8 and 16 bits, nearest neighbour and
# Lanczos, a single tile, one tiled pass, several passes, every output
# format, and a TIFF input (which is first written as RAW).
#
#   tests/resize/compare_resize_outputs.sh BASELINE_TRELVI NEW_TRELVI MAKE_IMAGE [WORK_DIR]
#
# MAKE_IMAGE is the benchmark's bench_make_image. Exit status 0 when every
# output is identical.
set -euo pipefail

base=$1 new=$2 make=$3
work=${4:-$(mktemp -d)}
mkdir -p "$work/in"

image() {  # width height bits
  local f="$work/in/img$3_$1X$2.raw"
  [ -f "$f" ] || "$make" "$1" "$2" "$3" "$f"
  echo "$f"
}

tif="$work/in/photo.tif"
if [ ! -f "$tif" ]; then
  mkdir -p "$work/convert"
  "$base" convert "$(image 12000 900 8)" -f tif -o "$work/convert" -y -q
  mv "$work/convert"/* "$tif"
  rmdir "$work/convert"
fi

cases=(
  # input width flags format
  "$(image 10500 300 8) 5000 --fast raw"
  "$(image 10500 300 8) 5000 - tif"
  "$(image 10500 300 16) 5000 --fast tif"
  "$(image 10500 300 16) 5000 - raw"
  "$(image 25000 600 8) 2400 --fast tif-lzw"
  "$(image 25000 600 8) 2400 - kro"
  "$(image 25000 300 16) 1200 --fast kro"
  "$(image 25000 300 16) 1200 - tif-lzw"
  "$(image 30000 30 8) 7000 - raw"
  "$(image 100000 60 8) 12000 --fast tif"
  "$(image 100000 60 8) 12000 - tif"
  "$(image 100000 40 16) 12000 - raw"
  "$tif 3000 - tif"
  "$tif 3000 --fast raw"
)

failed=0
for c in "${cases[@]}"; do
  read -r input width flags format <<<"$c"
  [ "$flags" = - ] && flags=
  for build in base new; do
    out="$work/out_$build"
    rm -rf "$out" && mkdir -p "$out"
    bin=$base
    [ $build = new ] && bin=$new
    # shellcheck disable=SC2086
    "$bin" resize "$input" --width "$width" $flags -f "$format" -o "$out" -y -q
  done
  outputs=$(cd "$work/out_base" && ls)
  label="$(basename "$input") --width $width ${flags:-(lanczos)} -f $format"
  if [ "$outputs" != "$(cd "$work/out_new" && ls)" ] || [ -z "$outputs" ]; then
    echo "DIFFERENT FILES  $label: $outputs / $(cd "$work/out_new" && ls)"
    failed=1
    continue
  fi
  for f in $outputs; do
    if cmp -s "$work/out_base/$f" "$work/out_new/$f"; then
      echo "identical  $label -> $f ($(stat -c %s "$work/out_new/$f") bytes)"
    else
      echo "DIFFERENT  $label -> $f"
      failed=1
    fi
  done
done
exit $failed
