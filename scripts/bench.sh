#!/usr/bin/env bash
# Benchmarks, side by side in one run: the analysis against FFTW's 65536-point
# single-precision transforms, the packet pipeline and the panels. Extra
# arguments go to Google Benchmark (for example --benchmark_filter=Fft).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench > /dev/null
cmake --build --preset bench -j "$(nproc)"
# Ratios depend on the processor: name it above the table.
echo "processor: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
# Repetitions run interleaved in random order and the medians are compared,
# so that a shared machine's drift falls on every benchmark alike.
exec build/bench/bench/vellora_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true "$@"
