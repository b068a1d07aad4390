#!/usr/bin/env bash
# Builds Vellora.exe and runs it under Wine on this desktop and microphone.
# Without a display or an audio server (a server, a container, CI) it records
# a short demonstration instead, on a private display and virtual microphone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw > /dev/null
cmake --build --preset mingw -j "$(nproc)"

have_display() {
  local display=${DISPLAY:-}
  [ -n "$display" ] || return 1
  case "$display" in
    :*) number=${display#:}; [ -S "/tmp/.X11-unix/X${number%%.*}" ] ;;
    *) return 0 ;;
  esac
}
have_audio() { pactl info > /dev/null 2>&1; }

if have_display && have_audio; then
  export WINEDEBUG=${WINEDEBUG:--all}
  exec wine build/mingw/platform/win32/Vellora.exe
fi

echo "No display or no audio server here: recording a demonstration instead."
# The demonstration drives the program with the end-to-end tests' driver.
cmake --preset mingw-tests > /dev/null
cmake --build --preset mingw-tests -j "$(nproc)" --target Vellora VelloraDriver
exec python3 scripts/demo.py build/mingw-tests build/demo
