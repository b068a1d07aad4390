#!/usr/bin/env bash
# Runs the suites again and again to catch tests that fail now and then,
# and prints every failure it saw. A benchmark of trust, not part of
# scripts/test.sh:
#   scripts/stress.sh [NATIVE_RUNS [WINE_RUNS [E2E_RUNS]]]    (default 50 10 3)
# Each native suite (debug, ThreadSanitizer, AddressSanitizer) runs every
# test NATIVE_RUNS times in random order; the suite under Wine runs WINE_RUNS
# times, the end-to-end suite E2E_RUNS times. Load the machine meanwhile
# (a build on the other core, say): the machines that check us are not ours.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
native=${1:-50}
wine_runs=${2:-10}
e2e_runs=${3:-3}
jobs=$(nproc)
log=build/stress
mkdir -p "$log"
report=()

for preset in debug tsan asan; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" -j "$jobs" > /dev/null
  echo "== $preset: every test $native times, in random order"
  if ctest --preset "$preset" -j "$jobs" --schedule-random --repeat "until-fail:$native" > "$log/$preset.log" 2>&1; then
    report+=("$preset: $native runs of every test, no failure")
  else
    report+=("$preset: FAILED: $(grep -E '^\s+[0-9]+ - ' "$log/$preset.log" | sed 's/^ *//' | paste -sd ';' -) (see $log/$preset.log)")
  fi
done

cmake --preset mingw-tests > /dev/null
cmake --build --preset mingw-tests -j "$jobs" > /dev/null
failed=0
for run in $(seq "$wine_runs"); do
  echo "== mingw-tests: run $run of $wine_runs"
  if ! ctest --preset mingw-tests -j "$jobs" --schedule-random > "$log/mingw-tests.$run.log" 2>&1; then
    failed=$((failed + 1))
    report+=("mingw-tests run $run: FAILED: $(grep -E '^\s+[0-9]+ - ' "$log/mingw-tests.$run.log" | sed 's/^ *//' | paste -sd ';' -)")
  fi
done
report+=("mingw-tests: $wine_runs runs, $failed failed")

if [ "$e2e_runs" -gt 0 ]; then
  scripts/package.sh > /dev/null
  failed=0
  for run in $(seq "$e2e_runs"); do
    echo "== end-to-end: run $run of $e2e_runs"
    if ! python3 tests/e2e/run_e2e.py build/mingw-tests build/e2e > "$log/e2e.$run.log" 2>&1; then
      failed=$((failed + 1))
      report+=("end-to-end run $run: FAILED: $(grep -E '^FAIL' "$log/e2e.$run.log" | paste -sd ';' -)")
    fi
  done
  report+=("end-to-end: $e2e_runs runs, $failed failed")
fi

echo
printf '%s\n' "${report[@]}"
! printf '%s\n' "${report[@]}" | grep -q FAILED
