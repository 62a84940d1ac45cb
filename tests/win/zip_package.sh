#!/usr/bin/env bash
# `cpack -G ZIP` of the built Windows tree holds UpdateExe.exe (this build's,
# with its version information) beside README.md and docs/windows.md.
#   zip_package.sh <build dir>
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
zip=$(ls "$work"/out/*.zip)
echo "-- $(basename "$zip")"
unzip -Z1 "$zip" | tee "$work/list"
failed=0
for name in UpdateExe.exe README.md docs/windows.md; do
  grep -qE "^[^/]+/$name\$" "$work/list" || { echo "FAIL: $name not in the package"; failed=1; }
done
unzip -q "$zip" -d "$work/x"
cmp "$(find "$work/x" -name UpdateExe.exe)" "$build/ui/UpdateExe.exe" || { echo "FAIL: not this build's exe"; failed=1; }
exit $failed
