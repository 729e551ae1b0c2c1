#!/usr/bin/env bash
# The build and test scripts as a developer meets them:
# - a checkout that was copied or moved builds again, with a word on why its
#   trees are configured afresh, instead of CMake's cache-path error;
# - the test run ends with the failed tests' names and their logs, and flags
#   test names that would change between runs.
# usage: scripts_test.sh TOP WORK
set -uo pipefail
top=$1 work=$2
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
rm -rf "$work"
mkdir -p "$work"

# ---- A copied and a moved checkout ---------------------------------------------
# A checkout of build.sh over a project with nothing to compile.
mkdir -p "$work/first/scripts"
cp "$top/scripts/build.sh" "$work/first/scripts/"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(Checkout NONE)\n' >"$work/first/CMakeLists.txt"
"$work/first/scripts/build.sh" native >"$work/out" 2>&1 || fail "first build: $(cat "$work/out")"
cp -a "$work/first" "$work/copy"
mv "$work/first" "$work/moved"
for checkout in copy moved; do
    "$work/$checkout/scripts/build.sh" native >"$work/out" 2>&1 || fail "$checkout: build.sh failed: $(cat "$work/out")"
    grep -qF "build.sh: build/native was configured as $work/first/build/native" "$work/out" ||
        fail "$checkout: no word on the stale tree: $(cat "$work/out")"
    grep -qF "this checkout was copied or moved" "$work/out" || fail "$checkout: no reason given: $(cat "$work/out")"
    grep -qx "CMAKE_CACHEFILE_DIR:INTERNAL=$work/$checkout/build/native" "$work/$checkout/build/native/CMakeCache.txt" ||
        fail "$checkout: tree not configured where it is now"
    "$work/$checkout/scripts/build.sh" native >"$work/out" 2>&1 || fail "$checkout: second build failed"
    grep -q "configured as" "$work/out" && fail "$checkout: a tree in its place was configured afresh"
done

# ---- The end of a test run -----------------------------------------------------------
make_suite() {  # name, then lines of CMake add_test calls
    mkdir -p "$work/$1"
    { printf 'cmake_minimum_required(VERSION 3.20)\nproject(Suite NONE)\nenable_testing()\n'; cat; } >"$work/$1/CMakeLists.txt"
    cmake -S "$work/$1" -B "$work/$1/build" >/dev/null || fail "configure $1"
}
make_suite mixed <<'CMAKE'
add_test(NAME Shell.Passes COMMAND true)
add_test(NAME Table/Shell.Fails/first COMMAND sh -c "echo the reason it failed; exit 1")
add_test(NAME "Table/Shell.Listed/0  # GetParam() = 4-byte object <01-00 00-00>" COMMAND true)
CMAKE
make_suite clean <<'CMAKE'
add_test(NAME Clean.Passes COMMAND true)
CMAKE
TEST_LOG_DIR="$work/logs" "$top/scripts/run-tests.sh" --suite mixed "$work/mixed/build" \
    --suite clean "$work/clean/build" >"$work/out" 2>&1
code=$?
[ "$code" = 1 ] || fail "run with a failed test: exit $code"
tail -n 6 "$work/out" >"$work/end"
cat >"$work/want" <<END
3 passed, 2 failed
Failed (each with the log that holds its output):
  Table/Shell.Fails/first (Failed)  [$work/logs/mixed.log]
  suite mixed: test names that change between runs (give the parameter type a PrintTo):  [$work/logs/mixed.log]
      Table/Shell.Listed/0  # GetParam() = 4-byte object <01-00 00-00>
END
tail -n 5 "$work/out" | diff "$work/want" - >&2 || fail "end of the run (above: wanted, then got)"
grep -q "the reason it failed" "$work/logs/mixed.log" || fail "the log does not hold the failed test's output"
TEST_LOG_DIR="$work/logs" "$top/scripts/run-tests.sh" --suite clean "$work/clean/build" >"$work/out" 2>&1 ||
    fail "run of passing tests: exit $?"
[ "$(tail -n 1 "$work/out")" = "1 passed, 0 failed" ] || fail "end of a passing run: $(tail -n 2 "$work/out")"

if [ $failures -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all script checks passed"
