#!/usr/bin/env bash
# Builds the payload benchmarks in build/bench (Release) and prints the
# report: RC4 against OpenSSL, LZ decoding against memcpy and lz4, the whole
# decode, the encoder, and the peak memory of one decode. Then the
# installation engine's file writing against CopyFileW, under Wine (the
# Windows tree, build/win32).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSETUP_BENCH=ON >build/bench.configure.log 2>&1 ||
  { cat build/bench.configure.log; exit 1; }
cmake --build build/bench -j "${JOBS:-$(nproc)}" --target payload_bench payload_peak_rss
python3 bench/report.py build/bench/bench "$@"
echo
echo "Writing an installation's files (install_bench, under Wine):"
echo
scripts/build.sh win32 >build/bench.win32.log 2>&1 || { tail -20 build/bench.win32.log; exit 1; }
cmake --build build/win32 --target install_bench install_bench_inputs >>build/bench.win32.log 2>&1
scripts/test-env.sh build/win32 wine build/win32/bench/engine/install_bench.exe "${1:-10}"
