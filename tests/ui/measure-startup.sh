#!/usr/bin/env bash
# Measures the time from starting UpdateExe to its upgrade window being shown,
# on an installation whose version is already reached (the program then ends
# by itself three seconds later). Runs under Xvfb unless DISPLAY is set.
#   measure-startup.sh UPDATEEXE SCHEMA [RUNS]
set -uo pipefail
exe=$1 schema=$2 runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/installation.sh"

work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
if [ -z "${DISPLAY:-}" ]; then
  ue_start_xvfb || { echo "Xvfb did not start"; exit 1; }
  xvfb=$UE_XVFB_PID
fi
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

ue_lay_out "$work" "$exe" "$schema" ue-measure-main.sh
sqlite3 "$work/UpdateFile.mdb" "UPDATE CurSoftInfo SET IsAllUpdate = 1, SoftVer = 2"
ue_environment "$work"

times=()
for n in $(seq "$runs"); do
  start=$(date +%s%N)
  "$work/UpdateExe" 2>>"$work/stderr.log" &
  app=$!
  id=$(ue_await_shown '^正在升级文件$' 20)
  end=$(date +%s%N)
  if [ -z "$id" ]; then echo "run $n: the window did not appear"; cat "$work/stderr.log"; kill "$app" 2>/dev/null; exit 1; fi
  ms=$(( (end - start) / 1000000 ))
  times+=("$ms")
  echo "run $n: $ms ms"
  wait "$app"
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "median $(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p") ms, min $(echo "$sorted" | head -n1) ms, max $(echo "$sorted" | tail -n1) ms over $runs runs"
