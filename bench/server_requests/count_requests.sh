#!/usr/bin/env bash
# Wineserver requests per 4096-byte chunk of an automatic update run, beside
# the floor program's (request_floor.cpp: the copy, the sent position and the
# repaint the design asks for per chunk and nothing else). Each program runs
# once on an entry of SMALL MiB and once on one of LARGE MiB, each time as
# the first client of a freshly started server traced with +server; the
# slope between the two leaves start-up and end out. The count is
# deterministic: no time enters it.
#
#   count_requests.sh WIN32_BUILD WORK SMALL_MIB LARGE_MIB [MAX_ABOVE_FLOOR]
#
# With MAX_ABOVE_FLOOR it fails when the run asks for more than that many
# requests per chunk above the floor. The prefix is one of the count's own
# (WINEPREFIX, default WIN32_BUILD/wineprefix-requests), made on first use:
# the trace covers everything its server does, so no other program may use
# it. Needs DISPLAY.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 4 ] || { sed -n '10,16p' "$0" >&2; exit 2; }
BUILD=$(cd "$1" && pwd)
WORK=$2
SMALL=$3
LARGE=$4
MAX=${5:-}
FLOOR="$BUILD/bench/server_requests/request_floor.exe"
FILES="$BUILD/bench/server_requests/request_files.exe"
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix-requests} WINEARCH=win32
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
for f in "$FLOOR" "$FILES"; do
  [ -f "$f" ] || { echo "count_requests: $f is missing" >&2; exit 1; }
done

rm -rf "$WORK"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
win() { printf 'Z:%s' "${1//\//\\}"; }

# The next run must start the server itself, or its trace would not be taken.
server_ended() { timeout 300 wineserver -w || wineserver -k || true; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  WINEDEBUG=-all timeout 900 wineboot -i >/dev/null 2>&1 || true
fi
server_ended

WINEDEBUG=-all wine "$FILES" "$(win "$WORK")" "$SMALL" "$LARGE" >/dev/null 2>&1 ||
  { echo "count_requests: the updater files could not be written" >&2; exit 1; }
server_ended

# traced NAME PROGRAM ARGS...: runs it, leaves NAME.trace, fails with the program.
traced() {
  local name=$1; shift
  local status=0
  # A run that fails in automatic mode waits in a message box: time it out.
  WINEDEBUG=-all,+server timeout 600 wine "$@" >/dev/null 2>"$WORK/$name.trace" || status=$?
  server_ended
  [ "$status" -eq 0 ] || { echo "count_requests: $name ended with $status" >&2; return 1; }
}

for mib in "$SMALL" "$LARGE"; do
  game="$WORK/game-$mib"
  mkdir -p "$game/Config"
  printf '[Version]\r\nGameVersion=1.4.1.33960\r\n' >"$game/Config/Client.ini"
  traced "updater-$mib" "$WORK/Update-$mib.exe" "$(win "$game")"
  grep -q '^GameVersion=1.4.1.34242' "$game/Config/Client.ini" ||
    { echo "count_requests: the $mib MiB run did not update the game" >&2; exit 1; }
  traced "floor-$mib" "$FLOOR" "$(win "$WORK/entry-$mib.bin")" "$(win "$WORK/copy-$mib.bin")"
  cmp -s "$WORK/entry-$mib.bin" "$WORK/copy-$mib.bin" ||
    { echo "count_requests: the floor program's copy differs" >&2; exit 1; }
  rm -f "$WORK/copy-$mib.bin" "$game/entry.bin"
done

count() { awk -v by_name="${2:-0}" -f "$HERE/count_requests.awk" "$WORK/$1.trace"; }
chunks=$(( (LARGE - SMALL) * 256 ))
slope() { # program: requests per chunk between the two sizes
  local small large
  small=$(count "$1-$SMALL" | awk '$1 == "total" {print $2}')
  large=$(count "$1-$LARGE" | awk '$1 == "total" {print $2}')
  awk -v s="$small" -v l="$large" -v c="$chunks" -v n="$1" -v sm="$SMALL" -v lm="$LARGE" \
    'BEGIN { printf "%s: %d requests at %d MiB, %d at %d MiB: %.3f per chunk\n", n, s, sm, l, lm, (l - s) / c }'
}
slope updater
slope floor
# Each request whose number grows with the entry, per chunk, for both programs.
echo "per chunk, by request (updater, floor):"
for p in updater floor; do
  join -a1 -a2 -e0 -o 0,1.2,2.2 <(count "$p-$SMALL" 1 | grep -v '^total' | sort) \
    <(count "$p-$LARGE" 1 | grep -v '^total' | sort) | awk -v p="$p" '{print $1, p, $3 - $2}'
done | awk -v c="$chunks" '{ names[$1] = 1; d[$1, $2] = $3 / c } END {
  for (n in names) if (d[n, "updater"] != 0 || d[n, "floor"] != 0)
    printf "  %-24s %7.3f %7.3f\n", n, d[n, "updater"], d[n, "floor"] }' | sort
above=$(awk -v c="$chunks" \
  -v us="$(count "updater-$SMALL" | awk '{print $2}')" -v ul="$(count "updater-$LARGE" | awk '{print $2}')" \
  -v fs="$(count "floor-$SMALL" | awk '{print $2}')" -v fl="$(count "floor-$LARGE" | awk '{print $2}')" \
  'BEGIN { printf "%.3f", ((ul - us) - (fl - fs)) / c }')
echo "updater above the floor: $above per chunk${MAX:+ (at most $MAX)}"
rm -rf "$WORK"
if [ -n "$MAX" ] && awk -v a="$above" -v m="$MAX" 'BEGIN { exit !(a > m) }'; then
  echo "count_requests: the run asks the wineserver for more per chunk than the floor allows" >&2
  exit 1
fi
