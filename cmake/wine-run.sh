#!/usr/bin/env bash
# Runs a cross-built test program under Wine, in a Wine prefix of the build's
# own, made on first use. ctest runs tests side by side: one makes the
# prefix, the others wait for it.
#
# Every program of a run talks to one persistent wine server, started here
# by the first of them and ended by the suite's last test
# (`wine-run.sh --stop-server BUILD_DIR`). A server that ends by itself once
# its last client has gone resets the connection of a program that starts
# in that moment ("wine client error: recvmsg: Connection reset by peer").
set -euo pipefail
if [ "$1" = --stop-server ]; then
  build=$2
else
  build=$(cd "$(dirname "$1")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
fi
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ "$1" = --stop-server ]; then
  wineserver -k 2> /dev/null || true
  wineserver -w
  exit 0
fi
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i > /dev/null 2>&1
    wineserver -w
  fi
  # Exits with 2, and changes nothing, when the server is running already.
  # A new server's first program starts Wine's own background processes,
  # which live as long as the server: they are started here, holding no
  # descriptor of ours (not the lock, nor the output ctest reads to its end).
  if wineserver -p < /dev/null > /dev/null 2>&1 9>&-; then
    wineboot < /dev/null > /dev/null 2>&1 9>&-
  fi
) 9> "$build/wineprefix.lock"
# Wine exits with 53 when it could not open the program at all (ERROR_BAD_NETPATH
# for the Unix path): seen once, in a test's discovery on a prefix just
# made, with the program in place. Nothing of the program ran then, so it is
# started once more.
status=0
wine "$@" || status=$?
if [ "$status" -eq 53 ] && [ -f "$1" ]; then
  sleep 1
  status=0
  wine "$@" || status=$?
fi
exit "$status"
