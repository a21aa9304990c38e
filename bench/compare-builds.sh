#!/usr/bin/env bash
# Times every operation of two builds of the command line on the same
# photo-like image, alternately, so that a change can be shown not to slow
# anything down.
#
#   bench/compare-builds.sh OLD_TRELVI NEW_TRELVI [WxH] [ROUNDS]
#
# Prints, per operation, the median wall and CPU (user + sys) time of each
# build and the ratio new/old of both. CPU time is the steadier figure on a
# busy machine.
set -euo pipefail

old=${1:?usage: compare-builds.sh OLD NEW [WxH] [ROUNDS]}
new=${2:?usage: compare-builds.sh OLD NEW [WxH] [ROUNDS]}
size=${3:-12000x8000}
rounds=${4:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
make_image=${MAKE_IMAGE:-$root/build/release/bench/bench_make_image}
W=${size%x*}
H=${size#*x}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

"$make_image" "$W" "$H" 8 "$work/pano_${W}X${H}.raw"
raw=$work/pano_${W}X${H}.raw
"$old" convert "$raw" -o "$work" -q -y >/dev/null 2>&1
tif=$work/pano.tif
mkdir -p "$work/tiles"
"$old" split "$tif" --tile 2000x2000 -o "$work/tiles" -q -y >/dev/null 2>&1

ops=(
  "TIFF -> TIFF|convert $tif -f tif"
  "TIFF -> LZW TIFF|convert $tif -f tif-lzw"
  "TIFF -> RAW|convert $tif -f raw"
  "RAW -> TIFF|convert $raw -f tif"
  "crop|crop $tif --x $((W / 6)) --y $((H / 5)) --width $((W / 3)) --height $((H / 2))"
  "split 1000x1000|split $tif --tile 1000x1000"
  "merge 2000x2000 tiles|merge $work/tiles/*_x*y*.tif"
  "resize slow|resize $tif --width $((W / 10))"
  "resize fast|resize $tif --width $((W / 10)) --fast"
)

printf '%-24s %9s %9s %9s %9s %7s %7s\n' operation old-wall new-wall old-cpu new-cpu wall cpu
for entry in "${ops[@]}"; do
  name=${entry%%|*}
  args=${entry#*|}
  : >"$work/old.t"
  : >"$work/new.t"
  for ((r = 0; r < rounds; r++)); do
    for side in old new; do
      bin=$old
      [[ $side == new ]] && bin=$new
      out=$work/out-$side
      rm -rf "$out"
      mkdir -p "$out"
      # shellcheck disable=SC2086
      /usr/bin/time -f "%e %U %S" -o "$work/t" "$bin" $args -o "$out" -q -y \
        >/dev/null 2>&1
      awk '{print $1, $2 + $3}' "$work/t" >>"$work/$side.t"
    done
  done
  ow=$(awk '{print $1}' "$work/old.t" | median)
  nw=$(awk '{print $1}' "$work/new.t" | median)
  oc=$(awk '{print $2}' "$work/old.t" | median)
  nc=$(awk '{print $2}' "$work/new.t" | median)
  awk -v n="$name" -v ow="$ow" -v nw="$nw" -v oc="$oc" -v nc="$nc" 'BEGIN {
    printf "%-24s %9.2f %9.2f %9.2f %9.2f %7.2f %7.2f\n", n, ow, nw, oc, nc,
      (ow > 0 ? nw / ow : 0), (oc > 0 ? nc / oc : 0) }'
done
