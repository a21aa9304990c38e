#!/usr/bin/env bash
# Runs every fuzz target, one after the other, for the given number of
# seconds each, starting from its seeds and the corpus kept from earlier
# runs. Fails when any target reports a crash, a leak, a timeout, an
# oversized allocation or any sanitizer finding; the input that caused it
# is kept in <build>/fuzz-artifacts.
#   bash scripts/run-fuzz.sh [build folder] [seconds per target]
set -uo pipefail

build="${1:-build/fuzz}"
seconds="${2:-60}"
seeds="$build/fuzz-seeds"
corpus="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
logs="$build/fuzz-logs"
mkdir -p "$corpus" "$artifacts" "$logs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "no fuzz targets in $build/fuzz: build the target fuzz_all first" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  [[ -x "$target" && -f "$target" ]] || continue
  name="$(basename "$target")"
  mkdir -p "$corpus/$name" "$seeds/$name"
  log="$logs/$name.log"
  echo "== $name: ${seconds}s"
  # -rss_limit_mb also caps single allocations: asking for more is a finding.
  "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$name-" \
    "$corpus/$name" "$seeds/$name" >"$log" 2>&1
  status=$?
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" |
    grep -o '[0-9]*$' | tail -1)"
  if [[ $status -ne 0 ]] ||
    grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|fuzz invariant broken' "$log"; then
    echo "   FAILED (exit $status) after ${runs:-?} runs; see $log"
    grep -E 'ERROR:|SUMMARY:|runtime error:|fuzz invariant broken|Test unit written' "$log" | head -20
    failed+=("$name")
  else
    echo "   clean: ${runs:-?} runs"
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing clean"
