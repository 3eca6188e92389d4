#!/usr/bin/env bash
# Runs a fuzz target's replay program under Wine on the folders of inputs
# that exist among those given (the committed seeds always do).
#   replay.sh EMULATOR REPLAY_EXE FOLDER...
set -euo pipefail
emulator=$1
exe=$2
shift 2
folders=()
for folder in "$@"; do
  [ -d "$folder" ] || continue
  # Wine's drive Z: is the root of the Linux file system.
  folders+=("Z:$(printf '%s' "$folder" | tr '/' '\\')")
done
[ ${#folders[@]} -gt 0 ] || { echo "replay: none of $* exists" >&2; exit 1; }
"$emulator" "$exe" "${folders[@]}" </dev/null
