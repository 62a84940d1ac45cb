#!/usr/bin/env bash
# Makes the README's screenshot of the Win32 file-in-use dialog with its list
# of the programs that hold the file, under Wine on Xvfb with openbox drawing
# the frame, in a Wine prefix of its own.
#   dialog-screenshot.sh UI_DIALOG_SHOT_EXE OUTFILE
set -euo pipefail
program=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../ui/installation.sh"

work=$(mktemp -d)
pids=()
cleanup() {
  ue_wine_end
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
ue_start_xvfb
pids+=("$UE_XVFB_PID")
openbox --sm-disable --config-file "$here/../ui/openbox-rc.xml" >/dev/null 2>&1 &
pids+=("$!")
ue_wine_prefix "$work/prefix"
ue_wine_song_font
ue_wine "$program" >/dev/null 2>&1 &
pids+=("$!")
dialog=$(ue_await_shown '^替换文件出错$' 60)
sleep 1
import -window "$dialog" -frame "$work/dialog.png"
convert "$work/dialog.png" -strip -define png:compression-level=9 "$out"
ls -l "$out"
