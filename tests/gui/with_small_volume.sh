#!/usr/bin/env bash
# Runs a test program with a small volume for a game directory where the
# machine allows it: a 4 MiB tmpfs mounted (as root) on a folder in the
# working folder, named to the program in UPDATE_SMALL_VOLUME and unmounted
# afterwards. Elsewhere the program runs without it and skips what needs it.
# Usage: with_small_volume.sh <wine runner> <program> [args]
set -u
runner=$1; shift
volume=$PWD/small-volume
mounted=0
if [ "$(id -u)" -eq 0 ] && mkdir -p "$volume" &&
   mount -t tmpfs -o size=4m update-small-volume "$volume" 2>/dev/null; then
  mounted=1
  export UPDATE_SMALL_VOLUME=$volume
else
  echo "with_small_volume.sh: cannot mount a tmpfs here; the small-volume test is skipped" >&2
fi
"$runner" "$@"
status=$?
# Wine may still look at the folder for a moment; a lazy unmount lets go then.
[ "$mounted" = 1 ] && { umount "$volume" 2>/dev/null || umount -l "$volume"; }
exit "$status"
