#!/usr/bin/env bash
# Builds the trees:  scripts/build.sh [native] [asan] [win32] [fuzz]
#   native  build/native       host build: portable core, tests, archive tool, benchmarks
#   asan    build/native-asan  the same under address and UB sanitizers
#   win32   build/win32        Setup.exe (build/win32/Setup.exe), Windows tests
#   fuzz    build/fuzz         libFuzzer targets and the corpus replay (clang)
# Settings pass through the environment (see README): SETUP_VERSION,
# SETUP_PAYLOAD_FILES, SETUP_PAYLOAD_ARCHIVE, SETUP_LICENSE_FILE,
# SAMPLE_APP_VERSION, BUILD_TYPE (default RelWithDebInfo). A setting not given
# goes back to its default, so no earlier build's choice lingers.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
build_type=${BUILD_TYPE:-RelWithDebInfo}
common=(-DCMAKE_BUILD_TYPE="$build_type")
for setting in SETUP_VERSION SETUP_LICENSE_FILE SAMPLE_APP_VERSION; do
  if [ -n "${!setting:-}" ]; then
    value=${!setting}
    # Files are given to CMake as absolute paths.
    [ "$setting" = SETUP_LICENSE_FILE ] && value=$(realpath "$value")
    common+=(-D"$setting=$value")
  else
    common+=(-U"$setting")
  fi
done

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" "${common[@]}" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j "$jobs"
}

mkdir -p build
for tree in "${@:-native win32}"; do
  for t in $tree; do
    case "$t" in
      native) configure_and_build build/native -DSETUP_BENCH=ON ;;  # benchmarks built, not run
      asan) configure_and_build build/native-asan -DSETUP_SANITIZE=ON ;;
      win32)
        [ -x build/native/tools/setup-payload/setup-payload ] || configure_and_build build/native
        configure_and_build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
          -DSETUP_PAYLOAD_TOOL="$PWD/build/native/tools/setup-payload/setup-payload" \
          -DSETUP_PAYLOAD_FILES="${SETUP_PAYLOAD_FILES:-}" -DSETUP_PAYLOAD_ARCHIVE="${SETUP_PAYLOAD_ARCHIVE:-}"
        ;;
      fuzz) configure_and_build build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSETUP_FUZZ=ON -DSETUP_SANITIZE=ON ;;
      *) echo "build.sh: unknown tree '$t'" >&2; exit 2 ;;
    esac
  done
done
