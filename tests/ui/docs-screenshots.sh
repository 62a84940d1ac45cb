#!/usr/bin/env bash
# Makes the README's screenshots under Xvfb with openbox drawing the frames:
# the upgrade window during a run (two files applied, the third held open by
# another process, Editor.exe) and the file-in-use dialog of that third file,
# which names that process below its message; the window while a large
# payload expands (its file, place and percentage) and after a run that failed.
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
# As the suite's users see it: the program runs in a zh_CN.UTF-8 locale
# (made for it), so our own texts are Chinese too.
chinese() { "$here/../win/zh-cn.sh" "$work/locale" "$@"; }

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

chinese "$work/UpdateExe" 2>"$work/stderr" &
pids+=("$!")
dialog=$(ue_await_shown "^替换文件出错\$" 20) || { cat "$work/stderr" >&2; exit 1; }
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

# A second installation: a small file, then 768 MiB expanding.
big=$work/big
mkdir -p "$big"
ue_lay_out "$big" "$exe" "$schema" ue-shots-main.sh
echo "new readme" > "$big/update/readme.txt"
ue_download "$big" 201 readme.txt 2 0
ue_large_payload "$big/update/Suite.dat" 768
ue_download "$big" 202 Suite.dat 2 5
ue_environment "$big"
chinese "$big/UpdateExe" 2>/dev/null &
pids+=("$!")
main=$(ue_await_shown '^正在升级文件$' 20)
sleep 4.2  # the run starts after 3 s; the percentage shows after half a second of work
import -window "$main" -frame "$work/progress.png"
wait "${pids[-1]}" || true

# A third: its payload is damaged, the run fails.
bad=$work/bad
mkdir -p "$bad"
ue_lay_out "$bad" "$exe" "$schema" ue-shots-main.sh
echo "not a zlib stream" > "$bad/update/Suite.dat"
ue_download "$bad" 301 Suite.dat 2 5
ue_environment "$bad"
chinese "$bad/UpdateExe" 2>/dev/null &
pids+=("$!")
box=$(ue_await_shown '^Morvel升级$' 20)
main=$(ue_visible '^正在升级文件$' | head -n1)
xdotool windowfocus --sync "$box" && xdotool key Return
sleep 1
import -window "$main" -frame "$work/failed.png"
kill "${pids[-1]}" 2>/dev/null || true

mkdir -p "$out/screenshots"
convert "$work/progress.png" -strip -define png:compression-level=9 "$out/screenshots/progress-linux.png"
convert "$work/failed.png" -strip -define png:compression-level=9 "$out/screenshots/failed-linux.png"
ls -l "$out/screenshots/progress-linux.png" "$out/screenshots/failed-linux.png"
