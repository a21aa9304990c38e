#!/usr/bin/env bash
# Puts the trelvi command line next to the tools users would pick instead
# (libvips, libtiff's tools, GDAL) on the same machine, in the same run.
#
#   bench/run.sh                 30000 x 20000, 8 and 16 bits, 3 rounds
#   BENCH_SIZE=8000x6000 ROUNDS=5 BENCH_BITS=8 bench/run.sh
#   BENCH_ONLY='LZW|Deflate|ZSTD' bench/run.sh   only the operations matching
#                                                the extended regex
#
# Last, ours alone crops the bottom-right 1000 x 1000 of a sparse
# 150000 x 150000 RAW, made in the data folder (it takes no disk).
#
# Each operation runs ours and each peer alternately, ROUNDS times, from a
# warm page cache; the table shows median wall time, CPU time (user + sys)
# and peak resident memory, and the ratio of our wall time to the peer's.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
trelvi=$build/trelvi
make_image=$build/bench/bench_make_image
size=${BENCH_SIZE:-30000x20000}
rounds=${ROUNDS:-3}
bits_list=${BENCH_BITS:-8 16}
data=${BENCH_DIR:-$root/build/bench-data}
W=${size%x*}
H=${size#*x}
# The crop: 10000 x 10000 at (5000, 4000) of the default size, in proportion
# for others.
cx=$((W / 6)) cy=$((H / 5)) cw=$((W / 3)) ch=$((H / 2))

for tool in "$trelvi" "$make_image"; do
  [[ -x $tool ]] || { echo "missing $tool: run 'make build' first" >&2; exit 1; }
done
peers=(vips tiffcp raw2tiff gdal_retile.py gdal_merge.py convert /usr/bin/time)
# The compression rows alone need no GDAL.
[[ -n ${BENCH_ONLY:-} ]] && peers=(vips tiffcp /usr/bin/time)
for tool in "${peers[@]}"; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run 'make bench'" >&2; exit 1; }
done

mkdir -p "$data" "$data/magick"
# ImageMagick's limits for the large-document peer: as large as the machine.
cat >"$data/magick/policy.xml" <<'EOF'
<policymap>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="100GP"/>
  <policy domain="resource" name="memory" value="64GiB"/>
  <policy domain="resource" name="map" value="64GiB"/>
  <policy domain="resource" name="disk" value="1TiB"/>
</policymap>
EOF
work=$data/work
results=$data/results.txt
sizes=$data/sizes.txt
: >"$results"
: >"$sizes"

# Median of the numbers on standard input.
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# measure NAME ROUND COMMAND...: one timed run, appended to the results.
measure() {
  local name=$1 round=$2
  shift 2
  if [[ -n ${BENCH_ONLY:-} && ! ${name%%|*} =~ $BENCH_ONLY ]]; then return 0; fi
  local t
  t=$(mktemp)
  if ! /usr/bin/time -f "%e %U %S %M" -o "$t" "$@" >/dev/null 2>"$t.err"; then
    # A peer that cannot do the job shows as failed in the table; ours
    # failing stops the run.
    echo "FAILED: $name: $*" >&2
    tail -n 3 "$t.err" >&2
    rm -f "$t" "$t.err"
    [[ $name == *"|ours" ]] && return 1
    echo "$name $round -1 -1 0" >>"$results"
    return 0
  fi
  read -r wall user sys peak <"$t"
  echo "$name $round $wall $(awk "BEGIN{print $user+$sys}") $peak" >>"$results"
  rm -f "$t" "$t.err"
}

# measure_sized NAME ROUND DIR COMMAND...: measure, then note the bytes the
# command left in DIR (the output size column of the table).
measure_sized() {
  local name=$1 round=$2 dir=$3
  shift 3
  if [[ -n ${BENCH_ONLY:-} && ! ${name%%|*} =~ $BENCH_ONLY ]]; then return 0; fi
  measure "$name" "$round" "$@"
  echo "$name $(du -sb "$dir" | cut -f1)" >>"$sizes"
}

# clean DIR: an empty output folder.
clean() { rm -rf "$1"; mkdir -p "$1"; }

warm() { cat "$@" >/dev/null; }

for bits in $bits_list; do
  raw=$data/photo${bits}_${W}X${H}.raw
  tif=$data/photo${bits}.tif
  if [[ ! -f $raw ]]; then
    echo "making $raw" >&2
    "$make_image" "$W" "$H" "$bits" "$raw"
  fi
  if [[ ! -f $tif ]]; then
    clean "$work"
    "$trelvi" convert "$raw" -f tif -q -o "$work"
    mv "$work/photo${bits}.tif" "$tif"
  fi
  psd=$(ls "$data/photo${bits}".ps[db] 2>/dev/null | head -n 1 || true)
  if [[ -z $psd ]]; then
    clean "$work"
    "$trelvi" convert "$tif" -f psd -q -o "$work"
    psd=$(ls "$work/photo${bits}".ps[db])
    mv "$psd" "$data/"
    psd=$data/$(basename "$psd")
  fi
  psdkind=PSD
  [[ $psd == *.psb ]] && psdkind=PSB
  dtype=byte
  [[ $bits == 16 ]] && dtype=short
  tag="${bits}-bit"

  for ((r = 1; r <= rounds; r++)); do
    echo "round $r of $rounds, $tag" >&2
    warm "$raw" "$tif" "$psd"
    out=$work/out
    clean "$out"; measure "cp of the input|$tag|cp" $r cp "$tif" "$out/copy.tif"

    clean "$out"; measure "TIFF -> TIFF|$tag|ours" $r "$trelvi" convert "$tif" -f tif -q -y -o "$out"
    # The cost of flushing the output and its folder to the disk.
    clean "$out"; measure "TIFF -> TIFF|$tag|ours --sync" $r "$trelvi" convert "$tif" -f tif -q -y --sync -o "$out"
    clean "$out"; measure "TIFF -> TIFF|$tag|vips copy" $r vips copy "$tif" "$out/v.tif"
    clean "$out"; measure "TIFF -> TIFF|$tag|tiffcp" $r tiffcp "$tif" "$out/t.tif"

    clean "$out"; measure_sized "TIFF -> LZW TIFF|$tag|ours" $r "$out" "$trelvi" convert "$tif" -f tif-lzw -q -y -o "$out"
    clean "$out"; measure_sized "TIFF -> LZW TIFF|$tag|vips tiffsave" $r "$out" vips tiffsave "$tif" "$out/v.tif" --compression lzw
    # Without a predictor vips writes the LZW codes ours does.
    clean "$out"; measure_sized "TIFF -> LZW TIFF|$tag|vips lzw no pred" $r "$out" vips tiffsave "$tif" "$out/v.tif" --compression lzw --predictor none
    clean "$out"; measure_sized "TIFF -> LZW TIFF|$tag|tiffcp -c lzw" $r "$out" tiffcp -c lzw "$tif" "$out/t.tif"

    # Deflate and ZSTD with horizontal differencing, at our default levels.
    clean "$out"; measure_sized "TIFF -> Deflate TIFF|$tag|ours" $r "$out" "$trelvi" convert "$tif" -f tif-deflate -q -y -o "$out"
    clean "$out"; measure_sized "TIFF -> Deflate TIFF|$tag|vips deflate 6" $r "$out" vips tiffsave "$tif" "$out/v.tif" --compression deflate --predictor horizontal --level 6
    clean "$out"; measure_sized "TIFF -> ZSTD TIFF|$tag|ours" $r "$out" "$trelvi" convert "$tif" -f tif-zstd -q -y -o "$out"
    clean "$out"; measure_sized "TIFF -> ZSTD TIFF|$tag|vips zstd 9" $r "$out" vips tiffsave "$tif" "$out/v.tif" --compression zstd --predictor horizontal --level 9

    clean "$out"; measure "TIFF -> RAW|$tag|ours" $r "$trelvi" convert "$tif" -f raw -q -y -o "$out"
    clean "$out"; measure "TIFF -> RAW|$tag|vips rawsave" $r vips rawsave "$tif" "$out/v.raw"

    clean "$out"; measure "RAW -> TIFF|$tag|ours" $r "$trelvi" convert "$raw" -f tif -q -y -o "$out"
    clean "$out"; measure "RAW -> TIFF|$tag|raw2tiff" $r raw2tiff -w "$W" -l "$H" -b 3 -d "$dtype" -i pixel -p rgb -c none "$raw" "$out/t.tif"

    # The large-document format: -f psd picks PSD or PSB by the output's
    # size (an 8-bit 30000 x 20000 is 1.8 GB and both sides fit, so a PSD;
    # at 16 bits a PSB), and the rows name the flavour written. ImageMagick
    # loads the whole composite; its default policy refuses sides above
    # 16000 pixels, so it runs with the bench's own policy lifting the
    # limits (it shows as failed when memory runs out).
    clean "$out"; measure "TIFF -> $psdkind|$tag|ours" $r "$trelvi" convert "$tif" -f psd -q -y -o "$out"
    clean "$out"; measure "$psdkind -> TIFF|$tag|ours" $r "$trelvi" convert "$psd" -f tif -q -y -o "$out"
    clean "$out"; measure "$psdkind -> TIFF|$tag|ImageMagick convert" $r env MAGICK_CONFIGURE_PATH="$data/magick" convert "$psd[0]" "$out/m.tif"

    clean "$out"; measure "crop|$tag|ours" $r "$trelvi" crop "$tif" --x "$cx" --y "$cy" --width "$cw" --height "$ch" -q -y -o "$out"
    clean "$out"; measure "crop|$tag|vips crop" $r vips crop "$tif" "$out/v.tif" "$cx" "$cy" "$cw" "$ch"

    # Tiles for the merges come from the splits of the last round.
    tiles=$work/tiles-ours
    clean "$tiles"; measure "split 1000x1000|$tag|ours" $r "$trelvi" split "$tif" --tile 1000x1000 -f tif -q -y -o "$tiles"
    clean "$out"; measure "split 1000x1000|$tag|vips dzsave" $r vips dzsave "$tif" "$out/v" --layout google --depth one --tile-size 1000 --overlap 0 --suffix .tif
    gtiles=$work/tiles-gdal
    clean "$gtiles"; measure "split 1000x1000|$tag|gdal_retile" $r gdal_retile.py -q -ps 1000 1000 -targetDir "$gtiles" "$tif"

    # The web pyramid at its defaults (254-pixel JPEG tiles at quality 90,
    # overlap 1) next to vips' with the same settings.
    if [[ $bits == 8 ]]; then
      clean "$out"; measure_sized "Deep Zoom pyramid|$tag|ours" $r "$out" "$trelvi" pyramid "$tif" -q -y -o "$out"
      clean "$out"; measure_sized "Deep Zoom pyramid|$tag|vips dzsave" $r "$out" vips dzsave "$tif" "$out/v" --tile-size 254 --overlap 1 --suffix ".jpg[Q=90]"
    fi

    cols=$(( (W + 999) / 1000 ))
    rows=$(( (H + 999) / 1000 ))
    ordered=()
    for ((y = 1; y <= rows; y++)); do
      for ((x = 1; x <= cols; x++)); do
        # Empty when the split was filtered out, as is the merge then.
        ordered+=("$(ls "$tiles"/*_x${x}y${y}.tif 2>/dev/null || true)")
      done
    done
    clean "$out"; measure "merge 1000x1000 tiles|$tag|ours" $r "$trelvi" merge "${ordered[@]}" -f tif -q -y -o "$out"
    clean "$out"; measure "merge 1000x1000 tiles|$tag|vips arrayjoin" $r vips arrayjoin "${ordered[*]}" "$out/v.tif" --across "$cols"
    clean "$out"; measure "merge 1000x1000 tiles|$tag|gdal_merge" $r gdal_merge.py -q -o "$out/g.tif" "$gtiles"/*.tif

    # The resize takes images of at least 10000 pixels on one side; it scales
    # to a tenth of the width, as vips does with 0.1.
    if [[ $bits == 8 ]] && ((W >= 10000 || H >= 10000)); then
      rw=$((W / 10))
      clean "$out"; measure "resize to $rw slow|$tag|ours" $r "$trelvi" resize "$tif" --width "$rw" -q -y -o "$out"
      clean "$out"; measure "resize to $rw slow|$tag|vips lanczos3" $r vips resize "$tif" "$out/v.tif" 0.1 --kernel lanczos3 --gap 0
      clean "$out"; measure "resize to $rw fast|$tag|ours" $r "$trelvi" resize "$tif" --width "$rw" --fast -q -y -o "$out"
      clean "$out"; measure "resize to $rw fast|$tag|vips nearest" $r vips resize "$tif" "$out/v.tif" 0.1 --kernel nearest
    fi
  done
done

# The corner of a 150000 x 150000 8-bit RAW that the file system holds as a
# hole: 67.5 GB that take no disk. Only the rectangle's 1000 rows should be
# read, whatever lies above them.
sparse=$data/pano_150000X150000.raw
[[ -f $sparse ]] || truncate -s $((150000 * 150000 * 3)) "$sparse"
if (($(stat -c %b "$sparse") * 512 > 1 << 30)); then
  echo "skipping the sparse crop: $data holds no sparse files" >&2
else
  for ((r = 1; r <= rounds; r++)); do
    echo "round $r of $rounds, sparse corner crop" >&2
    out=$work/out
    clean "$out"; measure "crop corner of sparse 150000x150000 RAW|8-bit|ours" $r "$trelvi" crop "$sparse" --x 149000 --y 149000 --width 1000 --height 1000 -q -y -o "$out"
  done
fi
rm -rf "$work"

# The table: one line per operation and peer, medians over the rounds.
echo
python3 - "$results" "$sizes" <<'PY'
import sys, statistics, collections
out_bytes = {}
for line in open(sys.argv[2]):
    key, size = line.rsplit(None, 1)
    out_bytes[key] = int(size)
rows = collections.OrderedDict()
for line in open(sys.argv[1]):
    parts = line.rsplit(None, 4)
    key, _round, wall, cpu, peak = parts[0], parts[1], float(parts[2]), float(parts[3]), int(parts[4])
    rows.setdefault(key, []).append((wall, cpu, peak))
# A run that failed counts as failed for the whole row.
med = {k: ((statistics.median(w for w, _, _ in v), statistics.median(c for _, c, _ in v),
            max(p for _, _, p in v) / 1024) if all(w >= 0 for w, _, _ in v) else None)
       for k, v in rows.items()}
# The operation column is as wide as its longest name.
ow = max([22] + [len(k.split("|")[0]) for k in med])
print(f"{'operation':<{ow}} {'depth':<7} {'tool':<16} {'wall s':>9} {'cpu s':>9} {'peak MB':>10} {'ours/peer':>9} {'out MB':>9} {'size/ours':>9}")
ours = {}
for k in med:
    op, depth, tool = k.split("|")
    if tool == "ours" and med[k]:
        ours[(op, depth)] = med[k][0]
for k, m in med.items():
    op, depth, tool = k.split("|")
    if m is None:
        print(f"{op:<{ow}} {depth:<7} {tool:<16} {'failed':>9}")
        continue
    wall, cpu, peak = m
    mine = ours.get((op, depth))
    ratio = "" if tool == "ours" or mine is None or wall == 0 else f"{mine / wall:.2f}"
    size = out_bytes.get(k)
    mine_size = out_bytes.get(f"{op}|{depth}|ours")
    mb = "" if size is None else f"{size / 1e6:.1f}"
    rel = "" if size is None or mine_size is None or tool == "ours" or size == 0 else f"{mine_size / size:.3f}"
    print(f"{op:<{ow}} {depth:<7} {tool:<16} {wall:9.2f} {cpu:9.2f} {peak:10.1f} {ratio:>9} {mb:>9} {rel:>9}")
PY
