#!/usr/bin/env bash
# End-to-end test of the options of the real program without any display
# (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset): an unattended run
# decides every question itself and tells its outcome by exit code; without
# arguments the exit code stays 0. Every installation lies in a temporary
# folder, the restart command and the pending-rename list point into it, and
# only processes this script started are ever stopped.
#   unattended.sh UPDATEEXE SCHEMA
set -uo pipefail

exe=$1 schema=$2
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=installation.sh
source "$here/installation.sh"
# shellcheck source=e2e-steps.sh
source "$here/e2e-steps.sh"
ue_require_tools sqlite3 flock
export LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
# The program speaks the user's language: these checks read English.
unset LC_ALL LC_MESSAGES
export LANG=C.UTF-8

work=$(mktemp -d)
started_pids=()
cleanup() {
  local pid
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

main=ue-unattended-suite-$$.sh  # a name no other process has: the run stops programs by name

new_installation() {
  dir=$work/$1
  mkdir -p "$dir"
  ue_lay_out "$dir" "$exe" "$schema" "$main"
  ue_one_file "$dir"
  ue_environment "$dir"
}

# run [ARG...]: the program in $dir from another folder, bounded; sets rc,
# out and err.
run() {
  (cd / && exec "$dir/UpdateExe" "$@") >"$work/out" 2>"$work/err" &
  app=$!
  started_pids+=("$app")
  await_end 60
  out=$(cat "$work/out") err=$(cat "$work/err")
}

echo "== unattended, one file: applied, main program refreshed and started, 0"
new_installation road
ue_main_program "$dir/update/$main" updated
run --unattended
check "exit code" 0 "$rc"
check "stderr" "" "$err"
check "installed file" "new content" "$(cat "$dir/X.dll")"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "main program refreshed and started" "updated" "$(cut -d' ' -f1 "$dir/started" 2>/dev/null)"
run --unattended
check "again, nothing to do: exit code" 0 "$rc"

echo "== unattended, a held file: queued for the restart, no restart, nothing started, 10"
new_installation held
sleep 600 < "$dir/X.dll" >/dev/null 2>&1 &
started_pids+=("$!")
run --unattended --log "$work/update.log"
check "exit code" 10 "$rc"
check "queued for the restart" "\\??\\$dir/X.dll.~urXXXXXX|!\\??\\$dir/X.dll|" \
  "$(tr '\0' '|' < "$dir/PendingFileRenameOperations" 2>/dev/null | sed 's/|$//; s/\.~ur....../.~urXXXXXX/')"
check "held file untouched" "old content" "$(cat "$dir/X.dll")"
check "no restart requested" no "$(exists "$dir/restart-requests")"
check "main program not started" no "$(exists "$dir/started")"
check "CurSoftInfo" "1|2|2" "$(sql 'SELECT * FROM CurSoftInfo')"
check "--log: the file's fate and the outcome in the log" yes \
  "$(grep -q 'X.dll' "$work/update.log" && grep -qi 'restart' "$work/update.log" && echo yes || echo no)"

echo "== unattended, no database: 1, stderr names the file, nothing created"
new_installation nodb
rm "$dir/UpdateFile.mdb"
run --unattended
check "exit code" 1 "$rc"
check "stderr names the database" yes "$(grep -q 'UpdateFile.mdb' <<<"$err" && echo yes || echo no)"
check "no database created" no "$(exists "$dir/UpdateFile.mdb")"
LANG=zh_CN.UTF-8 run --unattended
check "a Chinese user reads it in Chinese" yes \
  "$(grep -qF "更新数据库 \"$dir/UpdateFile.mdb\" 不存在" <<<"$err" && echo yes || echo "no: $err")"
LC_MESSAGES=zh_CN.UTF-8 LANG=C.UTF-8 run --unattended
check "LC_MESSAGES says Chinese over LANG" yes "$(grep -qF "更新数据库" <<<"$err" && echo yes || echo "no: $err")"
check "installed file untouched" "old content" "$(cat "$dir/X.dll")"
run
check "no arguments: exit code" 0 "$rc"
run -platform offscreen --ignored
check "unknown arguments only: exit code" 0 "$rc"

echo "== another UpdateExe on the installation: 3, nothing touched"
new_installation second
rm -r "$dir/update"
# The holder is the process that is stopped at the end: no child outlives it.
(exec 9>"$dir/.UpdateExe.lock" && flock 9 && exec sleep 600) >/dev/null 2>&1 &
started_pids+=("$!")
for _ in $(seq 100); do flock -n "$dir/.UpdateExe.lock" true || break; sleep 0.05; done
run --unattended
check "exit code" 3 "$rc"
check "says why" yes "$(grep -q 'another UpdateExe is updating this installation' <<<"$err" && echo yes || echo no)"
check "no update folder made" no "$(exists "$dir/update")"
run
check "no arguments: exit code" 0 "$rc"

echo "== --version and --help in an empty folder: printed, nothing created"
dir=$work/empty
mkdir "$dir"
cp "$exe" "$dir/UpdateExe"
run --version
check "exit code" 0 "$rc"
check "version" yes "$(grep -qx 'UpdateExe [0-9][0-9.]*' <<<"$out" && echo yes || echo no)"
run --help --unattended
check "help: exit code" 0 "$rc"
check "help lists the codes" yes "$(grep -q '^  10 ' <<<"$out" && echo yes || echo no)"
run --log
check "--log without its file: exit code" 1 "$rc"
check "folder unchanged" "UpdateExe" "$(ls -A "$dir" | tr '\n' ' ' | sed 's/ $//')"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
