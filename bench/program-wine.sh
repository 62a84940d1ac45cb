#!/usr/bin/env bash
# Measurements of the Windows program: the cross-built UpdateExe.exe runs
# under wine64, in a Wine prefix of its own, on its own Xvfb, on
# installations in a temporary folder (the database through Wine's ODBC and
# the host's SQLite ODBC driver).
#
#   bench/program-wine.sh [BUILD_DIR]          (default: build/win64)
#
# Reports:
#  - the opening: start to the upgrade window shown, on an installation whose
#    version is reached (the program ends by itself three seconds later);
#    median, least and most of UE_BENCH_STARTS starts (10);
#  - the walk: rows that need no file work (IsClient false in DownLoadFileLog,
#    every one already logged in UpdateFileLog, as bench/program.sh builds
#    them); cost = start to exit - the same with empty tables, in total and
#    per row, for each of UE_BENCH_ROWS ("1000 10000"); the median of
#    UE_BENCH_RUNS runs (3) counts;
#  - one compressed payload of UE_BENCH_PAYLOAD_MIB (1024; 0 leaves it out)
#    expanded and installed (start to exit - the empty run), and in the same
#    runs how well the window kept answering: the longest time without its
#    messages processed (UPDATEEXE_TRACE_PUMP), bar 250 ms. The reference is
#    bench/program.sh's native Linux inflate + copy (program_reference of
#    UE_BENCH_REFERENCE_BUILD, default build/linux-release), when built.
#
# The display has a window manager (openbox, when installed; UE_BENCH_WM=0
# leaves it out), as a desktop has. Without one, Wine's X11 driver waits up to
# two seconds, each time a window it let the manager handle is hidden, for
# the manager to take the window back: the upgrade window's close would
# cost 2 s that no desktop pays.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/win64}
exe=$(find "$build/ui" -name UpdateExe.exe 2>/dev/null | head -n1)
main_exe=$build/tests/win/ue_win_main_installed.exe
schema=$root/records/schema.sql
sizes=${UE_BENCH_ROWS:-1000 10000}
runs=${UE_BENCH_RUNS:-3}
starts=${UE_BENCH_STARTS:-10}

for tool in Xvfb xdotool sqlite3 wineboot wineserver winepath; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/setup installs it)"; exit 1; }
done
if [ -z "$exe" ] || [ ! -f "$main_exe" ]; then
  echo "UpdateExe.exe or its test main program is missing: cmake --preset win64 && cmake --build --preset win64"
  exit 1
fi

# shellcheck source=../tests/ui/installation.sh
source "$root/tests/ui/installation.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/ue-bench-wine-XXXXXX")
app=""
wm=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null
  ue_wine_end
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  [ -n "${UE_XVFB_PID:-}" ] && kill "$UE_XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ue_start_xvfb || { echo "Xvfb did not start"; exit 1; }
wm_name="none"
if [ "${UE_BENCH_WM:-1}" != 0 ] && command -v openbox >/dev/null; then
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  openbox --sm-disable --config-file "$root/tests/ui/openbox-rc.xml" >/dev/null 2>&1 &
  wm=$!
  wm_name="openbox"
  sleep 0.5
fi
echo "== making the Wine prefix"
ue_wine_prefix "$work/prefix" || { echo "wineboot failed"; exit 1; }

# template NAME ROWS: an installation whose walk meets ROWS rows that need no
# file work.
template() {
  local dir=$work/$1 rows=$2
  mkdir -p "$dir"
  ue_lay_out_windows "$dir" "$exe" "$schema" bench-main.exe "$main_exe"
  sqlite3 "$dir/UpdateFile.mdb" "
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
    INSERT INTO DownLoadFileLog (AID, SoftID, FileName, FileVer, FileType, IsClient, UpdatePath)
      SELECT i, 1, 'file' || i || '.dat', 2, 0, 0, 'data' FROM n WHERE $rows > 0;
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
    INSERT INTO UpdateFileLog (AID, SoftID, FileName, FileVer, IsClient, BakPath, IsUpdate)
      SELECT i, 1, 'file' || i || '.dat', 2, 0, 'bak', 1 FROM n WHERE $rows > 0;"
}

# run_program NAME: runs a fresh copy of template NAME; sets shown_ms and
# exit_ms (from the start).
run_program() {
  local dir=$work/run start id shown end
  rm -rf "$dir"
  cp -a "$work/$1" "$dir"
  rm -f "$work/pump.trace"
  sync
  start=$(date +%s%N)
  UPDATEEXE_TRACE_PUMP=$(winepath -w "$work/pump.trace" 2>/dev/null) \
    "$UE_WINE" "$dir/UpdateExe.exe" >>"$work/program.log" 2>&1 &
  app=$!
  id=$(ue_await_shown '^正在升级文件$' 120)
  shown=$(date +%s%N)
  wait "$app"
  end=$(date +%s%N)
  app=""
  if [ -z "$id" ]; then
    echo "the window of $1 did not appear"; tail "$work/program.log"; exit 1
  fi
  if ! sqlite3 "$dir/UpdateFile.mdb" "SELECT IsAllUpdate FROM CurSoftInfo" | grep -qx 1; then
    echo "the run of $1 did not complete"; tail "$work/program.log"; exit 1
  fi
  shown_ms=$(( (shown - start) / 1000000 ))
  exit_ms=$(( (end - start) / 1000000 ))
  gap_ms=$(awk '$1 == "longest-gap-ms" { print $2 }' "$work/pump.trace" 2>/dev/null | tail -n1)
  rm -rf "$dir"
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

echo "== preparing installations in $work"
template reached 0
sqlite3 "$work/reached/UpdateFile.mdb" "UPDATE CurSoftInfo SET IsAllUpdate = 1, SoftVer = 2"
for n in 0 $sizes; do template "rows$n" "$n"; done

echo "== opening: $starts starts"
times=()
for s in $(seq "$starts"); do
  run_program reached
  times+=("$shown_ms")
  printf '  start %2d: shown after %d ms\n' "$s" "$shown_ms"
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
open_median=$(median "${times[@]}")

declare -A exits
for r in $(seq "$runs"); do
  echo "== walk, round $r of $runs"
  for n in 0 $sizes; do
    run_program "rows$n"
    exits[rows$n]="${exits[rows$n]:-} $exit_ms"
    printf '  %6d rows: shown after %5d ms, ended after %6d ms\n' "$n" "$shown_ms" "$exit_ms"
  done
done

echo "== results (wine64 $("$UE_WINE" --version 2>/dev/null), window manager: $wm_name)"
echo "opening: window shown after median $open_median ms (least $(echo "$sorted" | head -n1), most $(echo "$sorted" | tail -n1)) over $starts starts"
# shellcheck disable=SC2086
empty=$(median ${exits[rows0]})
printf 'empty tables: ended after %d ms (median of %d)\n' "$empty" "$runs"
for n in $sizes; do
  # shellcheck disable=SC2086
  total=$(median ${exits[rows$n]})
  awk -v n="$n" -v ms="$(( total - empty ))" 'BEGIN {
    printf "walk over %d rows: %d ms beyond the empty tables, %.1f us a row\n", n, ms, ms * 1000 / n }'
done

payload_mib=${UE_BENCH_PAYLOAD_MIB:-1024}
if [ "$payload_mib" -gt 0 ]; then
  reference=${UE_BENCH_REFERENCE_BUILD:-$root/build/linux-release}/bench/program_reference
  template payload 0
  if [ -x "$reference" ]; then
    "$reference" make "$payload_mib" "$work/payload.z" || exit 1
  else
    python3 -c 'import sys, zlib
c = zlib.compressobj()
line = b"".join(b"line %08d of a text-like payload, more or less compressible\n" % i for i in range(16384))
with open(sys.argv[2], "wb") as out:
    for _ in range(int(sys.argv[1]) * (1 << 20) // len(line)):
        out.write(c.compress(line))
    out.write(c.flush())' "$payload_mib" "$work/payload.z"
  fi
  cp "$work/payload.z" "$work/payload/update/payload.bin"
  ue_download "$work/payload" 1 payload.bin 2 5
  payload_exits=() gaps=() refs=()
  for r in $(seq "$runs"); do
    echo "== payload of $payload_mib MiB, round $r of $runs"
    run_program payload
    payload_exits+=("$exit_ms")
    gaps+=("${gap_ms:-999999}")
    printf '  ended after %d ms; longest gap without messages processed: %s ms\n' "$exit_ms" "${gap_ms:-?}"
    if [ -x "$reference" ]; then
      sync
      ref=$("$reference" reference "$work/payload.z" "$work/expanded" "$work/installed") || exit 1
      rm -f "$work/expanded" "$work/installed"
      refs+=("$(awk -v s="$ref" 'BEGIN { printf "%d", s * 1000 }')")
      printf '  reference (native) inflate + copy_file_range: %d ms\n' "${refs[-1]}"
    fi
  done
  net=$(( $(median "${payload_exits[@]}") - empty ))
  worst_gap=$(printf '%s\n' "${gaps[@]}" | sort -n | tail -n1)
  printf 'payload of %d MiB: program %d ms beyond the empty tables (median of %d)\n' "$payload_mib" "$net" "$runs"
  if [ "${#refs[@]}" -gt 0 ]; then
    awk -v net="$net" -v ref="$(median "${refs[@]}")" 'BEGIN {
      printf "expansion ratio against the native reference (%d ms): %.2f; %.2f without the run'"'"'s 200 ms of pauses\n", ref, ref / net, ref / (net - 200) }'
  fi
  printf 'window answering during the payload runs: longest gap %d ms (bar: under 250 ms)\n' "$worst_gap"
fi
