#!/usr/bin/env bash
# Builds the payload benchmarks in build/bench (Release) and prints the
# report: RC4 against OpenSSL, LZ decoding against memcpy and lz4, the whole
# decode, the encoder, and the peak memory of one decode. Then the
# installation engine's file writing against CopyFileW, under Wine (the
# Windows tree, build/win32). Then a whole unattended installation by
# Setup.exe against an NSIS installer of the same files, and payloads grown
# until one no longer installs (bench/installer_bench.py, in build/bench-install).
#   scripts/run-bench.sh [REPETITIONS]
# BENCH_PARTS picks parts (default "payload engine installer");
# INSTALL_BENCH_REPS (default 7) and INSTALL_BENCH_SIZES (MB, default
# 20,100,...,2000, up to the first that fails; the first is the comparison)
# tune the last one.
set -euo pipefail
cd "$(dirname "$0")/.."
parts=" ${BENCH_PARTS:-payload engine installer} "

if [[ $parts == *" payload "* ]]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSETUP_BENCH=ON >build/bench.configure.log 2>&1 ||
    { cat build/bench.configure.log; exit 1; }
  cmake --build build/bench -j "${JOBS:-$(nproc)}" --target payload_bench payload_peak_rss
  python3 bench/report.py build/bench/bench "$@"
  echo
fi

if [[ $parts == *" engine "* || $parts == *" installer "* ]]; then
  scripts/build.sh win32 >build/bench.win32.log 2>&1 || { tail -20 build/bench.win32.log; exit 1; }
fi

if [[ $parts == *" engine "* ]]; then
  echo "Writing an installation's files (install_bench, under Wine):"
  echo
  cmake --build build/win32 --target install_bench install_bench_inputs >>build/bench.win32.log 2>&1
  scripts/test-env.sh build/win32 wine build/win32/bench/engine/install_bench.exe "${1:-10}"
  echo
fi

if [[ $parts == *" installer "* ]]; then
  echo "Unattended installation against a solid-LZMA NSIS installer (under Wine):"
  echo
  command -v makensis >/dev/null || { echo "run-bench: makensis missing (apt-get install nsis)" >&2; exit 1; }
  cmake --build build/win32 --target run_measured >>build/bench.win32.log 2>&1
  mkdir -p build/bench-install
  scripts/test-env.sh build/bench-install python3 bench/installer_bench.py --work build/bench-install \
    --measure build/win32/bench/engine/run_measured.exe --tool build/native/tools/setup-payload/setup-payload \
    --reps "${INSTALL_BENCH_REPS:-7}" --sizes "${INSTALL_BENCH_SIZES:-20,100,200,400,800,1200,1600,2000}" \
    --report build/bench-install/report.json
fi
