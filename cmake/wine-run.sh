#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix and locale.
# WINEPREFIX defaults to a prefix inside the build folder that ctest runs from.
set -u
: "${WINEPREFIX:=${UPDATE_WINEPREFIX:-$PWD/wineprefix}}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# No crash debugger: a crashed program must end, not wait for someone to attach.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d}"
exec wine "$@"
