#!/usr/bin/env bash
# Runs a command inside the Windows test environment of a build tree:
#   scripts/test-env.sh BUILD_DIR COMMAND [ARGS...]
# - a throwaway Wine prefix, BUILD_DIR/wine/prefix, made anew once per call
#   (FRESH_PREFIX=0 reuses an existing one);
# - HOME inside BUILD_DIR/wine/home (the prefix's Desktop and Documents
#   point there), no menu entries written into the Linux home;
# - a virtual X display (Xvfb) of its own, so windows never reach the user's
#   screen and tests see the same display everywhere: the first free number
#   from TEST_DISPLAY_FIRST (default 90) to TEST_DISPLAY_LAST (default
#   TEST_DISPLAY_FIRST + 50), so that several people or jobs on one machine
#   can each keep to a range of their own;
# - a persistent wineserver for the duration, so each program starts fast.
set -euo pipefail

build_dir=$(cd "$1" && pwd)
shift

wine_dir="$build_dir/wine"
export WINEPREFIX="$wine_dir/prefix"
export HOME="$wine_dir/home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mshtml=d;mscoree=d"
export XDG_RUNTIME_DIR="$wine_dir/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# A display of our own: the first free number of the range.
first_display=${TEST_DISPLAY_FIRST:-90}
last_display=${TEST_DISPLAY_LAST:-$((first_display + 50))}
case "$first_display$last_display" in
  *[!0-9]*) echo "test-env: TEST_DISPLAY_FIRST and TEST_DISPLAY_LAST must be display numbers" >&2; exit 2 ;;
esac
display=""
for n in $(seq "$first_display" "$last_display"); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "test-env: no free X display number from $first_display to $last_display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done

if [ "${FRESH_PREFIX:-1}" = 1 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  echo "test-env: creating the Wine prefix $WINEPREFIX" >&2
  timeout 300 wineboot -i >/dev/null 2>&1
  # Without a window manager every hide or close costs ~2 s: let Wine manage.
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  # The desktop process wineboot started read the X11 settings before the
  # line above: end it and its server, so that every program from here on,
  # the desktop included, starts with them (else each window that hides or
  # closes costs seconds, in every test of the session).
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
fi
wineserver -p >/dev/null 2>&1 || true
# Bring the prefix's services up now, so that no test program starts them and
# leaves them holding its output pipe open.
timeout 120 wineboot >/dev/null 2>&1 || true
# The desktop process (explorer.exe /desktop) is started by the first program
# that needs it and inherits that program's output; ctest would then wait for
# whichever test happened to start it until the desktop closes, which it does
# only once no other Wine program runs. Start it here, with its output
# elsewhere, and keep it open for the session with an idle program whose
# input ends when this script does.
keeper="$wine_dir/desktop-keeper"
rm -f "$keeper"
mkfifo "$keeper"
wine cmd.exe /c pause <"$keeper" >/dev/null 2>&1 &
exec 9>"$keeper"
wine explorer.exe /desktop >/dev/null 2>&1 9>&- &
# Wait for the desktop process itself (not the launcher that starts it), then
# give it a moment to take over the desktop: a test that came first would
# start a desktop process of its own and be held by the keeper for good.
desktop_up() {
  local pid
  for pid in $(pgrep -f '^C:.windows.system32.explorer\.exe /desktop'); do
    grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$pid/environ" 2>/dev/null && return 0
  done
  return 1
}
for _ in $(seq 1 200); do
  desktop_up && break
  sleep 0.1
done
sleep 1

set +e
"$@" 9>&-
rc=$?
set -e
exit $rc
