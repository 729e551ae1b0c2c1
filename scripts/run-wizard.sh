#!/usr/bin/env bash
# Starts a Setup.exe under Wine: build/win32/Setup.exe, or the one named by
# SETUP (make run SETUP=build/release/Setup.exe; relative to where make runs).
# On the user's display when there is one; otherwise on a virtual display,
# leaving a screenshot of the wizard. The run uses its own Wine prefix,
# build/wine-run/wine/prefix, kept between runs.
set -euo pipefail
if [ -n "${SETUP:-}" ]; then
  [ -f "$SETUP" ] || { echo "run-wizard: no Setup.exe at $SETUP" >&2; exit 1; }
  setup=$(realpath "$SETUP")
fi
cd "$(dirname "$0")/.."
setup=${setup:-$PWD/build/win32/Setup.exe}

export WINEPREFIX="$PWD/build/wine-run/wine/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mshtml=d;mscoree=d"
mkdir -p "$(dirname "$WINEPREFIX")"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  echo "Starting the wizard on $DISPLAY"
  exec wine "$setup" "$@"
fi

shots="$PWD/build/screenshots"
mkdir -p "$shots"
echo "No display: running the wizard of $setup on a virtual display for a screenshot"
FRESH_PREFIX=0 SETUP_EXE=$setup scripts/test-env.sh build/wine-run bash -c '
  wine "$SETUP_EXE" "$@" &
  pid=$!
  sleep 6
  window=$(xwininfo -root -tree | awk "/\"Welcome\"/ {print \$1; exit}")
  import -window "${window:-root}" "'"$shots"'/wizard.png"
  wineserver -k
  wait $pid 2>/dev/null || true
' run-wizard "$@"
echo "Screenshot of the wizard: $shots/wizard.png"
