#!/usr/bin/env bash
# What a long take costs the machine (build/bench/bench/vellora_take_bench:
# memory after the first and the last minute, Stop's time), then the RF64
# file past 4 GB that it wrote read back by libsndfile's sndfile-info, a
# reader that is not ours. Needs about 7.5 GB free in FOLDER (default: build/take_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
folder=${1:-build/take_bench}
cmake --preset bench > /dev/null
cmake --build --preset bench -j "$(nproc)" --target vellora_take_bench
mkdir -p "$folder"
trap 'rm -f "$folder"/vellora_take_bench_*.wav' EXIT
build/bench/bench/vellora_take_bench "$folder" --keep
sndfile-info "$folder/vellora_take_bench_100.wav"
sndfile-info "$folder/vellora_take_bench_100.wav" | grep -q "Duration    : 01:40:00.000"
echo "sndfile-info reads the RF64 file as 1 h 40 min of 192 kHz stereo"
