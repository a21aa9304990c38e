#!/usr/bin/env bash
# Runs every command of two trelvi builds on the same inputs and compares
# everything they write, byte for byte, together with what they print and
# their exit status:
#   bash scripts/compare-outputs.sh OLD_TRELVI NEW_TRELVI [WORK_FOLDER]
# Exits 0 when all is equal, 1 on any difference, 2 on a usage or set-up
# error. The work folder (a fresh temporary one by default) is removed at
# the end unless it was given or something differed.
#
# The inputs are larger than the golden test's: a generated photo-like RAW
# at 8 and at 16 bits, wide enough for the resize, and TIFF, LZW TIFF and
# KRO copies of them written by OLD. With tiffcp (libtiff-tools) there are
# tiled and planar-separate TIFF inputs too.
set -euo pipefail

if [[ $# -lt 2 || $# -gt 3 ]]; then
  echo "usage: $0 OLD_TRELVI NEW_TRELVI [WORK_FOLDER]" >&2
  exit 2
fi
old=$(realpath "$1")
new=$(realpath "$2")
for bin in "$old" "$new"; do
  if [[ ! -x "$bin" ]]; then
    echo "not an executable: $bin" >&2
    exit 2
  fi
done
if [[ $# -eq 3 ]]; then
  work=$(realpath -m "$3")
  keep=1
  rm -rf "$work"
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/trelvi-compare.XXXXXX")
  keep=0
fi
in="$work/in"
mkdir -p "$in"

# ---------------------------------------------------------------------------
# Inputs

# A W x H RAW file of 8- or 16-bit samples: gradients, hard-edged bands,
# thin bright lines and a little noise from a fixed generator. Rows are
# windows into one long generated row, shifted 7 pixels a row, in 16
# brightness steps from top to bottom: cheap to make, and no two rows alike.
make_raw() {
  perl -e '
    use strict; use warnings; use integer;
    my ($w, $h, $bits, $file) = @ARGV;
    my $span = $w + 7 * $h;
    my $seed = 20261210;
    my $rnd = sub { $seed = ($seed * 1103515245 + 12345) % 2147483648;
                    return $seed >> 8; };
    my @base;
    for my $p (0 .. $span - 1) {
      for my $c (0 .. 2) {
        my $v = 40 * 257 + $p * 150 * 257 / $span + $c * 20 * 257;
        $v += 50 * 257 if $p % 500 < 60;
        $v = (230 - 30 * $c) * 257 if $p % 1700 < 9;
        $v += $rnd->() % 1793 - 896;
        push @base, $v;
      }
    }
    my $bpp = 3 * $bits / 8;
    my @steps;
    for my $k (0 .. 15) {
      my @s = map { my $v = $_ + ($k * 4 - 30) * 257;
                    $v < 0 ? 0 : $v > 65535 ? 65535 : $v } @base;
      $steps[$k] = $bits == 8 ? pack("C*", map { $_ >> 8 } @s)
                              : pack("v*", @s);
    }
    open(my $out, ">:raw", $file) or die "$file: $!";
    for my $y (0 .. $h - 1) {
      print $out substr($steps[$y * 16 / $h], 7 * $y * $bpp, $w * $bpp);
    }
    close($out) or die "$file: $!";
  ' "$@"
}

echo "inputs in $in"
make_raw 12000 160 8 "$in/p8_12000X160.raw"
make_raw 10600 128 16 "$in/p16_10600X128.raw"
cp "$in/p8_12000X160.raw" "$in/noname.raw"  # sized by --raw-size

# Written by OLD; both builds then read the very same files.
made="$work/made"
make_with_old() {  # make_with_old SOURCE FORMAT NEW_NAME
  local dir="$made/$3"
  mkdir -p "$dir"
  "$old" convert "$1" -f "$2" -o "$dir" -q
  mv "$dir"/* "$in/$3"
}
make_with_old "$in/p8_12000X160.raw" tif t8.tif
make_with_old "$in/p16_10600X128.raw" tif t16.tif
make_with_old "$in/p16_10600X128.raw" tif-lzw lzw16.tif
make_with_old "$in/p8_12000X160.raw" kro k8.kro
make_with_old "$in/p16_10600X128.raw" kro k16.kro
if command -v tiffcp >/dev/null; then
  # (tiffcp makes planar-separate files of 8-bit samples only.)
  tiffcp -t -w 512 -l 256 "$in/t16.tif" "$in/tiled16.tif"
  tiffcp -p separate "$in/t8.tif" "$in/planar8.tif"
else
  echo "no tiffcp: no tiled or planar-separate inputs"
fi
rm -rf "$made"

# ---------------------------------------------------------------------------
# The runs

formats=(tif tif-lzw raw kro)
cases=0

# run NAME SUBCOMMAND ARGS...: runs the command with both builds, each in
# its own folder of results (out-old, out-new) so that every path the
# programs print is the same relative one. Each case writes into NAME/ and
# its printed output and exit status go to NAME.log.
run() {
  local name="$1"
  shift
  cases=$((cases + 1))
  local side bin status
  for side in old new; do
    if [[ $side == old ]]; then bin="$old"; else bin="$new"; fi
    (
      cd "$work/out-$side"
      mkdir -p "$name"
      status=0
      "$bin" "$@" >"$name.log.out" 2>"$name.log.err" || status=$?
      {
        echo "status $status"
        echo "--- stdout"
        cat "$name.log.out"
        echo "--- stderr"
        cat "$name.log.err"
      } >"$name.log"
      rm -f "$name.log.out" "$name.log.err"
    )
  done
}

mkdir -p "$work/out-old" "$work/out-new"

inputs=("$in"/*.raw "$in"/*.tif "$in"/*.kro)
for input in "${inputs[@]}"; do
  key=$(basename "$input")
  key=${key%.*}
  extra=()
  if [[ $key == noname ]]; then extra=(--raw-size 12000x160 --bits 8); fi
  echo "running $key"
  run "$key-info" info "$input" "${extra[@]}"
  for f in "${formats[@]}"; do
    run "$key-convert-$f" convert "$input" -f "$f" -o "$key-convert-$f" -q \
      "${extra[@]}"
    run "$key-crop-$f" crop "$input" --x 1001 --y 17 --width 5003 \
      --height 97 -f "$f" -o "$key-crop-$f" -q "${extra[@]}"
  done
  [[ $key == noname ]] && continue
  # Every input in one format, the RAW inputs in all four; each set of
  # tiles OLD wrote is merged by both into another format.
  split_formats=(tif-lzw)
  [[ $key == p8_* || $key == p16_* ]] && split_formats=("${formats[@]}")
  for i in "${!split_formats[@]}"; do
    f=${split_formats[$i]}
    run "$key-split-$f" split "$input" --tile 4096x256 -f "$f" \
      -o "$key-split-$f" -q
    tiles=("$work/out-old/$key-split-$f"/*)
    m=${formats[$(((i + 1) % 4))]}
    run "$key-merge-$f-to-$m" merge "${tiles[@]}" -f "$m" \
      -o "$key-merge-$f-to-$m" -q
  done
  # The resize wants 10000 pixels on one side: every input here has them.
  run "$key-resize-fast" resize "$input" --width 1500 --fast -f tif \
    -o "$key-resize-fast" -q
  run "$key-resize-slow" resize "$input" --width 2000 -f tif-lzw \
    -o "$key-resize-slow" -q
done

# ---------------------------------------------------------------------------
# The comparison

listing() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort); }
listing "$work/out-old" >"$work/list-old"
listing "$work/out-new" >"$work/list-new"

differ=0
only=$(LC_ALL=C comm -3 "$work/list-old" "$work/list-new" || true)
if [[ -n $only ]]; then
  echo "present on one side only (old left, new indented):"
  echo "$only" | sed 's/^/  /'
  differ=$((differ + $(echo "$only" | wc -l)))
fi
files=0
equal=0
while IFS= read -r f; do
  [[ -f "$work/out-old/$f" ]] || continue
  files=$((files + 1))
  if cmp -s "$work/out-old/$f" "$work/out-new/$f"; then
    equal=$((equal + 1))
  else
    echo "differs: ${f#./}"
    differ=$((differ + 1))
  fi
done < <(LC_ALL=C comm -12 "$work/list-old" "$work/list-new")

bytes=$(du -sb "$work/out-old" | cut -f1)
echo "old: $old"
echo "new: $new"
echo "$cases commands, $files files compared ($bytes bytes a side):" \
  "$equal equal, $differ different"
if [[ $differ -eq 0 ]]; then
  echo "ALL EQUAL"
  [[ $keep -eq 1 ]] || rm -rf "$work"
  exit 0
fi
echo "DIFFERENCES FOUND; results kept in $work"
exit 1
