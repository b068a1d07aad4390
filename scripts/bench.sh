#!/usr/bin/env bash
# Benchmarks, side by side in one run: the analysis against FFTW's 65536-point
# single-precision transforms, the packet pipeline and the panels. Extra
# arguments go to Google Benchmark (for example --benchmark_filter=Fft).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench > /dev/null
cmake --build --preset bench -j "$(nproc)"
exec build/bench/bench/vellora_bench "$@"
