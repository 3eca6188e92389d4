#!/usr/bin/env bash
# Decoding speed natively: the updater's decoder (codec_bench decode, a whole
# process reading the installed file and the stored entry where the decoder
# asks, one system call a read, as the updater does) against hpatchz, which
# streams its patch file too, applying HDiffPatch's patch of
# the same file (hdiffz -m-6 -SD -f -p-1 -c-zstd-21-24), CPU time of each
# (perf stat task-clock; without perf, user + system time), best of
# DECODE_BENCH_RUNS taking turns. The files: every file of at least
# DECODE_BENCH_MIN bytes that changed between the releases of the delta
# benchmark (run bench/delta/run.sh first; its pairs stay in
# $BUILD/bench/delta/pairs). Both patches are made once and kept in
# $BUILD/bench/decode (made again when the codec_bench is newer).
# Env: BUILD, DECODE_BENCH_RUNS (default 3), DECODE_BENCH_MIN (default
# 1000000), DECODE_BENCH_ONLY (a substring of the paths to take),
# DECODE_BENCH_BEFORE (another build's codec_bench, say the previous
# commit's: its decoding of the same patch in a column of its own, taking
# turns with the others), DECODE_BENCH_BEFORE_ARGS (more arguments for its
# decode: `--one-thread` with this build's codec_bench as BEFORE puts the
# decoder without its worker thread beside the decoder with it),
# DECODE_BENCH_CLOCK (cpu, the default: processor time of all threads;
# wall: the time from start to end, which a second thread shortens).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${BUILD:-$ROOT/build}" && pwd)
CODEC_BENCH="$BUILD/host/bench/codec/codec_bench"
HDIFFZ="$BUILD/anchors/hdiffz"
HPATCHZ="$BUILD/anchors/hpatchz"
PAIRS="$BUILD/bench/delta/pairs"
WORK="$BUILD/bench/decode"
RUNS=${DECODE_BENCH_RUNS:-3}
MIN=${DECODE_BENCH_MIN:-1000000}
ONLY=${DECODE_BENCH_ONLY:-}
BEFORE=${DECODE_BENCH_BEFORE:-}
read -r -a BEFORE_ARGS <<<"${DECODE_BENCH_BEFORE_ARGS:-}"
CLOCK=${DECODE_BENCH_CLOCK:-cpu}

for tool in "$CODEC_BENCH" "$HDIFFZ" "$HPATCHZ"; do
  [ -x "$tool" ] || { echo "decode bench: no $tool (build, then bench/delta/run.sh)" >&2; exit 1; }
done
[ -d "$PAIRS" ] || { echo "decode bench: no $PAIRS (run bench/delta/run.sh first)" >&2; exit 1; }
mkdir -p "$WORK"

# Milliseconds of CPU time one run of the command takes.
cpu_ms() {
  if command -v perf >/dev/null && perf stat -x, -e task-clock true >/dev/null 2>&1; then
    perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | grep task-clock | cut -d, -f1
  else
    /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 |
      awk '{ printf "%.1f\n", ($1 + $2) * 1000 }'
  fi
}
# Milliseconds from the command's start to its end.
wall_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.1f\n", ns / 1e6 }'
}
case "$CLOCK" in
  cpu) time_ms() { cpu_ms "$@"; } ;;
  wall) time_ms() { wall_ms "$@"; } ;;
  *) echo "decode bench: DECODE_BENCH_CLOCK is cpu or wall" >&2; exit 1 ;;
esac
smaller() { python3 -c "import sys; print(min(float(sys.argv[1]), float(sys.argv[2])))" "$1" "$2"; }

if [ -n "$BEFORE" ]; then
  printf '| file (pair) | new size | before | ours: decode | ours / before | hpatchz | hpatchz / ours |\n'
  printf '|---|--:|--:|--:|--:|--:|--:|\n'
else
  printf '| file (pair) | new size | ours: decode | hpatchz | hpatchz / ours |\n|---|--:|--:|--:|--:|\n'
fi
total_ours=0 total_hp=0 total_before=0 count=0
for pair in "$PAIRS"/*/; do
  pair=${pair%/}
  id=$(basename "$pair")
  while IFS= read -r -d '' rel; do
    old="$pair/old/$rel" new="$pair/new/$rel"
    [ -f "$old" ] || continue
    [ "$(stat -c %s "$new")" -ge "$MIN" ] || continue
    cmp -s "$old" "$new" && continue
    [ -z "$ONLY" ] || [[ "$id/$rel" == *"$ONLY"* ]] || continue
    key=$(printf '%s/%s' "$id" "$rel" | tr '/ ' '__')
    ours="$WORK/$key.ours" theirs="$WORK/$key.hdiff"
    if [ ! -f "$ours" ] || [ "$CODEC_BENCH" -nt "$ours" ]; then
      "$CODEC_BENCH" encode "$old" "$new" "$ours" >/dev/null 2>&1
    fi
    [ -f "$theirs" ] || "$HDIFFZ" -m-6 -SD -f -p-1 -c-zstd-21-24 "$old" "$new" "$theirs" >/dev/null
    best_ours=1e9 best_hp=1e9 best_before=1e9
    for ((i = 0; i < RUNS; i++)); do
      if [ -n "$BEFORE" ]; then
        best_before=$(smaller "$best_before" "$(time_ms "$BEFORE" decode "$old" "$ours" "$WORK/check" "${BEFORE_ARGS[@]}")")
        cmp -s "$WORK/check" "$new" || { echo "decode bench: before gave $id/$rel wrong" >&2; exit 1; }
      fi
      best_ours=$(smaller "$best_ours" "$(time_ms "$CODEC_BENCH" decode "$old" "$ours" "$WORK/check")")
      cmp -s "$WORK/check" "$new" || { echo "decode bench: $id/$rel decoded wrong" >&2; exit 1; }
      best_hp=$(smaller "$best_hp" "$(time_ms "$HPATCHZ" -f "$old" "$theirs" "$WORK/check")")
      cmp -s "$WORK/check" "$new" || { echo "decode bench: hpatchz gave $id/$rel wrong" >&2; exit 1; }
    done
    rm -f "$WORK/check"
    size=$(stat -c %s "$new" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')
    if [ -n "$BEFORE" ]; then
      printf '| `%s` (%s) | %s | %.0f ms | %.0f ms | %.2f | %.0f ms | %.2f |\n' "$rel" "$id" "$size" \
        "$best_before" "$best_ours" "$(python3 -c "print($best_ours / $best_before)")" "$best_hp" \
        "$(python3 -c "print($best_hp / $best_ours)")"
      total_before=$(python3 -c "print($total_before + $best_before)")
    else
      printf '| `%s` (%s) | %s | %.0f ms | %.0f ms | %.2f |\n' "$rel" "$id" "$size" "$best_ours" \
        "$best_hp" "$(python3 -c "print($best_hp / $best_ours)")"
    fi
    total_ours=$(python3 -c "print($total_ours + $best_ours)")
    total_hp=$(python3 -c "print($total_hp + $best_hp)")
    count=$((count + 1))
  done < <(cd "$pair/new" && find . -type f -printf '%P\0' | sort -z)
done
[ "$count" -gt 0 ] || { echo "decode bench: no changed file of $MIN bytes or more" >&2; exit 1; }
if [ -n "$BEFORE" ]; then
  printf '| all %d files of %s bytes or more | | %.0f ms | %.0f ms | %.2f | %.0f ms | %.2f |\n' \
    "$count" "$MIN" "$total_before" "$total_ours" "$(python3 -c "print($total_ours / $total_before)")" \
    "$total_hp" "$(python3 -c "print($total_hp / $total_ours)")"
else
  printf '| all %d files of %s bytes or more | | %.0f ms | %.0f ms | %.2f |\n' "$count" "$MIN" \
    "$total_ours" "$total_hp" "$(python3 -c "print($total_hp / $total_ours)")"
fi
