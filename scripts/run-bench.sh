#!/usr/bin/env bash
# Builds the payload benchmarks in build/bench (Release) and prints the
# report: RC4 against OpenSSL, LZ decoding against memcpy and lz4, the whole
# decode, the encoder, and the peak memory of one decode.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSETUP_BENCH=ON >build/bench.configure.log 2>&1 ||
  { cat build/bench.configure.log; exit 1; }
cmake --build build/bench -j "${JOBS:-$(nproc)}" --target payload_bench payload_peak_rss
python3 bench/report.py build/bench/bench "$@"
