#!/usr/bin/env bash
# Logging benchmark under Wine: the caller's cost per line and lines per
# second through the log's queue, beside a bare completion-port post and a
# plain format-and-WriteFile loop. Run by ./dev bench (BUILD, WINEPREFIX set).
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build}
# The script moves into its work folder: relative paths would point elsewhere.
BUILD=$(cd "$BUILD" && pwd)
if [ -n "${WINEPREFIX:-}" ]; then export WINEPREFIX=$(mkdir -p "$WINEPREFIX" && cd "$WINEPREFIX" && pwd); fi
BENCH="$BUILD/win32/bench/log/log_bench.exe"
LINES=${LOG_BENCH_LINES:-20000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
run() { # mode, count; up to six tries: under qemu a busy Wine process may die
  local try out
  for try in 1 2 3 4 5 6; do
    out=$(timeout 300 "$ROOT/cmake/wine-run.sh" "$BENCH" "$1" "$2" 2>/dev/null | tr -d '\r' | grep '^mode=')
    if [ -n "$out" ]; then echo "$out"; return 0; fi
  done
  echo "mode=$1 failed six times"
}
for pass in 1 2 3; do
  run post-floor "$LINES"
  run write-floor "$LINES"
  run logger-1 "$LINES"
  run logger-4 "$LINES"
done
# Wine hands out the same process ids again, so earlier runs' lines would be
# counted as written by this one: start from an empty log folder.
rm -rf Log
run backlog 5
