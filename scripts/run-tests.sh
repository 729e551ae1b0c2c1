#!/usr/bin/env bash
# Builds every tree and runs every suite:
#   native       portable core (GoogleTest)
#   native-asan  the same under address and undefined-behaviour sanitizers
#   win32        Windows tests, the wizard's UI tests, and the core tests and
#                fuzz corpus replay built 32-bit, all under Wine
#   fuzz         replay of the saved fuzzing corpus (clang, sanitizers)
# Ends with one line "N passed, N failed" over all suites.
set -uo pipefail
cd "$(dirname "$0")/.."

trees="native asan win32"
[ -f fuzz/CMakeLists.txt ] && trees="$trees fuzz"
scripts/build.sh $trees || { echo "build failed"; exit 1; }

mkdir -p build/logs
passed=0
failed=0
status=0

run_suite() {
  local name=$1; shift
  echo "=== $name ==="
  "$@" 2>&1 | tee "build/logs/$name.log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "build/logs/$name.log" | tail -1)
  if [ -n "$line" ]; then
    local total fails
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  if [ "$rc" != 0 ]; then
    status=1
    [ -z "$line" ] && failed=$((failed + 1))
  fi
}

run_suite native ctest --test-dir build/native --output-on-failure -j 2
run_suite native-asan ctest --test-dir build/native-asan --output-on-failure -j 2
run_suite win32 scripts/test-env.sh build/win32 ctest --test-dir build/win32 --output-on-failure -j 2
[ -d build/fuzz ] && run_suite fuzz ctest --test-dir build/fuzz --output-on-failure -j 2

echo
echo "$passed passed, $failed failed"
exit $status
