#!/usr/bin/env bash
# The options of UpdateExe.exe under wine64 without any display: an
# unattended run decides every question itself and tells its outcome by the
# Windows Installer exit codes; /version prints and touches nothing.
# Everything runs in a Wine prefix of the test's own under a temporary folder.
#   unattended.sh UPDATEEXE_EXE MAIN_UPDATED_EXE HELPER_EXE LOCK_HOLDER_EXE SCHEMA
set -uo pipefail

exe=$1 main_updated=$2 helper=$3 lock_holder=$4 schema=$5
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=../ui/installation.sh
source "$here/../ui/installation.sh"
# shellcheck source=../ui/e2e-steps.sh
source "$here/../ui/e2e-steps.sh"
ue_require_tools sqlite3 wineboot wineserver winepath
case "$(locale charmap 2>/dev/null)" in UTF-8) ;; *) export LC_ALL=C.UTF-8 ;; esac
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d)
started_pids=()
holder_flag=$work/holder-flag
cleanup() {
  local pid
  rm -f "$holder_flag"
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null; done
  ue_wine_end
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ue_wine_prefix "$work/prefix" || { echo "SKIP: wineboot could not make a prefix"; exit 77; }
main=MorvelSuite.exe

new_installation() {
  dir=$work/$1
  mkdir -p "$dir"
  ue_lay_out_windows "$dir" "$exe" "$schema" "$main" "$main_updated"
  cp "$main_updated" "$dir/update/$main"
  ue_one_file "$dir"
  windir=$(ue_winpath "$dir")
}

# run [ARG...]: UpdateExe.exe in $dir from another folder, bounded; sets rc,
# out and err. Wine hands its Unix parent the low 8 bits of the exit code
# (1603 arrives as 67): code CODE gives the value to expect.
run() {
  (cd / && exec "$UE_WINE" "$dir/UpdateExe.exe" "$@") >"$work/out" 2>"$work/err" </dev/null &
  app=$!
  started_pids+=("$app")
  await_end 120
  out=$(tr -d '\r' < "$work/out") err=$(tr -d '\r' < "$work/err")
}

code() { echo $(($1 % 256)); }

pending_renames() {
  ue_wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep -a PendingFileRenameOperations
}

echo "== /unattended, one file: applied, main program started, 0"
new_installation road
run /unattended
check "exit code" 0 "$rc"
check "installed file" "new content" "$(cat "$dir/X.dll")"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
for _ in $(seq 50); do [ -e "$dir/$main.started" ] && break; sleep 0.1; done
check "main program started" "updated" "$(cut -d' ' -f1 "$dir/$main.started" 2>/dev/null)"

echo "== /unattended, a held file: queued for the restart, no restart, 3010"
new_installation held
ue_wine "$helper" hold "$(ue_winpath "$dir/X.dll")" "$(ue_winpath "$holder_flag")" >/dev/null 2>&1 &
started_pids+=("$!")
for _ in $(seq 200); do [ -e "$holder_flag" ] && break; sleep 0.05; done
run /unattended /log "$(ue_winpath "$work/update.log")"
check "exit code 3010" "$(code 3010)" "$rc"
queued=$(pending_renames)
check "queued for the restart" yes \
  "$(case "$queued" in *"$windir\X.dll.~ur"*"$windir\X.dll"*) echo yes ;; *) echo "no: $queued" ;; esac)"
check "held file untouched" "old content" "$(cat "$dir/X.dll")"
check "main program not started" no "$(exists "$dir/$main.started")"
rm -f "$holder_flag"

echo "== /unattended, no database: 1603, the file named on stderr"
new_installation nodb
rm "$dir/UpdateFile.mdb"
run /unattended
check "exit code 1603" "$(code 1603)" "$rc"
check "stderr names the database" yes "$(grep -q 'UpdateFile.mdb' <<<"$err" && echo yes || echo "no: $err")"
check "no database created" no "$(exists "$dir/UpdateFile.mdb")"
# A Chinese user (Wine takes the UI language from the locale) reads it in
# Chinese; the checks elsewhere run in the prefix's C.UTF-8, in English.
if bash "$here/zh-cn.sh" "$work/locale" true; then
  LOCPATH=$work/locale LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 run /unattended
  check "a Chinese user reads it in Chinese" yes \
    "$(grep -qF "更新数据库 \"$windir\\UpdateFile.mdb\" 不存在" <<<"$err" && echo yes || echo "no: $err")"
else
  echo "SKIP: no zh_CN.UTF-8 locale for Wine"
fi

echo "== another UpdateExe works on the installation: 1618, nothing touched"
new_installation second
rm -r "$dir/update"
ue_wine "$lock_holder" "$windir" "$(ue_winpath "$holder_flag")" >/dev/null 2>&1 &
started_pids+=("$!")
for _ in $(seq 200); do [ -e "$holder_flag" ] && break; sleep 0.05; done
run /unattended
check "exit code 1618" "$(code 1618)" "$rc"
check "says why" yes "$(grep -q 'another UpdateExe is updating this installation' <<<"$err" && echo yes || echo "no: $err")"
check "no update folder made" no "$(exists "$dir/update")"
rm -f "$holder_flag"

echo "== /version in an empty folder: printed, nothing created"
dir=$work/empty
mkdir "$dir"
cp "$exe" "$dir/UpdateExe.exe"
run /version
check "exit code" 0 "$rc"
check "version" yes "$(grep -qx 'UpdateExe [0-9][0-9.]*' <<<"$out" && echo yes || echo "no: $out")"
run /log
check "/log without its file: exit code 1603" "$(code 1603)" "$rc"
check "folder unchanged" "UpdateExe.exe" "$(ls -A "$dir" | tr '\n' ' ' | sed 's/ $//')"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
