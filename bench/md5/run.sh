#!/usr/bin/env bash
# MD5 throughput of the updater's MD5 class against md5sum on the same
# 256 MiB file in the page cache, natively and for the Windows build under
# Wine, in one run: the contenders take turns round by round (the first
# place rotates) and the best round of each counts.
# Natively both are timed as whole programs (start to end, wall clock);
# under Wine the program's own figure (hashing only) is used, since Wine's
# start alone takes longer than the hashing.
# Env: BUILD (build root), WINEPREFIX (for the Windows build), MD5_BENCH_RUNS.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build}
# The script moves into its work folder: relative paths would point elsewhere.
BUILD=$(cd "$BUILD" && pwd)
if [ -n "${WINEPREFIX:-}" ]; then export WINEPREFIX=$(mkdir -p "$WINEPREFIX" && cd "$WINEPREFIX" && pwd); fi
WORK="$BUILD/bench-md5"
DATA="$WORK/data.bin"
RUNS=${MD5_BENCH_RUNS:-5}
NATIVE="$BUILD/host/bench/md5/md5_bench"
WIN_EXE="$BUILD/win32/bench/md5/md5_bench.exe"
[ -x "$NATIVE" ] || { echo "md5 bench: $NATIVE is missing (host build with benchmarks)" >&2; exit 1; }
mkdir -p "$WORK"
if [ ! -f "$DATA" ] || [ "$(stat -c %s "$DATA")" -ne 268435456 ]; then
  head -c 268435456 /dev/urandom > "$DATA"
fi
cat "$DATA" > /dev/null  # warm the page cache for every contender alike
expected=$(md5sum "$DATA" | cut -d' ' -f1)

contenders=(md5sum native)
if [ -f "$WIN_EXE" ] && command -v wine >/dev/null; then contenders+=(wine); fi

now() { date +%s.%N; }
check() { # label, digest
  [ "$2" = "$expected" ] || { echo "md5 bench: $1 gave $2, md5sum $expected" >&2; exit 1; }
}
run_one() { # contender; prints seconds
  local t0 t1 line
  case $1 in
    md5sum)
      t0=$(now); line=$(md5sum "$DATA"); t1=$(now)
      check md5sum "${line%% *}"; echo "$t1 - $t0" | bc -l ;;
    native)
      t0=$(now); line=$("$NATIVE" "$DATA"); t1=$(now)
      check "native class" "${line%% *}"; echo "$t1 - $t0" | bc -l ;;
    wine)
      # Relative path: the Windows program sees the file through Wine's drive mapping.
      line=$(cd "$WORK" && "$ROOT/cmake/wine-run.sh" "$WIN_EXE" data.bin 2>/dev/null | tr -d '\r' | tail -n 1)
      check "Wine class" "${line%% *}"; echo "$line" | cut -d' ' -f2 ;;
  esac
}

declare -A best rounds
n=${#contenders[@]}
for round in $(seq "$RUNS"); do
  for k in $(seq 0 $((n - 1))); do
    c=${contenders[$(((round - 1 + k) % n))]}
    t=$(run_one "$c")
    rounds[$c]+="$(printf '%.3f ' "$t")"
    if [ -z "${best[$c]:-}" ] || [ "$(echo "$t < ${best[$c]}" | bc -l)" = 1 ]; then best[$c]=$t; fi
  done
done

label() {
  case $1 in
    md5sum) echo "md5sum (native)" ;;
    native) echo "MD5 class, native" ;;
    wine) echo "MD5 class, i686 under Wine" ;;
  esac
}
printf 'MD5 over 256 MiB, best of %s interleaved rounds (digests checked against md5sum)\n' "$RUNS"
for c in "${contenders[@]}"; do
  printf '%-28s %7.3f s %8.1f MiB/s  %5.2f x md5sum   rounds: %s\n' "$(label "$c")" "${best[$c]}" \
    "$(echo "256 / ${best[$c]}" | bc -l)" "$(echo "${best[md5sum]} / ${best[$c]}" | bc -l)" "${rounds[$c]}"
done
