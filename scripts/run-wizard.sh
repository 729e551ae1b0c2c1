#!/usr/bin/env bash
# Starts build/win32/Setup.exe under Wine. On the user's display when there is
# one; otherwise on a virtual display, leaving a screenshot of the wizard.
# The run uses its own Wine prefix, build/wine-run/wine/prefix, kept between runs.
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX="$PWD/build/wine-run/wine/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mshtml=d;mscoree=d"
mkdir -p "$(dirname "$WINEPREFIX")"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  echo "Starting the wizard on $DISPLAY"
  exec wine build/win32/Setup.exe "$@"
fi

shots="$PWD/build/screenshots"
mkdir -p "$shots"
echo "No display: running the wizard on a virtual display for a screenshot"
FRESH_PREFIX=0 scripts/test-env.sh build/wine-run bash -c '
  wine build/win32/Setup.exe "$@" &
  pid=$!
  sleep 6
  window=$(xwininfo -root -tree | awk "/\"Welcome\"/ {print \$1; exit}")
  import -window "${window:-root}" "'"$shots"'/wizard.png"
  wineserver -k
  wait $pid 2>/dev/null || true
' run-wizard "$@"
echo "Screenshot of the wizard: $shots/wizard.png"
