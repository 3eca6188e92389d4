#!/usr/bin/env bash
# Wineserver requests per 4096-byte chunk: Update.exe in automatic mode
# against the floor program, on entries of 4 and 8 MiB (count_requests.sh).
# Env (set by ./dev bench): BUILD, DISPLAY. The count runs in a prefix of its
# own, not in WINEPREFIX: its trace covers every client of the server.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${BUILD:-$ROOT/build}" && pwd)
export WINEPREFIX="$BUILD/win32/wineprefix-requests"
exec "$ROOT/bench/server_requests/count_requests.sh" "$BUILD/win32" "$BUILD/bench-server-requests" \
  "${REQUESTS_BENCH_SMALL_MIB:-4}" "${REQUESTS_BENCH_LARGE_MIB:-8}"
