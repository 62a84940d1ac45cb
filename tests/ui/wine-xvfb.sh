#!/usr/bin/env bash
# Runs a Windows test program under Wine with a display of its own: Wine
# creates no window without an X display, and CI has none.
#   wine-xvfb.sh WINE_RUN PROGRAM [ARGS...]
# The prefix's Wine session (wineserver and its desktop) keeps the display it
# was started with, so the test waits until the prefix is idle before and
# after its run (ctest runs it alone); it never stops a Wine process.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$1
shift
if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  echo "SKIP: Xvfb or xdotool is not installed (scripts/setup installs them)"
  exit 77
fi
# shellcheck source=installation.sh
source "$here/installation.sh"
ue_start_xvfb || { echo "SKIP: Xvfb did not start"; exit 77; }
# A window manager, as every desktop has: without one, Wine hands no X focus
# to a dialog window made anew after its first showing, so it never becomes
# the active window (a difference of Wine on a bare X server; Windows has no
# such case).
wm=""
if command -v openbox >/dev/null; then
  openbox --sm-disable --config-file "$here/openbox-rc.xml" >/dev/null 2>&1 &
  wm=$!
  for i in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
fi
trap 'kill $wm "$UE_XVFB_PID" 2>/dev/null; wait $wm "$UE_XVFB_PID" 2>/dev/null' EXIT

build_dir=$PWD
while [ "$build_dir" != / ] && [ ! -f "$build_dir/CMakeCache.txt" ]; do build_dir=$(dirname "$build_dir"); done
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
idle() { WINEDEBUG=-all wineserver -w 2>/dev/null || true; }
idle
"$wine_run" "$@"
status=$?
idle
exit "$status"
