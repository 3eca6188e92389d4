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
(
  while [ -d "$dir" ]; do
    if [ -f "$dir/request" ]; then
      name=$(cat "$dir/request")
      [ -n "$name" ] && pkill -KILL -f -- "$name"
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
