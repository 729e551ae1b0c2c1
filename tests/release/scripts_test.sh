#!/usr/bin/env bash
# The build and test scripts as a developer meets them:
# - a checkout that was copied or moved builds again, with a word on why its
#   trees are configured afresh, instead of CMake's cache-path error;
# - the test run ends with the failed tests' names and their logs, and flags
#   test names that would change between runs;
# - make run builds only what the wizard needs, make test everything;
# - install-deps takes the backports line's mirror and key from the machine's
#   own Debian source.
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

# ---- make run and make test -------------------------------------------------------
# The real Makefile and build scripts over a project whose targets only leave
# a file each: the archive tool and a native test suite, the sample payload,
# Setup.exe and a Windows test suite. Installing packages, Wine and the
# wizard itself are stood in for.
checkout=$work/make
mkdir -p "$checkout/scripts" "$checkout/cmake"
cp "$top/Makefile" "$checkout/"
cp "$top/scripts/build.sh" "$top/scripts/run-tests.sh" "$checkout/scripts/"
printf '#!/bin/sh\n' >"$checkout/scripts/install-deps.sh"
printf '#!/bin/sh\necho "the wizard starts"\n' >"$checkout/scripts/run-wizard.sh"
printf '#!/bin/sh\nshift\nexec "$@"\n' >"$checkout/scripts/test-env.sh"
chmod +x "$checkout/scripts/"*.sh
: >"$checkout/cmake/mingw-i686.cmake"
cat >"$checkout/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(Checkout NONE)
function(made target file)
  set(path ${CMAKE_BINARY_DIR}/${file})
  get_filename_component(folder ${path} DIRECTORY)
  add_custom_command(OUTPUT ${path} COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                     COMMAND ${CMAKE_COMMAND} -E touch ${path} ${ARGN})
  add_custom_target(${target} ALL DEPENDS ${path})
endfunction()
if(CMAKE_TOOLCHAIN_FILE)
  if(NOT EXISTS "${SETUP_PAYLOAD_TOOL}")
    message(FATAL_ERROR "configured before the archive tool was built")
  endif()
  made(sample_payload sample.qpk)
  made(Setup Setup.exe DEPENDS ${CMAKE_BINARY_DIR}/sample.qpk)
  made(win_tests win_tests.exe)
else()
  made(setup-payload tools/setup-payload/setup-payload)
  made(core_tests core_tests)
endif()
CMAKE
(cd "$checkout" && make run) >"$work/out" 2>&1 || fail "make run: $(cat "$work/out")"
grep -qx "the wizard starts" "$work/out" || fail "make run did not start the wizard: $(cat "$work/out")"
for made in native/tools/setup-payload/setup-payload win32/sample.qpk win32/Setup.exe; do
  [ -f "$checkout/build/$made" ] || fail "make run did not build build/$made"
done
for unmade in native/core_tests win32/win_tests.exe; do
  [ -e "$checkout/build/$unmade" ] && fail "make run built build/$unmade, which the wizard does not need"
done
(cd "$checkout" && make test) >"$work/out" 2>&1 || fail "make test: $(tail -n 20 "$work/out")"
for made in native/core_tests win32/win_tests.exe native-asan/core_tests; do
  [ -f "$checkout/build/$made" ] || fail "make test did not build build/$made"
done

# ---- The backports line of install-deps ----------------------------------------------
# backports_source ETC OS_RELEASE: what install-deps would add on a machine
# whose apt configuration is ETC.
backports_source() {
  APT_ETC=$1 OS_RELEASE=$2 "$top/scripts/install-deps.sh" --print-backports-source
}
release=$work/os-release
printf 'ID=debian\nVERSION_CODENAME=trixie\n' >"$release"
# The sample configurations name this machine's own mirror (the first URI of
# its configured apt sources) under paths of their own, so that no host is
# written here: what counts is which line is taken, not where it points.
mirror=$({
  awk 'tolower($1) == "uris:" { print $2 }' /etc/apt/sources.list.d/*.sources 2>/dev/null
  awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; break } }' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
} | head -n 1)
mirror=${mirror%/}
if [ -z "$mirror" ]; then
  fail "this machine has no configured apt source to take the sample mirror from"
else
  # want URI KEY: the backports stanza install-deps should print.
  want() {
    printf 'Types: deb\nURIs: %s\nSuites: trixie-backports\nComponents: main\nSigned-By: %s\n' "$1" "$2" >"$work/want"
  }
  # deb822, the release's stanza after the security one.
  mkdir -p "$work/apt822/sources.list.d"
  cat >"$work/apt822/sources.list.d/debian.sources" <<SOURCES
Types: deb
URIs: $mirror/sample-security
Suites: trixie-security
Components: main
Signed-By: /usr/share/keyrings/security.gpg

Types: deb deb-src
# the local mirror
URIs: $mirror/sample-release
Suites: trixie trixie-updates
Components: main contrib
Signed-By: /etc/apt/keyrings/mirror.gpg
SOURCES
  want "$mirror/sample-release" /etc/apt/keyrings/mirror.gpg
  backports_source "$work/apt822" "$release" 2>&1 | diff "$work/want" - >&2 ||
    fail "backports from a deb822 source (above: wanted, then got)"
  # One-line sources.
  mkdir -p "$work/aptlist/sources.list.d"
  cat >"$work/aptlist/sources.list" <<SOURCES
# deb $mirror/sample-commented trixie main
deb-src $mirror/sample-sources trixie main
deb [arch=amd64 signed-by=/srv/keys/archive.gpg] $mirror/sample-other trixie main
SOURCES
  want "$mirror/sample-other" /srv/keys/archive.gpg
  backports_source "$work/aptlist" "$release" 2>&1 | diff "$work/want" - >&2 ||
    fail "backports from a one-line source (above: wanted, then got)"
fi
# No source of the release: said, nothing printed.
mkdir -p "$work/aptnone/sources.list.d"
if out=$(backports_source "$work/aptnone" "$release" 2>&1); then
  fail "backports without a source of the release: $out"
fi

if [ $failures -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
echo "all script checks passed"
