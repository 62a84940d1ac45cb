#!/usr/bin/env bash
# Runs a Windows program under Wine with a disk that takes no file beyond $1
# KiB: a file-size limit, with SIGXFSZ ignored so that a write past it fails
# and the process goes on. Wine's process is a Linux process and inherits
# both; UE_TEST_FILE_SIZE_LIMIT tells the test the limit in bytes.
#   full-disk.sh <KiB> <wine-run> <program> [arguments...]
# The prefix's wineserver is started first, without the limit: one started
# under it would inherit it and fail on its own files.
set -euo pipefail
kib=$1 wine_run=$2
shift 2
"$wine_run" cmd /c exit >/dev/null 2>&1 || true
export UE_TEST_FILE_SIZE_LIMIT=$((kib * 1024))
trap '' XFSZ
ulimit -f "$kib"
exec "$wine_run" "$@"
