#!/usr/bin/env bash
# Each thread's share of one core while Vellora.exe records a stereo 48 kHz
# tone under Wine (a private display and virtual microphone). A benchmark,
# not a test: it passes or fails nothing.
#   scripts/bench_window.sh [SECONDS [ROUNDS [OTHER.exe ...]]]
# OTHER.exe (an older build, say) are measured in the same run, taking
# turns with this build's, and the medians are printed side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw-tests > /dev/null
cmake --build --preset mingw-tests -j "$(nproc)" --target Vellora VelloraDriver
seconds=${1:-20}
rounds=${2:-3}
shift $(( $# < 2 ? $# : 2 ))
exec python3 scripts/bench_window.py "$seconds" "$rounds" build/bench_window \
  build/mingw-tests/platform/win32/Vellora.exe "$@"
