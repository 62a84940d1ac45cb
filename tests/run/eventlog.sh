#!/usr/bin/env bash
# The run log in the Windows Event Log: the probe's entries reach ReportEventW
# with their texts and types. Wine keeps no event log; it prints each string
# of ReportEventW on its "eventlog" channel (information as trace, warning as
# warn, error as err) and the call's arguments as a fixme. Usage: eventlog.sh <wine-run> <runlog_probe.exe>
set -euo pipefail
wine_run=$1
probe=$2
err=$(mktemp)
trap 'rm -f "$err"' EXIT
UE_WINEDEBUG=+eventlog "$wine_run" "$probe" 2>"$err"
status=0
expect() {
  if ! grep -E -q -- "$1" "$err"; then
    echo "missing on the eventlog channel: $1" >&2
    status=1
  fi
}
expect 'trace:eventlog:ReportEventW L"Update of C:\\\\suite\\\\ started"'
expect 'warn:eventlog:ReportEventW L"queued for the restart C:\\\\suite\\\\probe-queued.dll: in use; it is replaced at the next restart"'
expect 'err:eventlog:ReportEventW L"Update of C:\\\\suite\\\\ ended: failed: probe failure"'
# Its stub names the arguments: the type (4 information, 2 warning, 1 error),
# category 0, event 1 of the message file, one string.
for type in 0x0004 0x0002 0x0001; do
  expect "ReportEventW \([0-9A-Fa-f]+,$type,0x0000,0x00000001,[0-9A-Fa-f]+,0x0001,"
done
if [ $status -ne 0 ]; then
  echo "--- eventlog channel:" >&2
  grep eventlog "$err" >&2 || cat "$err" >&2
fi
exit $status
