#!/usr/bin/env bash
# End-to-end test of the UpdateExe program under Xvfb, driven with xdotool as
# a person would. Every installation lies in a temporary folder, the restart
# command and the pending-rename list point into it, and only processes this
# script started are ever stopped.
#   e2e.sh UPDATEEXE WMCLOSE SCHEMA
#   WMCLOSE: helper that presses a window's close button ("" to skip that case)
set -uo pipefail

exe=$1 wmclose=${2:-} schema=$3
here=$(cd "$(dirname "$0")" && pwd)


# shellcheck source=installation.sh
source "$here/installation.sh"
# shellcheck source=e2e-steps.sh
source "$here/e2e-steps.sh"
ue_require_tools Xvfb xdotool sqlite3 python3

# Under a sanitizer build: system libraries' own leaks are not ours.
# The program speaks the user's language: these checks read English.
unset LC_ALL LC_MESSAGES
export LANG=C.UTF-8
export LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

work=$(mktemp -d)
started_pids=()
cleanup() {
  local pid
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${UE_XVFB_PID:-}" ] && kill "$UE_XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT


ue_start_xvfb || { echo "SKIP: Xvfb did not start"; exit 77; }
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

extra_args=()  # options after the ignored ones
main=ue-e2e-suite-$$.sh  # a name no other process has: the run stops programs by name

# Lays out a fresh installation in $work/$1 with one type-0 file X.dll.
new_installation() {
  dir=$work/$1
  mkdir -p "$dir"
  ue_lay_out "$dir" "$exe" "$schema" "$main"
  ue_one_file "$dir"
  ue_environment "$dir"
}


# Answers up to four file-in-use dialogs with Enter; sets dialogs to the
# number answered. A second UpdateExe may be started at the first (hook).
answer_in_use_dialogs() {
  local n
  dialogs=0
  for n in 1 2 3 4; do
    win=$(await_window '^替换文件出错$')
    [ -n "$win" ] || break
    dialogs=$((dialogs + 1))
    [ "$n" = 1 ] && [ -n "${at_first_dialog:-}" ] && "$at_first_dialog"
    answer "$win" '^替换文件出错$' Return || { fail "dialog $n stayed open after Enter"; break; }
  done
}

# The four dialogs of a file held to the end, then the restart question
# answered with KEY.
dialogs_then_restart_question() {
  answer_in_use_dialogs
  check "dialogs shown" 4 "$dialogs"
  win=$(await_window '^提示$')
  [ -n "$win" ] || fail "the restart question did not appear"
  [ -n "$win" ] && answer "$win" '^提示$' "$1"
}

# Starts the program in $dir; sets app and start_ns.
start_program() {
  start_ns=$(date +%s%N)
  (cd / && exec "$dir/UpdateExe" -platform offscreen --ignored ${extra_args[@]+"${extra_args[@]}"}) \
    2>>"$work/stderr.log" &
  app=$!
  started_pids+=("$app")
}

# Waits (bounded) for a visible window whose name matches; prints its id.
await_window() { ue_await_shown "$1" "${2:-20}"; }


echo "== one file: applied, logged, version raised, main program refreshed and started"
new_installation road
ue_main_program "$dir/update/$main" updated
start_program
win=$(ue_await_shown '^正在升级文件$' 20)
shown_ns=$(date +%s%N)
[ -n "$win" ] || fail "the upgrade window did not appear"
echo "  upgrade window shown $(( (shown_ns - start_ns) / 1000000 )) ms after start"
check "processing window hidden" "" "$(ue_visible '^正在处理')"
await_end 30
check "exit code" 0 "$rc"
check "installed file" "new content" "$(cat "$dir/X.dll")"
check "log row" "1|1|X.dll|7|1|$dir/bak/V0|1" "$(sql 'SELECT * FROM UpdateFileLog')"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "Update.ini CurVer" "CurVer=2" "$(grep -a '^CurVer=' "$dir/Update.ini" | tr -d '\r')"
check "Update.ini UpdateTime" "UpdateTime=$(date +%Y-%m-%d)" \
  "$(grep -a '^UpdateTime=' "$dir/Update.ini" | tr -d '\r')"
check "main program refreshed and started" "updated" "$(cut -d' ' -f1 "$dir/started" 2>/dev/null)"
check "no restart" "" "$(cat "$dir/restart-requests" 2>/dev/null)"

echo "== the same installation again: the version is reached, nothing happens"
rm -f "$dir/started"
cp "$dir/UpdateFile.mdb" "$work/before.mdb"
start_program
await_end 30
check "exit code" 0 "$rc"
check "nothing started" "no" "$([ -e "$dir/started" ] && echo yes || echo no)"
check "database unchanged" "" "$(cmp "$dir/UpdateFile.mdb" "$work/before.mdb")"

echo "== a file held open: four dialogs (a second UpdateExe meanwhile ends at once), then the restart question (OK)"
new_installation held
sleep 600 < "$dir/X.dll" &
holder=$!
started_pids+=("$holder")
start_program
# While the first one waits in its dialog, holding the installation, a second
# UpdateExe says why in a box and on stderr, and ends once the box is closed;
# the dialogs and the log row below show it did nothing.
second_updateexe() {
  local first=$app box
  (cd / && exec "$dir/UpdateExe" -platform offscreen) 2>"$work/second.err" &
  app=$!
  started_pids+=("$app")
  box=$(await_window '^Morvel升级$' 10)
  [ -n "$box" ] || fail "second UpdateExe: no box"
  [ -n "$box" ] && { answer "$box" '^Morvel升级$' Return || fail "second UpdateExe: box stayed open"; }
  await_end 10
  check "second UpdateExe: exit code" 0 "$rc"
  check "second UpdateExe: says why" yes \
    "$(grep -q 'another UpdateExe is updating this installation' "$work/second.err" && echo yes || echo no)"
  app=$first
}
at_first_dialog=second_updateexe dialogs_then_restart_question Return
await_end 30
check "exit code" 0 "$rc"
check "restart requested twice" "restart restart" "$(tr '\n' ' ' < "$dir/restart-requests" 2>/dev/null | sed 's/ $//')"
check "queued for the restart: a copy beside the file" "\\??\\$dir/X.dll.~urXXXXXX|!\\??\\$dir/X.dll|" \
  "$(tr '\0' '|' < "$dir/PendingFileRenameOperations" 2>/dev/null | sed 's/|$//; s/\.~ur....../.~urXXXXXX/')"
check "held file untouched" "old content" "$(cat "$dir/X.dll")"
check "log row" "1|X.dll|7|1" "$(sql 'SELECT AID, FileName, FileVer, IsUpdate FROM UpdateFileLog')"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "main program not started" "no" "$([ -e "$dir/started" ] && echo yes || echo no)"

echo "== a Chinese installation folder with a blank and a ';': every FileType, a held file queued"
new_installation '升级 测试;1'
echo "新组件" > "$dir/update/组件 一.dll"
echo "旧组件" > "$dir/组件 一.dll"
ue_download "$dir" 2 '组件 一.dll' 4 0
ue_main_program "$dir/update/工具.sh" tool
ue_download "$dir" 3 '工具.sh' 4 1 '工具\'
seq 1 500 | sed 's/^/帮助 /' > "$work/help-zh.txt"
ue_zlib "$work/help-zh.txt" "$dir/update/帮助.txt"
ue_download "$dir" 4 '帮助.txt' 4 5 '文档\'
echo "新数据" > "$dir/update/数据.dat"
echo "旧数据" > "$dir/数据.dat"
ue_download "$dir" 5 '数据.dat' 4 0
sleep 600 < "$dir/数据.dat" &
started_pids+=("$!")
start_program
dialogs_then_restart_question Escape
await_end 30
check "exit code" 0 "$rc"
check "type 0 installed" "新组件" "$(cat "$dir/组件 一.dll")"
for i in $(seq 30); do [ -e "$dir/工具/started" ] && break; sleep 0.1; done
check "type 1 installed and started" "tool" "$(cut -d' ' -f1 "$dir/工具/started" 2>/dev/null)"
check "type 5 expanded and installed" "" "$(cmp "$work/help-zh.txt" "$dir/文档/帮助.txt" 2>&1)"
check "log rows" "1|X.dll 2|组件 一.dll 3|工具.sh 4|帮助.txt 5|数据.dat" \
  "$(sql 'SELECT AID, FileName FROM UpdateFileLog ORDER BY AID' | tr '\n' ' ' | sed 's/ $//')"
check "queued for the restart" "!\\??\\$dir/数据.dat" \
  "$(tr '\0' '\n' < "$dir/PendingFileRenameOperations" 2>/dev/null | grep -F '数据.dat' | grep '^!')"
check "held file untouched" "旧数据" "$(cat "$dir/数据.dat")"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "Update.ini CurVer" "CurVer=2" "$(grep -a '^CurVer=' "$dir/Update.ini" | tr -d '\r')"

echo "== a file held open, Cancel in the restart question"
new_installation cancel
sleep 600 < "$dir/X.dll" &
started_pids+=("$!")
start_program
dialogs_then_restart_question Escape
await_end 30
check "exit code" 0 "$rc"
check "no restart" "" "$(cat "$dir/restart-requests" 2>/dev/null)"
check "still queued" "yes" "$([ -s "$dir/PendingFileRenameOperations" ] && echo yes || echo no)"
check "main program not started" "no" "$([ -e "$dir/started" ] && echo yes || echo no)"

echo "== Esc in the dialog ends the program at once (started with an option: stopped by the user, 2)"
for expected in 0 2; do
  extra_args=()
  [ "$expected" = 2 ] && extra_args=(--log "$work/esc.log")
  new_installation "esc$expected"
  sleep 600 < "$dir/X.dll" &
  started_pids+=("$!")
  start_program
  win=$(await_window '^替换文件出错$')
  [ -n "$win" ] || fail "the dialog did not appear"
  press "$win" Escape
  await_end 10
  check "exit code" "$expected" "$rc"
  check "no log row" "" "$(sql 'SELECT * FROM UpdateFileLog')"
  check "version not raised" "0|1|2" "$(sql 'SELECT * FROM CurSoftInfo')"
done
extra_args=()

if [ -n "$wmclose" ]; then
  echo "== the dialog's close button ends the run silently"
  new_installation dialogclose
  sleep 600 < "$dir/X.dll" &
  started_pids+=("$!")
  start_program
  win=$(await_window '^替换文件出错$')
  [ -n "$win" ] && "$wmclose" "$win"
  await_end 10
  check "exit code" 0 "$rc"
  check "no error box" "" "$(ue_visible '^Morvel升级$')"
  check "no log row" "" "$(sql 'SELECT * FROM UpdateFileLog')"
  check "version not raised" "0|1|2" "$(sql 'SELECT * FROM CurSoftInfo')"

  echo "== the window closed within the first three seconds: no run"
  new_installation early
  start_program
  win=$(await_window '^正在升级文件$')
  [ -n "$win" ] && "$wmclose" "$win"
  await_end 10
  check "exit code" 0 "$rc"
  check "file not replaced" "old content" "$(cat "$dir/X.dll")"
  check "version not raised" "0|1|2" "$(sql 'SELECT * FROM CurSoftInfo')"
  check "no log row" "" "$(sql 'SELECT * FROM UpdateFileLog')"

  echo "== no database: the error box at start-up and after the run's error; the window stays"
  new_installation nodb
  rm "$dir/UpdateFile.mdb"
  start_program
  boxes=0
  for n in 1 2; do
    win=$(await_window '^Morvel升级$')
    [ -n "$win" ] || break
    boxes=$((boxes + 1))
    press "$win" Return
    ue_await_gone "$win" '^Morvel升级$'
  done
  check "error boxes (start-up, run)" 2 "$boxes"
  win=$(await_window '^正在升级文件$' 5)
  [ -n "$win" ] || fail "the upgrade window did not stay open"
  check "still running" "yes" "$(kill -0 "$app" 2>/dev/null && echo yes || echo no)"
  [ -n "$win" ] && "$wmclose" "$win"
  await_end 10
  check "exit code" 0 "$rc"
  check "no database created" "no" "$([ -e "$dir/UpdateFile.mdb" ] && echo yes || echo no)"
fi

# pixels WINDOW GEOMETRY: a digest of the window's pixels in GEOMETRY (WxH+X+Y).
pixels() { import -window "$1" -crop "$2" rgb:- 2>/dev/null | md5sum | cut -d' ' -f1; }

if command -v openbox >/dev/null && command -v xprop >/dev/null && command -v import >/dev/null; then
  echo "== a run's error under a window manager: the box is the window's own, above it; the window says the update failed"
  openbox --sm-disable --config-file "$here/openbox-rc.xml" >/dev/null 2>&1 &
  started_pids+=("$!")
  wm=$!
  sleep 0.5
  new_installation failed
  echo "not a zlib stream" > "$dir/update/X.dll"
  sql "UPDATE DownLoadFileLog SET FileType = 5"
  start_program
  main_win=$(await_window '^正在升级文件$')
  [ -n "$main_win" ] || fail "the upgrade window did not appear"
  sleep 1.5  # painted, the run not yet begun
  label=150x20+30+14 indicator=37x37+190+6
  label_before=$(pixels "$main_win" "$label")
  box=$(await_window '^Morvel升级$' 10)
  [ -n "$box" ] || fail "no error box"
  if [ -n "$box" ] && [ -n "$main_win" ]; then
    check "box transient for the upgrade window" "$(printf '0x%x' "$main_win")" \
      "$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*window id # //p')"
    stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
    position() { local i=0 id; for id in $stacking; do [ $((id)) = "$1" ] && echo $i; i=$((i + 1)); done; }
    check "box above the upgrade window" yes \
      "$([ "$(position "$box")" -gt "$(position "$main_win")" ] 2>/dev/null && echo yes || echo no)"
    xdotool windowmove "$box" 0 0  # away from the label
    sleep 0.5
    [ "$(pixels "$main_win" "$label")" != "$label_before" ] || fail "the label did not change"
    indicator_first=$(pixels "$main_win" "$indicator")
    sleep 1.3  # more than one of the indicator's steps
    check "indicator stands still" "$indicator_first" "$(pixels "$main_win" "$indicator")"
    answer "$box" '^Morvel升级$' Return || fail "the box stayed open"
  fi
  check "payload kept" "not a zlib stream" "$(cat "$dir/update/X.dll")"
  check "still running" yes "$(kill -0 "$app" 2>/dev/null && echo yes || echo no)"
  [ -n "$main_win" ] && [ -n "$wmclose" ] && "$wmclose" "$main_win"
  [ -n "$wmclose" ] || kill "$app"
  await_end 10
  [ -n "$wmclose" ] && check "exit code" 0 "$rc"
  kill "$wm" 2>/dev/null
else
  echo "NOTE: openbox, xprop or import missing: the error box's stacking is not checked"
fi

if [ "$failures" -ne 0 ] && [ -s "$work/stderr.log" ]; then
  echo "-- the program's standard error:"
  cat "$work/stderr.log"
fi
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
