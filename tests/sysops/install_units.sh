#!/usr/bin/env bash
# `cmake --install` into several prefixes (each under a DESTDIR of its own):
# every unit lands where systemd reads units, its ExecStart= names the
# installed renamer, and systemd-analyze verifies it when it can without a
# running systemd.
#   install_units.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# systemd's search paths for system and user units (systemd.unit(5)).
system_dirs=" /etc/systemd/system /usr/local/lib/systemd/system /usr/lib/systemd/system /lib/systemd/system "
user_dirs=" /etc/systemd/user /usr/local/lib/systemd/user /usr/lib/systemd/user "
analyze=$(command -v systemd-analyze || true)
failed=0
fail() { echo "FAIL: $*"; failed=1; }

for prefix in /opt/morvel /usr/local /usr; do
  dest=$work/root$(echo "$prefix" | tr / _)
  DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "install into $prefix"; continue; }
  units=$(cd "$dest" && find . -name 'updateexe-*.service' | sed 's/^\.//' | sort)
  [ "$(echo "$units" | wc -w)" -eq 2 ] || fail "$prefix: units installed: $units"
  for unit in $units; do
    dir=$(dirname "$unit")
    case $unit in
      *-boot-*) [[ $system_dirs == *" $dir "* ]] || fail "$prefix: $unit is not where systemd reads system units" ;;
      *) [[ $user_dirs == *" $dir "* ]] || fail "$prefix: $unit is not where systemd reads user units" ;;
    esac
    exec=$(sed -n 's/^ExecStart=//p' "$dest$unit")
    [[ $exec == "$prefix"/* ]] || fail "$prefix: $unit runs $exec, outside the prefix"
    [ -f "$dest$exec" ] && [ -x "$dest$exec" ] || fail "$prefix: $unit runs $exec, not installed"
    echo "$prefix: $unit -> $exec"
    if [ -n "$analyze" ]; then
      # The system manager's view of the staged root; the user manager takes
      # no --root, so it reads a copy whose ExecStart= has the staged path.
      args=(--root="$dest" verify "$dest$unit")
      if [[ $unit == *-user-* ]]; then
        mkdir -p "$work/user" "$work/run" && chmod 700 "$work/run"
        sed "s|^ExecStart=|ExecStart=$dest|" "$dest$unit" >"$work/user/$(basename "$unit")"
        args=(--user verify "$work/user/$(basename "$unit")")
      fi
      if XDG_RUNTIME_DIR=$work/run "$analyze" "${args[@]}" >"$work/verify.log" 2>&1; then
        if grep -q "$(basename "$unit")" "$work/verify.log"; then
          cat "$work/verify.log"; fail "$prefix: warnings on $unit"
        fi
      elif grep -qiE "unrecognized option|root directory" "$work/verify.log"; then
        echo "systemd-analyze verify skipped: $(head -n1 "$work/verify.log")"
      else
        cat "$work/verify.log"; fail "$prefix: systemd-analyze verify $unit"
      fi
    fi
  done
done
[ -x "$work/root_opt_morvel/opt/morvel/UpdateExe" ] || fail "UpdateExe is not in the suite's folder"
exit $failed
