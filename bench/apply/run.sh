#!/usr/bin/env bash
# The automatic run under Wine applying a patch whose changed file ships as a
# delta, against the same run with the new file stored whole (as mkpatch
# build stores it: its bytes as they are) and against the run with the new
# file shipped whole as mkpatch diff ships a file without an old one
# (compressed); each pair of runs takes turns in one process, best of
# APPLY_BENCH_RUNS, with the number of progress reports of each; then the
# decoder alone on the delta and on the compressed file (apply_bench decode);
# then the run's peak working set for pairs of several sizes.
# Then the same for real programs whose deltas the reference model makes
# (from the delta benchmark's releases, when it has run: bench/delta).
# Env: BUILD, DIST, WINEPREFIX, APPLY_BENCH_MIB (sizes, default "4 32"),
# APPLY_BENCH_RUNS (default 5), APPLY_BENCH_PEAK_MIB (default "4 16 512"),
# APPLY_BENCH_REAL (pairs of old and new files, "old new old new ...";
# default: esbuild.exe and swc's x86 and x64 DLLs of the delta benchmark),
# APPLY_BENCH_LARGE_MIB (sizes of generated files past what an updater can
# hold whole, e.g. 4352 for 4.25 GiB: only the delta's run, its seconds and
# peak working set; default none). A list set empty skips its part.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${BUILD:-$ROOT/build}" && pwd)
DIST=$(cd "${DIST:-$ROOT/dist}" && pwd)
WINEPREFIX=${WINEPREFIX:-$BUILD/win32/wineprefix}
export WINEPREFIX=$(cd "$WINEPREFIX" && pwd)
EXE="$BUILD/win32/bench/apply/apply_bench.exe"
PAIR="$BUILD/host/bench/codec/codec_bench"
WORK="$BUILD/bench-apply"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
# The first (delta) entry's stored size and how it makes the file (copies,
# with an image's references or not, or the old file as zstd's prefix), as
# mkpatch list reads them from the updater.
delta_facts() {
  "$DIST/mkpatch" list delta.exe --json | python3 -c '
import json, sys
entry = json.load(sys.stdin)["entries"][0]
print(entry["storedSize"], "stored,", entry["deltaWay"] or entry["coding"])'
}

# old/ and new/ trees with engine.dll of about $1 MiB (or, with two file
# arguments, those two); the delta updater made by mkpatch diff, the whole
# one by mkpatch build (a plain entry installs under its name in the game
# directory, as the delta's file does).
make_updaters() {
  rm -rf old new
  mkdir -p old new
  if [ $# -eq 2 ]; then
    cp "$1" old/engine.dll
    cp "$2" new/engine.dll
  else
    "$PAIR" pair old/engine.dll new/engine.dll "$1"
  fi
  "$DIST/mkpatch" diff -o delta.exe --stub "$DIST/Update.exe" --base 1.0.0.1 --target 1.0.0.2 \
    old new 2>/dev/null >/dev/null
  # An updater holds less than 2 GiB: a larger file ships only as a delta.
  if [ "$(stat -c %s new/engine.dll)" -lt $((2 << 30)) ]; then
    "$DIST/mkpatch" build -o whole.exe --stub "$DIST/Update.exe" --base 1.0.0.1 --target 1.0.0.2 \
      new/engine.dll >/dev/null
  fi
}

# The updater that ships the new engine.dll whole as mkpatch diff ships a
# file without an old one (compressed).
make_packed() {
  rm -rf none
  mkdir none
  "$DIST/mkpatch" diff -o packed.exe --stub "$DIST/Update.exe" --base 1.0.0.1 --target 1.0.0.2 \
    none new 2>/dev/null >/dev/null
}

# The first entry's data as codec_bench writes it (the decoded size, the
# coding, the stored bytes), for apply_bench decode.
entry_data() { # updater, output
  "$DIST/mkpatch" list "$1" --json | python3 -c '
import json, struct, sys
entry = json.load(sys.stdin)["entries"][0]
start = entry["offset"] + entry["size"] - entry["storedSize"]
codings = {"stored": 0, "zstd": 1, "delta": 2, "zstd-x86": 3, "lzma": 4}
with open(sys.argv[1], "rb") as f, open(sys.argv[2], "wb") as out:
    f.seek(start)
    out.write(struct.pack("<IB", entry["decodedSize"], codings[entry["coding"]]))
    out.write(f.read(entry["storedSize"]))' "$1" "$2"
}

compare() { # label
  echo "pair ($1): engine.dll $(stat -c %s old/engine.dll) -> $(stat -c %s new/engine.dll) bytes;" \
    "delta updater $(stat -c %s delta.exe) bytes ($(delta_facts)), whole $(stat -c %s whole.exe) bytes"
  local against label
  make_packed
  for against in whole packed; do
    label="stored whole"
    [ "$against" = packed ] && label="shipped whole, compressed ($(stat -c %s packed.exe) bytes)"
    line=$("$ROOT/cmake/wine-run.sh" "$EXE" compare "$(win "$WORK/old/engine.dll")" \
      "$(win "$WORK/delta.exe")" "$(win "$WORK/$against.exe")" "${APPLY_BENCH_RUNS:-5}" |
      tr -d '\r' | grep -a "^delta ")
    read -r _ delta _ whole _ reportsDelta reportsWhole _ bytesDelta bytesWhole <<<"$line"
    printf 'automatic run, delta: %s s; %s: %s s; delta / whole %.2f (goal <= 1)\n' \
      "$delta" "$label" "$whole" "$(echo "$delta / $whole" | bc -l)"
    echo "progress reports: delta $reportsDelta ($bytesDelta of bytes), whole $reportsWhole ($bytesWhole of bytes)"
  done
  entry_data delta.exe delta.data
  entry_data packed.exe packed.data
  for data in delta packed; do
    printf 'decoder alone, %s entry: %s\n' "$data" "$("$ROOT/cmake/wine-run.sh" "$EXE" decode \
      "$(win "$WORK/old/engine.dll")" "$(win "$WORK/$data.data")" "${APPLY_BENCH_RUNS:-5}" |
      tr -d '\r' | grep -a "^decode ")"
  done
}

for mib in ${APPLY_BENCH_MIB-4 32}; do
  make_updaters "$mib"
  compare "generated, $mib MiB"
done

REAL=$BUILD/bench/delta/pairs
read -r -a real <<<"${APPLY_BENCH_REAL-$REAL/esbuild-win32-ia32_0.25.9_0.25.10/old/esbuild.exe \
  $REAL/esbuild-win32-ia32_0.25.9_0.25.10/new/esbuild.exe \
  $REAL/swc-core-win32-ia32-msvc_1.15.10_1.15.11/old/swc.win32-ia32-msvc.node \
  $REAL/swc-core-win32-ia32-msvc_1.15.10_1.15.11/new/swc.win32-ia32-msvc.node \
  $REAL/swc-core-win32-x64-msvc_1.15.10_1.15.11/old/swc.win32-x64-msvc.node \
  $REAL/swc-core-win32-x64-msvc_1.15.10_1.15.11/new/swc.win32-x64-msvc.node}"
for ((i = 0; i + 1 < ${#real[@]}; i += 2)); do
  if [ ! -f "${real[i]}" ] || [ ! -f "${real[i + 1]}" ]; then
    echo "no ${real[i]} (run bench/delta first)"
    continue
  fi
  make_updaters "${real[i]}" "${real[i + 1]}"
  compare "$(basename "${real[i]}")"
  peak=$("$ROOT/cmake/wine-run.sh" "$EXE" peak "$(win "$WORK/old/engine.dll")" \
    "$(win "$WORK/delta.exe")" | tr -d '\r' | grep -a "^peak_working_set")
  printf 'peak working set applying the delta of %s: %s KiB\n' "$(basename "${real[i]}")" \
    "$(( ${peak##* } / 1024 ))"
done

for size in ${APPLY_BENCH_PEAK_MIB-4 16 512}; do
  make_updaters "$size"
  peak=$("$ROOT/cmake/wine-run.sh" "$EXE" peak "$(win "$WORK/old/engine.dll")" \
    "$(win "$WORK/delta.exe")" | tr -d '\r' | grep -a "^peak_working_set")
  printf 'peak working set applying a delta to a %4s MiB file: %s KiB (delta %s)\n' \
    "$size" "$(( ${peak##* } / 1024 ))" "$(delta_facts)"
done
for size in ${APPLY_BENCH_LARGE_MIB:-}; do
  make_updaters "$size"
  result=$("$ROOT/cmake/wine-run.sh" "$EXE" peak "$(win "$WORK/old/engine.dll")" \
    "$(win "$WORK/delta.exe")" | tr -d '\r')
  peak=$(grep -a "^peak_working_set" <<<"$result")
  printf 'automatic run applying a delta to a %s MiB file: %s s, peak working set %s KiB (delta %s)\n' \
    "$size" "$(grep -a "^seconds" <<<"$result" | cut -d' ' -f2)" "$(( ${peak##* } / 1024 ))" \
    "$(delta_facts)"
done
rm -rf "$WORK"
