#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets, one folder per target, from
# files the engine writes: bash scripts/make-fuzz-seeds.sh [build folder]
set -euo pipefail

build="${1:-build/fuzz}"
seeds="$build/fuzz-seeds"
generator="$build/fuzz/make_fuzz_seeds"
if [[ ! -x "$generator" ]]; then
  echo "no seed writer at $generator: build the target fuzz_all first" >&2
  exit 1
fi
rm -rf "$seeds"
ASAN_OPTIONS=detect_leaks=1 "$generator" "$seeds"
