#!/usr/bin/env bash
# What the progress display costs an update run under Wine: one 64 MiB entry
# run by the engine alone (no-op callback), by the engine reporting to a real,
# hidden bar on another thread (what Update.exe does), and by the whole
# Update.exe in automatic mode (less its start and end, timed on an empty
# patch); beside floors timed in the same process: a cross-thread sent
# message, and PBM_SETPOS + UpdateWindow from another thread with the
# position unchanged and changed.
# Env (set by ./dev bench): BUILD, WINEPREFIX, DISPLAY; UI_BENCH_MIB (default 64).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build}
# The script moves into its work folder: relative paths would point elsewhere.
BUILD=$(cd "$BUILD" && pwd)
if [ -n "${WINEPREFIX:-}" ]; then export WINEPREFIX=$(mkdir -p "$WINEPREFIX" && cd "$WINEPREFIX" && pwd); fi
EXE="$BUILD/win32/bench/ui/update_ui_bench.exe"
MIB=${UI_BENCH_MIB:-64}
WORK="$BUILD/bench-ui"
export WINEPREFIX=${WINEPREFIX:-$BUILD/win32/wineprefix}
[ -f "$EXE" ] || { echo "ui bench: $EXE is missing (build with tests and benchmarks)" >&2; exit 1; }
rm -rf "$WORK"
mkdir -p "$WORK"

out=$(cd "$WORK" && "$ROOT/cmake/wine-run.sh" "$EXE" "Z:${WORK//\//\\}" "$MIB" 2>/dev/null | tr -d '\r')
value() { awk -v k="$1" '$1 == k {print $2}' <<<"$out"; }
[ "$(value runs_ok)" = 1 ] || { echo "ui bench: a run failed"; echo "$out"; exit 1; }

awk -v reports="$(value reports)" -v changes="$(value position_changes)" \
    -v engine="$(value engine_noop_s)" -v ui="$(value engine_ui_s)" \
    -v program="$(value program_s)" -v empty="$(value program_empty_s)" -v send="$(value send_floor_s)" \
    -v unchanged="$(value unchanged_floor_s)" -v repaint="$(value repaint_floor_s)" \
    -v mib="$MIB" 'BEGIN {
  us = 1000000
  per_report = (ui - engine) / reports * us
  program_run = program - empty  # without starting and ending the process
  program_report = (program_run - engine) / reports * us
  send_one = send / reports * us
  unchanged_one = unchanged / reports * us
  repaint_one = repaint / reports * us
  # Every report sends the position and updates the bar; the bar repaints
  # only when the position changed.
  floor = (unchanged_one * (reports - changes) + repaint_one * changes) / reports
  printf "entry: %d MiB, %d progress reports, %d position changes\n", mib, reports, changes
  printf "engine alone (no-op callback):       %8.3f s\n", engine
  printf "engine + progress display:           %8.3f s  (%+.1f%%)\n", ui, (ui / engine - 1) * 100
  printf "Update.exe, automatic mode:          %8.3f s  (start to end)\n", program
  printf "Update.exe on an empty patch:        %8.3f s  (process start and end)\n", empty
  printf "Update.exe run less start and end:   %8.3f s  (%+.1f%% on the engine alone)\n", program_run, (program_run / engine - 1) * 100
  printf "floor: cross-thread sent message:    %8.1f us\n", send_one
  printf "floor: SETPOS+UpdateWindow, same pos: %7.1f us\n", unchanged_one
  printf "floor: SETPOS+UpdateWindow, new pos:  %7.1f us\n", repaint_one
  printf "per report, engine + display:        %8.1f us\n", per_report
  printf "per report, Update.exe:              %8.1f us\n", program_report
  printf "per report, floor for this run:      %8.1f us\n", floor
  printf "engine + display / floor:            %8.2f x  (goal <= 1.2)\n", per_report / floor
  printf "Update.exe / floor:                  %8.2f x  (goal <= 1.2)\n", program_report / floor
}'
rm -rf "$WORK"
