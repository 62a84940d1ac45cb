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
trap 'kill "$UE_XVFB_PID" 2>/dev/null; wait "$UE_XVFB_PID" 2>/dev/null' EXIT

build_dir=$PWD
while [ "$build_dir" != / ] && [ ! -f "$build_dir/CMakeCache.txt" ]; do build_dir=$(dirname "$build_dir"); done
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
idle() { WINEDEBUG=-all wineserver -w 2>/dev/null || true; }
idle
"$wine_run" "$@"
status=$?
idle
exit "$status"
