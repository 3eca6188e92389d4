#!/usr/bin/env bash
# The codec natively, side by side with the delta tools on the same files:
#   build: `mkpatch diff` on a pair of one-file trees against bsdiff and zstd
#     --patch-from (-19 --long=31), wall time and peak memory of each;
#   apply: our decoder (codec_bench decode, the whole process) against bspatch
#     and zstd -d --patch-from on the patches each made, best of CODEC_BENCH_RUNS
#     rounds with the order rotating;
#   with CODEC_BENCH_HUGE_MIB set (e.g. 1024): mkpatch diff of a generated file
#     of that size with scattered changes, its time and peak memory.
# The files are the changed files of bench/delta's pairs (run first if need be).
# Env: BUILD, DIST, CODEC_BENCH_RUNS (default 3), CODEC_BENCH_FILES (paths
# below $BUILD/bench/delta/pairs, default four large ones), CODEC_BENCH_HUGE_MIB.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${BUILD:-$ROOT/build}" && pwd)
DIST=$(cd "${DIST:-$ROOT/dist}" && pwd)
CODEC="$BUILD/host/bench/codec/codec_bench"
PAIRS="$BUILD/bench/delta/pairs"
WORK="$BUILD/bench-codec"
RUNS=${CODEC_BENCH_RUNS:-3}
FILES=${CODEC_BENCH_FILES:-"esbuild-win32-ia32_0.25.9_0.25.10/esbuild.exe
esbuild-win32-ia32_0.21.5_0.25.10/esbuild.exe
rollup-rollup-win32-ia32-msvc_4.69.3_4.70.0/rollup.win32-ia32-msvc.node
img-sharp-win32-ia32_0.34.4_0.34.5/lib/libvips-42.dll
swc-core-win32-ia32-msvc_1.15.10_1.15.11/swc.win32-ia32-msvc.node"}
# The releases come from the delta benchmark, which fetches and caches them.
[ -d "$PAIRS" ] || BUILD="$BUILD" DIST="$DIST" "$ROOT/bench/delta/run.sh" >/dev/null
for tool in bsdiff bspatch zstd /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "codec bench: $tool is missing (bench/delta/run.sh installs it)" >&2; exit 1; }
done
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }
# "seconds peak-KiB" of a command, its output discarded.
measure() { /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1; cat "$WORK/time.txt"; }

printf '| file | new size | mkpatch diff s / MiB | bsdiff s / MiB | zstd-pf s / MiB | ours / (bsdiff + zstd-pf) time |\n'
printf '|---|--:|--:|--:|--:|--:|\n'
declare -A ours_apply bs_apply zs_apply
for file in $FILES; do
  pair=${file%%/*}
  path=${file#*/}
  old="$PAIRS/$pair/old/$path"
  new="$PAIRS/$pair/new/$path"
  [ -f "$old" ] && [ -f "$new" ] || { echo "missing $file (run bench/delta/run.sh first)" >&2; continue; }
  name=$(basename "$path")
  rm -rf trees && mkdir -p trees/old trees/new
  cp "$old" "trees/old/$name"
  cp "$new" "trees/new/$name"
  read -r ot om <<<"$(measure "$DIST/mkpatch" diff -o ours.exe --stub "$DIST/Update.exe" \
    --base 1.0.0.1 --target 1.0.0.2 trees/old trees/new)"
  read -r bt bm <<<"$(measure bsdiff "$old" "$new" bs.patch)"
  read -r zt zm <<<"$(measure zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o zs.patch)"
  printf '| %s | %d | %s / %d | %s / %d | %s / %d | %.2f |\n' "$pair/$name" "$(stat -c %s "$new")" \
    "$ot" $((om / 1024)) "$bt" $((bm / 1024)) "$zt" $((zm / 1024)) "$(echo "$ot / ($bt + $zt)" | bc -l)"
  # The same coding as mkpatch ships, for our decoder alone.
  "$CODEC" encode "$old" "$new" ours.dat >/dev/null 2>&1
  best_o=1e9; best_b=1e9; best_z=1e9
  for round in $(seq "$RUNS"); do
    for turn in 0 1 2; do
      case $(( (round + turn) % 3 )) in
        0) read -r t _ <<<"$(measure "$CODEC" decode "$old" ours.dat out.bin)"
           cmp -s out.bin "$new" || { echo "our decode of $file differs" >&2; exit 1; }
           best_o=$(smaller "$t" "$best_o") ;;
        1) read -r t _ <<<"$(measure bspatch "$old" out.bin bs.patch)"
           best_b=$(smaller "$t" "$best_b") ;;
        2) read -r t _ <<<"$(measure zstd -q -d -f --long=31 --patch-from="$old" zs.patch -o out.bin)"
           best_z=$(smaller "$t" "$best_z") ;;
      esac
    done
  done
  ours_apply[$file]=$best_o; bs_apply[$file]=$best_b; zs_apply[$file]=$best_z
done

printf '\n| file | ours s | bspatch s | zstd -d --patch-from s | bspatch / ours | zstd / ours |\n'
printf '|---|--:|--:|--:|--:|--:|\n'
for file in $FILES; do
  [ -n "${ours_apply[$file]:-}" ] || continue
  o=${ours_apply[$file]}; b=${bs_apply[$file]}; z=${zs_apply[$file]}
  printf '| %s | %s | %s | %s | %.2f | %.2f |\n' "$file" "$o" "$b" "$z" \
    "$(echo "$b / $o" | bc -l)" "$(echo "$z / $o" | bc -l)"
done

if [ -n "${CODEC_BENCH_HUGE_MIB:-}" ]; then
  rm -rf trees && mkdir -p trees/old trees/new
  "$CODEC" pair trees/old/huge.bin trees/new/huge.bin "$CODEC_BENCH_HUGE_MIB"
  read -r t m <<<"$(measure "$DIST/mkpatch" diff -o huge.exe --stub "$DIST/Update.exe" \
    --base 1.0.0.1 --target 1.0.0.2 trees/old trees/new)"
  printf '\nmkpatch diff of a %s MiB file with scattered changes: %s s, peak %d MiB, updater %d bytes\n' \
    "$CODEC_BENCH_HUGE_MIB" "$t" $((m / 1024)) "$(stat -c %s huge.exe 2>/dev/null || echo 0)"
fi
rm -rf "$WORK/trees" "$WORK"/*.bin
