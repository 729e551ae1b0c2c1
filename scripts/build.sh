#!/usr/bin/env bash
# Builds the trees:  scripts/build.sh [native] [asan] [win32] [fuzz] [tool] [wizard] [release]
#   native   build/native          host build: portable core, tests, archive tool, benchmarks
#   asan     build/native-asan     the same under address and UB sanitizers
#   win32    build/win32           Setup.exe with the default payload, Windows tests
#   fuzz     build/fuzz            libFuzzer targets and the corpus replay (clang)
#   tool     build/native          only the archive tool, setup-payload
#   wizard   build/native, build/win32
#                                  only what make run needs: the archive tool, the
#                                  sample payload and Setup.exe, no test suites
#   release  build/win32-release   only Setup.exe, for make setup (scripts/make-setup.sh),
#                                  which checks its settings first; SETUP_RELEASE_TREE moves it
# Settings pass through the environment (see README): SETUP_VERSION,
# SETUP_PAYLOAD_ARCHIVE, SETUP_LICENSE_FILE, SAMPLE_APP_VERSION, BUILD_TYPE
# (default RelWithDebInfo). A setting not given goes back to its default, so
# no earlier build's choice lingers.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -n "${SETUP_PAYLOAD_FILES:-}" ]; then
  echo "build.sh: SETUP_PAYLOAD_FILES is not read any more: 'make setup FILES=...' builds a release" \
       "(build/release/Setup.exe), and SETUP_PAYLOAD_ARCHIVE embeds an archive packed with setup-payload" >&2
  exit 2
fi

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

# A tree configured in another place (the checkout was copied or moved)
# cannot be configured again where it is now: CMake stops at the cache's old
# path. Such a tree only holds outputs, so it is started afresh.
start_afresh_if_moved() {
  local dir=$1 cache=$1/CMakeCache.txt was_tree was_source
  [ -f "$cache" ] || return 0
  was_tree=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$cache")
  was_source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
  if [ "$was_tree" -ef "$dir" ] && [ "$was_source" -ef . ]; then return 0; fi
  echo "build.sh: $dir was configured as $was_tree (sources $was_source); this checkout was copied or moved," \
       "so $dir is configured and built afresh" >&2
  rm -rf "$dir"
}

# configure_and_build DIR TARGET|"" CMAKE-ARGS...: an empty TARGET builds everything.
configure_and_build() {
  local dir=$1 target=$2; shift 2
  start_afresh_if_moved "$dir"
  mkdir -p "$(dirname "$dir")"
  cmake -S . -B "$dir" "${common[@]}" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j "$jobs" ${target:+--target "$target"}
}

tool_path=$PWD/build/native/tools/setup-payload/setup-payload
win32=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
mkdir -p build
for tree in "${@:-native win32}"; do
  for t in $tree; do
    case "$t" in
      native) configure_and_build build/native "" -DSETUP_BENCH=ON ;;  # benchmarks built, not run
      tool) configure_and_build build/native setup-payload -DSETUP_BENCH=ON ;;
      wizard)
        # The same trees as native and win32 (a later full build goes on
        # from here), but only the targets the wizard needs.
        configure_and_build build/native setup-payload -DSETUP_BENCH=ON
        configure_and_build build/win32 Setup "${win32[@]}" -DSETUP_PAYLOAD_TOOL="$tool_path" \
          -DSETUP_PAYLOAD_ARCHIVE="${SETUP_PAYLOAD_ARCHIVE:-}"
        ;;
      asan) configure_and_build build/native-asan "" -DSETUP_SANITIZE=ON ;;
      win32)
        [ -x "$tool_path" ] || configure_and_build build/native "" -DSETUP_BENCH=ON
        configure_and_build build/win32 "" "${win32[@]}" -DSETUP_PAYLOAD_TOOL="$tool_path" \
          -DSETUP_PAYLOAD_ARCHIVE="${SETUP_PAYLOAD_ARCHIVE:-}"
        ;;
      release)
        # Configured like build/win32 (test fixtures there need the tool),
        # but only Setup.exe is built, carrying the given archive.
        configure_and_build "${SETUP_RELEASE_TREE:-build/win32-release}" Setup "${win32[@]}" \
          -DSETUP_PAYLOAD_TOOL="${SETUP_PAYLOAD_TOOL:-$tool_path}" \
          -DSETUP_PAYLOAD_ARCHIVE="${SETUP_PAYLOAD_ARCHIVE:?the release tree needs SETUP_PAYLOAD_ARCHIVE}"
        ;;
      fuzz) configure_and_build build/fuzz "" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSETUP_FUZZ=ON -DSETUP_SANITIZE=ON ;;
      *) echo "build.sh: unknown tree '$t'" >&2; exit 2 ;;
    esac
  done
done
