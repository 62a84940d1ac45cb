#!/usr/bin/env bash
# Makes the README's screenshots of the Windows program under wine64 on Xvfb
# with openbox drawing the frames: the upgrade window while a large payload
# expands (its file, place and percentage) and after a run that failed.
#   docs-screenshots.sh UPDATEEXE_EXE MAIN_EXE SCHEMA OUTDIR
#   MAIN_EXE: a Windows program installed as the suite's main program
set -euo pipefail
exe=$1 main_exe=$2 schema=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../ui/installation.sh"

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; ue_wine_end; rm -rf "$work"' EXIT
ue_start_xvfb
pids+=("$UE_XVFB_PID")
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
openbox --sm-disable --config-file "$here/../ui/openbox-rc.xml" >/dev/null 2>&1 &
pids+=("$!")
sleep 0.5
ue_wine_prefix "$work/prefix"
ue_wine_song_font

# A small file, then 768 MiB expanding.
big=$work/big
mkdir -p "$big"
ue_lay_out_windows "$big" "$exe" "$schema" ShotsMain.exe "$main_exe"
echo "new readme" > "$big/update/readme.txt"
ue_download "$big" 201 readme.txt 2 0
ue_large_payload "$big/update/Suite.dat" 768
ue_download "$big" 202 Suite.dat 2 5
(cd "$big" && exec "$UE_WINE" ./UpdateExe.exe) 2>/dev/null &
pids+=("$!")
main=$(ue_await_shown '^正在升级文件$' 60)
sleep 4.2  # the run starts after 3 s; the percentage shows after half a second of work
import -window "$main" -frame "$work/progress.png"
wait "${pids[-1]}" || true

# A payload that is damaged: the run fails.
bad=$work/bad
mkdir -p "$bad"
ue_lay_out_windows "$bad" "$exe" "$schema" ShotsMain.exe "$main_exe"
echo "not a zlib stream" > "$bad/update/Suite.dat"
ue_download "$bad" 301 Suite.dat 2 5
(cd "$bad" && exec "$UE_WINE" ./UpdateExe.exe) 2>/dev/null &
pids+=("$!")
box=$(ue_await_shown '^Morvel升级$' 60)
main=$(ue_visible '^正在升级文件$' | head -n1)
xdotool windowfocus --sync "$box" && xdotool key Return
sleep 1
import -window "$main" -frame "$work/failed.png"

mkdir -p "$out/screenshots"
convert "$work/progress.png" -strip -define png:compression-level=9 "$out/screenshots/progress-windows.png"
convert "$work/failed.png" -strip -define png:compression-level=9 "$out/screenshots/failed-windows.png"
ls -l "$out/screenshots/progress-windows.png" "$out/screenshots/failed-windows.png"
