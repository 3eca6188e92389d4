#!/usr/bin/env bash
# Starts the Wine session the test programs share, before the first of them:
# the server, kept for a minute after its last program ends, and the
# session's own programs (services, the desktop). Otherwise whichever test
# program comes first pays for that start (seconds natively, above a minute
# under qemu emulation), and the same program is fast in one run and slow in
# the next as the order changes. Arguments: the Wine runner (wine-run.sh).
set -u
runner=$1
: "${WINEPREFIX:=${UPDATE_WINEPREFIX:-$PWD/wineprefix}}"
export WINEPREFIX WINEARCH=win32
# A server that is already running is used as it is. Neither it nor the
# session's programs may keep ctest's output pipe, or ctest waits for them.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
"$runner" cmd /c exit </dev/null >/dev/null 2>&1
