#!/usr/bin/env bash
# Extraction throughput of the update run under Wine for one 256 MiB plain
# entry, beside a bare 4096-byte ReadFile/WriteFile loop and CopyFileA on the
# same bytes in the same process; then peak memory for 16 and 256 MiB entries;
# then the whole automatic run without and with the payload digest record;
# then the run with and without the version record after it.
# Env: BUILD (build root), WINEPREFIX, EXTRACT_BENCH_RUNS (default 3),
# DIGEST_BENCH_SIZES (MiB, default "64 1024"), DIGEST_BENCH_RUNS (default 3),
# RECORD_BENCH_SIZES (MiB, default "64 256"), RECORD_BENCH_RUNS (default 5).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build}
# The script moves into its work folder: relative paths would point elsewhere.
BUILD=$(cd "$BUILD" && pwd)
EXE="$BUILD/win32/bench/extract/extract_bench.exe"
WORK="$BUILD/bench-extract"
RUNS=${EXTRACT_BENCH_RUNS:-3}
WINEPREFIX=${WINEPREFIX:-$BUILD/win32/wineprefix}
export WINEPREFIX=$(cd "$WINEPREFIX" && pwd)
mkdir -p "$WORK"
cd "$WORK"

line=$("$ROOT/cmake/wine-run.sh" "$EXE" speed 256 "$RUNS" | tr -d '\r' | grep -a "^extract ")
read -r _ extract _ bare _ copy <<<"$line"
mib=256
printf 'extraction (update run): %s s, %.1f MiB/s\n' "$extract" "$(echo "$mib / $extract" | bc -l)"
printf 'bare 4096-byte loop:     %s s, %.1f MiB/s\n' "$bare" "$(echo "$mib / $bare" | bc -l)"
printf 'CopyFileA:               %s s, %.1f MiB/s\n' "$copy" "$(echo "$mib / $copy" | bc -l)"
printf 'throughput vs bare loop: %.2f (goal >= 0.9)\n' "$(echo "$bare / $extract" | bc -l)"
printf 'throughput vs CopyFileA: %.2f\n' "$(echo "$copy / $extract" | bc -l)"

for size in 16 256; do
  peak=$("$ROOT/cmake/wine-run.sh" "$EXE" peak "$size" | tr -d '\r' | grep -a "^peak_working_set")
  printf 'peak working set, %3s MiB entry: %s KiB\n' "$size" "$(( ${peak##* } / 1024 ))"
done
for size in ${DIGEST_BENCH_SIZES:-64 1024}; do
  line=$("$ROOT/cmake/wine-run.sh" "$EXE" digest "$size" "${DIGEST_BENCH_RUNS:-3}" |
         tr -d '\r' | grep -a "^without ")
  read -r _ without _ with _ pass <<<"$line"
  printf 'automatic run, %4s MiB entry: without digest %s s, with %s s, added %.3f s;' \
    "$size" "$without" "$with" "$(echo "$with - $without" | bc -l)"
  printf ' one digest pass %s s (added / pass %.2f, goal <= 1)\n' \
    "$pass" "$(echo "($with - $without) / $pass" | bc -l)"
  rm -f "$WORK"/*.exe "$WORK"/game/*.bin
done
for size in ${RECORD_BENCH_SIZES:-64 256}; do
  line=$("$ROOT/cmake/wine-run.sh" "$EXE" record "$size" "${RECORD_BENCH_RUNS:-5}" |
         tr -d '\r' | grep -a "^run_and_record ")
  read -r _ recorded _ run _ pass <<<"$line"
  printf 'automatic run, %4s MiB entry: with the version record %s s, without %s s, record adds %.3f s;' \
    "$size" "$recorded" "$run" "$(echo "$recorded - $run" | bc -l)"
  printf ' one whole-file MD5 pass %s s\n' "$pass"
  rm -f "$WORK"/*.exe "$WORK"/game/*.bin
done
rm -f "$WORK"/*.exe "$WORK"/*.bin "$WORK"/game/*.bin
