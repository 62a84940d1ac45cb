#!/usr/bin/env bash
# Runs a command (a Windows program under Wine) as on a Chinese (PRC)
# Windows: Wine takes code page 936 and Chinese system texts from a
# zh_CN.UTF-8 locale. The locale is made with localedef into <locale dir>,
# so the host needs only the locale's sources; without a locale Wine could
# not even name a file outside ASCII. 77 when it cannot be made.
#   zh-cn.sh <locale dir> <command> [arguments]
set -euo pipefail
dir=$1
shift
if [ ! -f "$dir/zh_CN.UTF-8/LC_CTYPE" ]; then
  command -v localedef >/dev/null 2>&1 || { echo "localedef missing" >&2; exit 77; }
  mkdir -p "$dir"
  # Made aside and renamed into place, as two entries may start at once.
  tmp=$(mktemp -d "$dir/.zh.XXXXXX")
  localedef -i zh_CN -f UTF-8 "$tmp/zh_CN.UTF-8" >/dev/null 2>&1 || true
  if [ ! -f "$tmp/zh_CN.UTF-8/LC_CTYPE" ]; then
    rm -rf "$tmp"
    echo "cannot make the zh_CN.UTF-8 locale" >&2
    exit 77
  fi
  mv -T "$tmp/zh_CN.UTF-8" "$dir/zh_CN.UTF-8" 2>/dev/null || true
  rm -rf "$tmp"
fi
exec env LOCPATH="$dir" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$@"
