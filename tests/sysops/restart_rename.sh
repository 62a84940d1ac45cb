#!/usr/bin/env bash
# A replacement queued by the Windows build is carried out by the next start
# of Windows: in a fresh Wine prefix of its own, the helper queues update\X.dll
# over X.dll, the file stays as it is until `wineboot -r` (Wine's restart),
# and is the new one afterwards.
#   restart_rename.sh <wine runner> <helper.exe>
set -euo pipefail
runner=$1
helper=$2
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
mkdir -p "$work/inst/update"
printf new >"$work/inst/update/X.dll"
printf old >"$work/inst/X.dll"
source=$(winepath -w "$work/inst/update/X.dll" 2>/dev/null)
target=$(winepath -w "$work/inst/X.dll" 2>/dev/null)

"$runner" "$helper" queue "$source" "$target"
[ "$(cat "$work/inst/X.dll")" = old ] || { echo "replaced before the restart"; exit 1; }
wineboot -r >/dev/null 2>&1
wineserver -w
if [ "$(cat "$work/inst/X.dll")" != new ] || [ -e "$work/inst/update/X.dll" ]; then
  echo "not replaced at the restart: X.dll holds '$(cat "$work/inst/X.dll")'"
  exit 1
fi
echo "X.dll replaced at the restart"
