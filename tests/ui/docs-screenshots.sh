#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb with openbox drawing the frames:
# the upgrade window during a run (two files applied, the third held open by
# another process, Editor.exe) and the file-in-use dialog of that third file,
# which names that process below its message.
#   docs-screenshots.sh UPDATEEXE SCHEMA OUTDIR
set -euo pipefail
exe=$1 schema=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/installation.sh"

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
ue_start_xvfb
pids+=("$UE_XVFB_PID")
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
openbox --sm-disable --config-file "$here/openbox-rc.xml" >/dev/null 2>&1 &
pids+=("$!")
sleep 0.5

ue_lay_out "$work" "$exe" "$schema" ue-shots-main.sh
for f in readme.txt help.txt Suite.dll; do
  echo "new $f" > "$work/update/$f"
  echo "old $f" > "$work/$f"
done
ue_download "$work" 101 readme.txt 2 0
ue_download "$work" 102 help.txt 2 0
ue_download "$work" 103 Suite.dll 2 0
ue_environment "$work"
# The holder: a program of another name, so the dialog has one to list.
mkdir "$work/tools"
cp "$(command -v sleep)" "$work/tools/Editor.exe"
"$work/tools/Editor.exe" 600 < "$work/Suite.dll" &
pids+=("$!")

"$work/UpdateExe" 2>/dev/null &
pids+=("$!")
dialog=$(ue_await_shown '^替换文件出错$' 20)
sleep 1.5  # the upgrade window repaints while the dialog's loop runs
import -window "$dialog" -frame "$work/dialog.png"
main=$(ue_visible '^正在升级文件$' | head -n1)
xdotool windowmove "$dialog" 0 0
sleep 1
import -window "$main" -frame "$work/main.png"
xdotool windowfocus --sync "$dialog" && xdotool key Escape

mkdir -p "$out"
convert "$work/main.png" -strip -define png:compression-level=9 "$out/upgrade-window.png"
convert "$work/dialog.png" -strip -define png:compression-level=9 "$out/file-in-use-dialog.png"
ls -l "$out/upgrade-window.png" "$out/file-in-use-dialog.png"
