#!/usr/bin/env bash
# Builds every tree and runs every suite:
#   native       portable core (GoogleTest)
#   native-asan  the same under address and undefined-behaviour sanitizers
#   win32        Windows tests, the wizard's UI tests, and the core tests and
#                fuzz corpus replay built 32-bit, all under Wine
#   fuzz         replay of the saved fuzzing corpus (clang, sanitizers)
# Ends with one line "N passed, N failed" over all suites, then the name of
# every test that failed with the log that holds its output.
#   scripts/run-tests.sh --suite NAME DIR [--suite NAME DIR ...]
# runs ctest in the given build trees only, without building, and ends the
# same way. Logs go to build/logs (TEST_LOG_DIR moves them).
set -uo pipefail
cd "$(dirname "$0")/.."

logs=${TEST_LOG_DIR:-build/logs}
mkdir -p "$logs"
passed=0
failed=0
status=0
failures=()

# Test names are what CI compares between runs. GoogleTest names a table's
# case by the bytes of its parameter when the parameter type has no PrintTo,
# and those bytes (addresses among them) change from run to run.
unstable_names() {
  sed -nE 's/^ *Start +[0-9]+: (.*GetParam\(\) = [0-9]+-byte object <.*)$/\1/p' "$1"
}

run_suite() {
  local name=$1 log="$logs/$1.log"; shift
  echo "=== $name ==="
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local total fails
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  # ctest lists the failed tests after "The following tests FAILED:", one
  # "  <number> - <name> (<why>)" line each.
  local test
  while IFS= read -r test; do
    failures+=("$test  [$log]")
  done < <(sed -n '/^The following tests FAILED:/,/^$/s/^[[:space:]]*[0-9][0-9]* - //p' "$log")
  if [ "$rc" != 0 ]; then
    status=1
    if [ -z "$line" ]; then
      failed=$((failed + 1))
      failures+=("suite $name did not finish (exit $rc)  [$log]")
    fi
  fi
  local unstable
  unstable=$(unstable_names "$log")
  if [ -n "$unstable" ]; then
    status=1
    failed=$((failed + 1))
    failures+=("suite $name: test names that change between runs (give the parameter type a PrintTo):  [$log]")
    while IFS= read -r test; do failures+=("    $test"); done <<<"$unstable"
  fi
}

if [ "${1:-}" = --suite ]; then
  while [ $# -ge 3 ] && [ "$1" = --suite ]; do
    run_suite "$2" ctest --test-dir "$3" --output-on-failure -j 2
    shift 3
  done
  [ $# = 0 ] || { echo "usage: run-tests.sh [--suite NAME DIR]..." >&2; exit 2; }
else
  trees="native asan win32"
  [ -f fuzz/CMakeLists.txt ] && trees="$trees fuzz"
  if ! scripts/build.sh $trees 2>&1 | tee "$logs/build.log"; then
    echo
    echo "build failed; its log: $logs/build.log"
    exit 1
  fi
  run_suite native ctest --test-dir build/native --output-on-failure -j 2
  run_suite native-asan ctest --test-dir build/native-asan --output-on-failure -j 2
  run_suite win32 scripts/test-env.sh build/win32 ctest --test-dir build/win32 --output-on-failure -j 2
  [ -d build/fuzz ] && run_suite fuzz ctest --test-dir build/fuzz --output-on-failure -j 2
fi

echo
echo "$passed passed, $failed failed"
if [ ${#failures[@]} -gt 0 ]; then
  echo "Failed (each with the log that holds its output):"
  printf '  %s\n' "${failures[@]}"
fi
exit $status
