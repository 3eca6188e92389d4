#!/usr/bin/env bash
# Runs a Windows test program under Wine beside a small service that ends
# programs the hard way, as a crash or a power cut would. The test writes a
# program's file name to kill-service/request (in its working folder); the
# service sends SIGKILL to every process whose command line holds that name
# and removes the request. Usage: kill_service.sh <wine runner> <program> [args]
set -u
runner=$1; shift
dir=$PWD/kill-service
rm -rf "$dir"
mkdir -p "$dir"

# Wine shows a Windows program's command line as the process's own.
kill_named() {
  local entry pid line
  for entry in /proc/[0-9]*; do
    pid=${entry#/proc/}
    [ "$pid" = "$BASHPID" ] && continue
    line=$(tr '\0' ' ' <"$entry/cmdline" 2>/dev/null) || continue
    [[ $line == *"$1"* ]] && kill -KILL "$pid" 2>/dev/null
  done
}

(
  while [ -d "$dir" ]; do
    if [ -f "$dir/request" ]; then
      name=$(cat "$dir/request")
      [ -n "$name" ] && kill_named "$name"
      rm -f "$dir/request"
    fi
    sleep 0.05
  done
) &
service=$!
"$runner" "$@"
status=$?
kill "$service" 2>/dev/null
rm -rf "$dir"
exit "$status"
