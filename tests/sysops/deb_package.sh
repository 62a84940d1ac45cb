#!/usr/bin/env bash
# `cpack -G DEB` of a configured and built tree: the package holds UpdateExe
# in the suite's folder, the renamer, and both units where systemd reads
# them, naming the renamer where the package puts it; its maintainer scripts
# enable and disable the units.
#   deb_package.sh <build dir> [<suite folder>]
set -euo pipefail
build=$(cd "$1" && pwd)
suite=${2:-/opt/morvel}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
echo "-- $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $6}' | grep -Ev '/$' | tee "$work/list"

has() { grep -qxE "$1" "$work/list" || fail "not in the package: $1"; }
has "\.$suite/UpdateExe"
has '\./usr/libexec/updateexe-boot-renames'
has '\./(usr/)?lib/systemd/system/updateexe-boot-renames\.service'
has '\./(usr/)?lib/systemd/user/updateexe-user-renames\.service'

dpkg-deb -x "$deb" "$work/root"
for unit in $(cd "$work/root" && find . -name '*.service' | sed 's/^\.//'); do
  exec=$(sed -n 's/^ExecStart=//p' "$work/root$unit")
  [ "$exec" = /usr/libexec/updateexe-boot-renames ] || fail "$unit runs $exec"
done
dpkg-deb -e "$deb" "$work/control"
grep -q 'systemctl enable updateexe-boot-renames.service' "$work/control/postinst" || fail "postinst enables nothing"
grep -q 'systemctl --global enable updateexe-user-renames.service' "$work/control/postinst" || fail "postinst leaves the user unit"
grep -q 'systemctl disable updateexe-boot-renames.service' "$work/control/prerm" || fail "prerm disables nothing"
exit $failed
