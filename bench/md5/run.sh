#!/usr/bin/env bash
# MD5 throughput of the updater's MD5 class against md5sum on the same
# 256 MiB file, natively and for the Windows build under Wine, in one run.
# Env: BUILD (build root), WINEPREFIX (for the Windows build).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build}
WORK="$BUILD/bench-md5"
DATA="$WORK/data.bin"
RUNS=${MD5_BENCH_RUNS:-3}
mkdir -p "$WORK"
if [ ! -f "$DATA" ] || [ "$(stat -c %s "$DATA")" -ne 268435456 ]; then
  head -c 268435456 /dev/urandom > "$DATA"
fi
cat "$DATA" > /dev/null  # warm the page cache for every contender alike

now() { date +%s.%N; }
best_of() { sort -g | head -n 1; }

# md5sum: wall time of the whole program.
sum_times=""
for _ in $(seq "$RUNS"); do
  t0=$(now); expected=$(md5sum "$DATA" | cut -d' ' -f1); t1=$(now)
  sum_times+="$(echo "$t1 - $t0" | bc -l)"$'\n'
done
sum_best=$(printf '%s' "$sum_times" | best_of)

# Our class: the program times only the hashing (the file is read through
# the FILE constructor, as the updater does).
measure() { # label, command...
  local label=$1; shift
  local times="" line digest
  for _ in $(seq "$RUNS"); do
    line=$("$@" | tr -d '\r' | tail -n 1)
    digest=${line%% *}
    if [ "$digest" != "$expected" ]; then
      echo "$label: digest $digest differs from md5sum's $expected" >&2; exit 1
    fi
    times+="$(echo "$line" | cut -d' ' -f2)"$'\n'
  done
  local best; best=$(printf '%s' "$times" | best_of)
  printf '%-28s %8.3f s %8.1f MiB/s   %5.2f x md5sum\n' "$label" "$best" \
    "$(echo "256 / $best" | bc -l)" "$(echo "$sum_best / $best" | bc -l)"
}

printf 'MD5 over 256 MiB, best of %s runs (digest checked against md5sum)\n' "$RUNS"
printf '%-28s %8.3f s %8.1f MiB/s   %5.2f x md5sum\n' "md5sum (native)" "$sum_best" \
  "$(echo "256 / $sum_best" | bc -l)" 1
measure "MD5 class, native" "$BUILD/host/bench/md5/md5_bench" "$DATA"
WIN_EXE="$BUILD/win32/bench/md5/md5_bench.exe"
if [ -f "$WIN_EXE" ] && command -v wine >/dev/null; then
  # Relative path: the Windows program sees the file through Wine's drive mapping.
  measure "MD5 class, win32 under Wine" \
    bash -c "cd '$WORK' && '$ROOT/cmake/wine-run.sh' '$WIN_EXE' data.bin 2>/dev/null"
else
  echo "MD5 class, win32 under Wine: skipped (no Windows build or no wine)"
fi
