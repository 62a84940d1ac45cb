#!/usr/bin/env bash
# End-to-end test of the Windows UpdateExe.exe under wine64 on Xvfb, driven
# with xdotool as a person would. Everything runs in one Wine prefix of the
# test's own under a temporary folder: every installation lies there, the
# restart the program asks for ends only that prefix's session, and the
# queued replacement is carried out by that prefix's `wineboot -r`.
#   e2e.sh UPDATEEXE_EXE MAIN_INSTALLED_EXE MAIN_UPDATED_EXE HELPER_EXE SCHEMA [REG_DLL [LOCK_HOLDER]]
#   MAIN_*: the suite's main program as installed and as downloaded; each
#   appends its label to "<itself>.started" when it runs.
#   HELPER: holds a file open, or presses a window's close button.
#   REG_DLL: a library whose DllRegisterServer succeeds (FileType 2).
#   LOCK_HOLDER: holds an installation's lock as a running UpdateExe does.
set -uo pipefail

exe=$1 main_installed=$2 main_updated=$3 helper=$4 schema=$5 reg_dll=${6:-} lock_holder=${7:-}
here=$(cd "$(dirname "$0")" && pwd)


# shellcheck source=../ui/installation.sh
source "$here/../ui/installation.sh"
# shellcheck source=../ui/e2e-steps.sh
source "$here/../ui/e2e-steps.sh"
ue_require_tools Xvfb xdotool sqlite3 python3 wineboot wineserver winepath
# Wine names files in the Unix locale's code set: Chinese names need UTF-8.
case "$(locale charmap 2>/dev/null)" in UTF-8) ;; *) export LC_ALL=C.UTF-8 ;; esac

work=$(mktemp -d)
started_pids=()
holder_flags=()
cleanup() {
  local pid flag
  for flag in "${holder_flags[@]}"; do rm -f "$flag"; done
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null; done
  ue_wine_end
  [ -n "${UE_XVFB_PID:-}" ] && kill "$UE_XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT


ue_start_xvfb || { echo "SKIP: Xvfb did not start"; exit 77; }
boot_start=$(date +%s)
ue_wine_prefix "$work/prefix" || { echo "SKIP: wineboot could not make a prefix"; exit 77; }
echo "Wine prefix made in $(( $(date +%s) - boot_start )) s"

main=MorvelSuite.exe

# Lays out a fresh installation in $work/$1 with one type-0 file X.dll; sets
# dir and windir (the installation folder as the program sees it, with "\").
new_installation() {
  dir=$work/$1
  mkdir -p "$dir"
  ue_lay_out_windows "$dir" "$exe" "$schema" "$main" "$main_installed"
  ue_one_file "$dir"
  windir=$(ue_winpath "$dir")
}


# Starts UpdateExe.exe [ARG...] in $dir from another folder; sets app.
start_program() {
  (cd / && exec "$UE_WINE" "$dir/UpdateExe.exe" "$@") >>"$work/program.log" 2>&1 &
  app=$!
  started_pids+=("$app")
}

# Another program of the prefix opens FILE without sharing and keeps it open
# until release_held; waits until it holds it.
hold() {
  holder_flag=$work/held-$RANDOM
  holder_flags+=("$holder_flag")
  ue_wine "$helper" hold "$(ue_winpath "$1")" "$(ue_winpath "$holder_flag")" >/dev/null 2>&1 &
  holder=$!
  started_pids+=("$holder")
  local i
  for i in $(seq 200); do [ -e "$holder_flag" ] && return 0; sleep 0.05; done
  fail "the helper did not hold $1"
}
release_held() {
  rm -f "$holder_flag"
  local i
  for i in $(seq 50); do kill -0 "$holder" 2>/dev/null || return 0; sleep 0.1; done
}

# Waits (bounded) for a visible window whose name matches; prints its id.
await_window() { ue_await_shown "$1" "${2:-20}"; }
await_gone() {
  local i ids
  for i in $(seq 500); do
    if ids=$(ue_visible "$1") && [ -z "$ids" ]; then return 0; fi
    sleep 0.01
  done
  return 1
}


# Presses the close button of the window with this caption, from inside the
# prefix as the window manager would (there is none on this Xvfb).
close_button() { ue_wine "$helper" close "$1" >/dev/null 2>&1; }

# The started-marks of the main program, once it has had time to write them
# (it is started without waiting for it).
started_marks() {
  local i
  for i in $(seq "${1:-30}"); do [ -e "$dir/$main.started" ] && break; sleep 0.1; done
  cut -d' ' -f1 "$dir/$main.started" 2>/dev/null | tr '\n' ' ' | sed 's/ $//'
}

echo "== one file: applied, logged, version raised, main program refreshed and started"
new_installation road
cp "$main_updated" "$dir/update/$main"
start_ns=$(date +%s%N)
start_program
win=$(await_window '^正在升级文件$')
[ -n "$win" ] || fail "the upgrade window did not appear"
echo "  upgrade window shown $(( ($(date +%s%N) - start_ns) / 1000000 )) ms after start"
check "processing window hidden" "" "$(ue_visible '^正在处理')"
await_end 30
check "exit code" 0 "$rc"
check "installed file" "new content" "$(cat "$dir/X.dll")"
check "log row" "1|1|X.dll|7|1|$windir\\bak\\V0|1" "$(sql 'SELECT * FROM UpdateFileLog')"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "Update.ini CurVer" "CurVer=2" "$(grep -a '^CurVer=' "$dir/Update.ini" | tr -d '\r')"
check "Update.ini UpdateTime" "UpdateTime=$(date +%Y-%m-%d)" \
  "$(grep -a '^UpdateTime=' "$dir/Update.ini" | tr -d '\r')"
check "main program refreshed and started" "updated" "$(started_marks)"

echo "== the same installation again: the version is reached, nothing happens"
rm -f "$dir/$main.started"
cp "$dir/UpdateFile.mdb" "$work/before.mdb"
cp "$dir/Update.ini" "$work/before.ini"
start_program
await_end 30
check "exit code" 0 "$rc"
check "nothing started" "" "$(started_marks 5)"
check "database unchanged" "" "$(cmp "$dir/UpdateFile.mdb" "$work/before.mdb")"
check "Update.ini unchanged" "" "$(cmp "$dir/Update.ini" "$work/before.ini")"

echo "== a compressed payload (FileType 5): expanded, installed, its row becomes type 0"
new_installation payload
seq 1 2000 | sed 's/^/help line /' > "$work/help.txt"
ue_zlib "$work/help.txt" "$dir/update/help.txt"
ue_download "$dir" 2 help.txt 3 5 'doc\'
start_program
await_end 30
check "exit code" 0 "$rc"
check "expanded and installed" "" "$(cmp "$work/help.txt" "$dir/doc/help.txt" 2>&1)"
check "rows now type 0" "1|0 2|0" "$(sql 'SELECT AID, FileType FROM DownLoadFileLog ORDER BY AID' | tr '\n' ' ' | sed 's/ $//')"
check "log rows" "1|X.dll|7 2|help.txt|3" \
  "$(sql 'SELECT AID, FileName, FileVer FROM UpdateFileLog ORDER BY AID' | tr '\n' ' ' | sed 's/ $//')"
check "main program started" "installed" "$(started_marks)"

echo "== Esc in the dialog ends the program at once"
new_installation esc
hold "$dir/X.dll"
start_program
win=$(await_window '^替换文件出错$')
[ -n "$win" ] || fail "the dialog did not appear"
press "$win" Escape
await_end 5
check "exit code" 0 "$rc"
check "no log row" "" "$(sql 'SELECT * FROM UpdateFileLog')"
check "version not raised" "0|1|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "Update.ini CurVer" "CurVer=1" "$(grep -a '^CurVer=' "$dir/Update.ini" | tr -d '\r')"
release_held

echo "== the dialog's close button ends the run silently"
new_installation dialogclose
hold "$dir/X.dll"
start_program
win=$(await_window '^替换文件出错$')
[ -n "$win" ] || fail "the dialog did not appear"
close_button '替换文件出错'
await_end 10
check "exit code" 0 "$rc"
check "no error box" "" "$(ue_visible '^Morvel升级$')"
check "no log row" "" "$(sql 'SELECT * FROM UpdateFileLog')"
check "version not raised" "0|1|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "main program not started" "" "$(started_marks 5)"
release_held

echo "== the window closed within the first three seconds: no run"
new_installation early
start_program
win=$(await_window '^正在升级文件$')
[ -n "$win" ] || fail "the upgrade window did not appear"
close_button '正在升级文件'
await_end 10
check "exit code" 0 "$rc"
check "file not replaced" "old content" "$(cat "$dir/X.dll")"
check "version not raised" "0|1|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "no log row" "" "$(sql 'SELECT * FROM UpdateFileLog')"
check "main program not started" "" "$(started_marks 5)"

echo "== no database: the error box; dismissed, the program ends when its window is closed"
new_installation nodb
rm "$dir/UpdateFile.mdb"
start_program
boxes=0
for n in 1 2; do
  win=$(await_window '^Morvel升级$' 10)
  [ -n "$win" ] || break
  boxes=$((boxes + 1))
  press "$win" Return
  await_gone '^Morvel升级$'
done
check "error boxes (start-up, run)" 2 "$boxes"
if kill -0 "$app" 2>/dev/null; then
  [ -n "$(await_window '^正在升级文件$' 5)" ] && close_button '正在升级文件'
fi
await_end 10
check "exit code" 0 "$rc"
check "no database created" "no" "$(exists "$dir/UpdateFile.mdb")"
check "main program not started" "" "$(started_marks 5)"

# Answers the four in-use dialogs with Enter ("继续.."), as a user would.
# After the first, the suite's program ($suite) must have been stopped. Then
# waits for the restart question; sets win to it.
four_dialogs_to_restart_question() {
  local n dialogs=0
  for n in 1 2 3 4; do
    win=$(await_window '^替换文件出错$')
    [ -n "$win" ] || break
    dialogs=$((dialogs + 1))
    answer "$win" '^替换文件出错$' Return || { fail "dialog $n stayed open after Enter"; break; }
    if [ "$n" = 1 ] && [ -n "${suite:-}" ]; then
      for i in $(seq 50); do kill -0 "$suite" 2>/dev/null || break; sleep 0.1; done
      check "the suite's program stopped after the first dialog" no \
        "$(kill -0 "$suite" 2>/dev/null && echo yes || echo no)"
    fi
  done
  check "dialogs shown" 4 "$dialogs"
  win=$(await_window '^提示$')
  [ -n "$win" ] || fail "the restart question did not appear"
}

# Answers the restart question ($win) with KEY, after half a second, as a
# person reading it would. X shows the box a moment before Wine has made it
# the active window: a key in that moment goes to the upgrade window's
# focused control (WM_CHAR there in a +key,+win trace) and is lost, as
# type-ahead is on Windows. Should a key still be lost, it is pressed once
# more and the test says so.
answer_question() {
  sleep 0.5
  answer "$win" '^提示$' "$1"
}

pending_renames() {
  ue_wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep -a PendingFileRenameOperations
}

echo "== a file held open: four dialogs, programs stopped, queued; Esc; wineboot -r replaces it"
new_installation held
hold "$dir/X.dll"
# A running copy of the suite's main program, from the installation: stopped
# by name after the first dialog.
cp "$helper" "$dir/$main"
suite_flag=$work/suite-running
echo "suite data" > "$dir/suite.dat"
ue_wine "$dir/$main" hold "$(ue_winpath "$dir/suite.dat")" "$(ue_winpath "$suite_flag")" >/dev/null 2>&1 &
suite=$!
started_pids+=("$suite")
for i in $(seq 200); do [ -e "$suite_flag" ] && break; sleep 0.05; done
start_program
four_dialogs_to_restart_question
answer_question Escape
await_end 30
suite=""
check "exit code" 0 "$rc"
queued=$(pending_renames)
check "queued for the restart" yes \
  "$(case "$queued" in *"$windir\X.dll.~ur"*"$windir\X.dll"*) echo yes ;; *) echo "no: $queued" ;; esac)"
check "log row" "1|X.dll|7|1" "$(sql 'SELECT AID, FileName, FileVer, IsUpdate FROM UpdateFileLog')"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "main program not started" "" "$(started_marks 5)"
check "held file old before the restart" "old content" "$(cat "$dir/X.dll")"
release_held
wineboot -r >/dev/null 2>&1
check "held file new after wineboot -r" "new content" "$(cat "$dir/X.dll")"
check "queued copy moved" "" "$(ls "$dir" | grep -F 'X.dll.~ur')"

# Under Wine, ExitWindowsEx with EWX_REBOOT starts `wineboot --end-session`
# in this prefix: it ends the programs with windows of this prefix's session
# and then carries out the queued replacements at once (clearing the list),
# nothing outside the prefix. Windows would restart and replace the file at
# boot. So here the holder lets go before OK, and the file is new at once.
echo "== a file held open, let go before OK to the restart question: Wine's end of session replaces it"
new_installation restart
hold "$dir/X.dll"
start_program
four_dialogs_to_restart_question
release_held
answer_question Return
await_end 30
check "exit code" 0 "$rc"
for i in $(seq 50); do [ "$(cat "$dir/X.dll")" = "new content" ] && break; sleep 0.1; done
check "replaced by the restart" "new content" "$(cat "$dir/X.dll")"
check "list carried out" "" "$(pending_renames)"
check "main program not started" "" "$(started_marks 5)"

echo "== a Chinese installation folder with a blank and a ';': every FileType, a held file queued"
new_installation '升级 测试;1'
echo "新组件" > "$dir/update/组件 一.dll"
echo "旧组件" > "$dir/组件 一.dll"
ue_download "$dir" 2 '组件 一.dll' 4 0
echo "新数据" > "$dir/update/数据.dat"
echo "旧数据" > "$dir/数据.dat"
ue_download "$dir" 6 '数据.dat' 4 0
hold "$dir/数据.dat"
cp "$main_installed" "$dir/update/工具.exe"
ue_download "$dir" 3 '工具.exe' 4 1 '工具\'
seq 1 500 | sed 's/^/帮助 /' > "$work/help-zh.txt"
ue_zlib "$work/help-zh.txt" "$dir/update/帮助.txt"
ue_download "$dir" 4 '帮助.txt' 4 5 '文档\'
if [ -n "$reg_dll" ]; then
  cp "$reg_dll" "$dir/update/注册.dll"
  ue_download "$dir" 5 '注册.dll' 4 2
fi
start_program
four_dialogs_to_restart_question
answer_question Escape
await_end 60
check "exit code" 0 "$rc"
check "no error box" "" "$(ue_visible '^Morvel升级$')"
check "type 0 installed" "新组件" "$(cat "$dir/组件 一.dll")"
for i in $(seq 30); do [ -e "$dir/工具/工具.exe.started" ] && break; sleep 0.1; done
check "type 1 installed and started" "installed" "$(cut -d' ' -f1 "$dir/工具/工具.exe.started" 2>/dev/null)"
check "type 5 expanded and installed" "" "$(cmp "$work/help-zh.txt" "$dir/文档/帮助.txt" 2>&1)"
[ -n "$reg_dll" ] && check "type 2 installed" "" "$(cmp "$reg_dll" "$dir/注册.dll" 2>&1)"
logged="1|X.dll 2|组件 一.dll 3|工具.exe 4|帮助.txt"
[ -n "$reg_dll" ] && logged="$logged 5|注册.dll"
check "log rows" "$logged 6|数据.dat" \
  "$(sql 'SELECT AID, FileName FROM UpdateFileLog ORDER BY AID' | tr '\n' ' ' | sed 's/ $//')"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "Update.ini CurVer" "CurVer=2" "$(grep -a '^CurVer=' "$dir/Update.ini" | tr -d '\r')"
check "held file old before the restart" "旧数据" "$(cat "$dir/数据.dat")"
release_held
wineboot -r >/dev/null 2>&1
check "held file new after wineboot -r" "新数据" "$(cat "$dir/数据.dat")"

if [ -n "$lock_holder" ]; then
  echo "== another UpdateExe works on the installation: said in a box; started with an option, 1618"
  new_installation second
  lock_flag=$work/lock-flag
  holder_flags+=("$lock_flag")
  ue_wine "$lock_holder" "$windir" "$(ue_winpath "$lock_flag")" >/dev/null 2>&1 &
  started_pids+=("$!")
  for i in $(seq 200); do [ -e "$lock_flag" ] && break; sleep 0.05; done
  # Wine hands the Unix parent the low 8 bits of the exit code.
  for expected in 0 $((1618 % 256)); do
    if [ "$expected" = 0 ]; then start_program; else start_program /log "$(ue_winpath "$work/second.log")"; fi
    win=$(await_window '^Morvel升级$' 10)
    [ -n "$win" ] || fail "no box for the second UpdateExe"
    [ -n "$win" ] && press "$win" Return
    await_end 10
    check "second UpdateExe: exit code" "$expected" "$rc"
  done
  check "second UpdateExe: nothing applied" "old content" "$(cat "$dir/X.dll")"
  rm -f "$lock_flag"
fi

if [ "$failures" -ne 0 ] && [ -s "$work/program.log" ]; then
  echo "-- what Wine and the program wrote:"
  tail -n 40 "$work/program.log"
fi
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
