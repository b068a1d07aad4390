#!/usr/bin/env bash
# Runs a cross-built test program under Wine, in a Wine prefix of the build's
# own, made on first use. ctest runs tests side by side: one makes the
# prefix, the others wait for it.
set -euo pipefail
build=$(cd "$(dirname "$1")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i > /dev/null 2>&1
    wineserver -w
  fi
) 9> "$build/wineprefix.lock"
exec wine "$@"
