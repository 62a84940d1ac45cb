#!/usr/bin/env bash
# The built UpdateExe.exe carries its version information (the project's
# version, product and file names), its icon and, in a Release build, no
# debug sections. Also checks the i686 build when it was built beside
# (build/win32), as scripts/test builds it.
#   exe_resources.sh <version> <build type> <exe> [<i686 exe>]
set -euo pipefail
version=$1
type=$2
shift 2
failed=0
fail() { echo "FAIL: $*"; failed=1; }

check() {
  local exe=$1 tools=$2
  echo "-- $exe"
  local rc
  rc=$("$tools-windres" -i "$exe" -O rc 2>&1) || { echo "$rc"; fail "windres cannot read $exe"; return; }
  grep -E 'VERSIONINFO|FILEVERSION|PRODUCTVERSION|VALUE "(FileVersion|ProductVersion|ProductName|FileDescription|CompanyName|OriginalFilename)"' <<<"$rc"
  grep -q "FILEVERSION ${version//./, }, 0" <<<"$rc" || fail "$exe: FILEVERSION is not $version"
  for value in "FileVersion\", \"$version" "ProductVersion\", \"$version" "ProductName\", \"UpdateExe" \
               "OriginalFilename\", \"UpdateExe.exe" "FileDescription" "CompanyName"; do
    grep -qF "VALUE \"$value" <<<"$rc" || fail "$exe: no VALUE \"$value"
  done
  # The icon group Explorer shows (RT_GROUP_ICON, 14) and its images (RT_ICON, 3).
  local images
  images=$(grep -cE '^[0-9]+ 3 /\* RT_ICON' <<<"$rc" || true)
  echo "icon: $(grep -E '^1 14 ' <<<"$rc" || echo none), $images images"
  grep -qE '^1 14 ' <<<"$rc" && [ "$images" -ge 1 ] || fail "$exe: no icon"
  local sections
  sections=$("$tools-objdump" -h "$exe" | awk '$2 ~ /^\.debug/ {print $2}')
  if [ "$type" = Release ]; then
    [ -z "$sections" ] || fail "$exe: a Release build with debug sections: $sections"
  fi
}

check "$1" x86_64-w64-mingw32
if [ $# -ge 2 ] && [ -f "$2" ]; then
  check "$2" i686-w64-mingw32
else
  echo "i686 build not found: not checked (build it with the win32 preset)"
fi
exit $failed
