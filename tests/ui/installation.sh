# Shell helpers that lay out a demo or test installation of UpdateExe in a
# folder: the program, UpdateFile.mdb made with sqlite3 from the reference
# schema, Update.ini, the update folder and a small main program; and, for the
# Windows program, a Wine prefix of its own to run it in. Sourced by
# tests/ui/e2e.sh, tests/win/e2e.sh, scripts/demo and the bench scripts.

# ue_lay_out DIR UPDATEEXE SCHEMA MAIN_NAME
#   MAIN_NAME is the ExeFile of Update.ini: a shell script that writes
#   "started" into DIR when it runs. CurSoftInfo starts at version 1 with
#   version 2 downloaded.
ue_lay_out() {
  local dir=$1 exe=$2 schema=$3 main=$4
  ue_records "$dir" "$schema" "$main"
  cp "$exe" "$dir/UpdateExe"
  ue_main_program "$dir/$main" "installed"
}

# ue_lay_out_windows DIR UPDATEEXE_EXE SCHEMA MAIN_NAME MAIN_EXE
#   As ue_lay_out for the Windows program: UpdateExe.exe, and MAIN_EXE
#   (a Windows program) installed as MAIN_NAME.
ue_lay_out_windows() {
  local dir=$1 exe=$2 schema=$3 main=$4 main_exe=$5
  ue_records "$dir" "$schema" "$main"
  cp "$exe" "$dir/UpdateExe.exe"
  cp "$main_exe" "$dir/$main"
}

# ue_records DIR SCHEMA MAIN_NAME: the update folder, UpdateFile.mdb and
# Update.ini of an installation at version 1 with version 2 downloaded.
ue_records() {
  local dir=$1 schema=$2 main=$3
  mkdir -p "$dir/update"
  sqlite3 "$dir/UpdateFile.mdb" < "$schema"
  sqlite3 "$dir/UpdateFile.mdb" \
    "INSERT INTO CurSoftInfo (IsAllUpdate, SoftVer, CurUpdateVer) VALUES (0, 1, 2);"
  printf '[Update]\r\nExeFile=%s\r\nExeFile2=\r\nCurVer=1\r\nUpdateTime=2024-01-01\r\n' \
    "$main" > "$dir/Update.ini"
}

# ue_main_program PATH LABEL: a main program that records that it was
# started, and which copy ("installed" or "updated") ran.
ue_main_program() {
  cat > "$1" <<SCRIPT
#!/bin/sh
echo "$2 \$(date +%T)" >> "\$(dirname "\$0")/started"
SCRIPT
  chmod +x "$1"
}

# ue_download DIR AID NAME VER TYPE [UPDATE_PATH]: a DownLoadFileLog row
# (SoftID 1, IsClient true).
ue_download() {
  local dir=$1 aid=$2 name=$3 ver=$4 type=$5 path=${6:-}
  sqlite3 "$dir/UpdateFile.mdb" "INSERT INTO DownLoadFileLog
    (AID, SoftID, FileName, FileVer, FileType, IsClient, UpdatePath)
    VALUES ($aid, 1, '$name', $ver, $type, 1, '$path');"
}

# ue_zlib SOURCE TARGET: TARGET becomes SOURCE as one zlib stream.
ue_zlib() {
  python3 -c 'import sys, zlib
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(zlib.compress(data, 9))' "$1" "$2"
}

# ue_environment DIR: the restart command and the pending-rename list point
# into DIR, so that nothing outside it is touched.
ue_environment() {
  export UPDATEEXE_REBOOT_COMMAND="echo restart >> '$1/restart-requests'"
  export UPDATEEXE_PENDING_RENAMES_FILE="$1/PendingFileRenameOperations"
}

# ue_start_xvfb: starts Xvfb on a free display; sets DISPLAY and UE_XVFB_PID.
ue_start_xvfb() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  UE_XVFB_PID=$!
  local i
  for i in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
  done
  if [ ! -s "$fdfile" ]; then
    rm -f "$fdfile"
    return 1
  fi
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
  # Ready once a client can talk to it.
  for i in $(seq 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

# ue_visible NAME: the ids of the visible windows whose name matches, one a
# line; false when X could not be asked. xdotool ends a search with an X error
# (BadWindow) when a window it has listed is destroyed before it looks at it,
# as Qt and Wine destroy a dialog's window just after hiding it: such a search
# says nothing about NAME, so it is made again.
ue_visible() {
  local out
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    out=$(xdotool search --onlyvisible --name "$1" 2>&1)
    if ! grep -qvx '[0-9]*' <<<"$out"; then
      [ -z "$out" ] || printf '%s\n' "$out"
      return 0
    fi
    sleep 0.01
  done
  return 1
}

# ue_await_shown NAME SECONDS: polls every 10 ms (xdotool's own --sync waits
# half a second between looks, and gives up at the first X error) until a
# visible window's name matches; prints its id, or nothing after SECONDS.
# ue_large_payload FILE MIB: a zlib payload that expands to MIB MiB of
# random text, written piece by piece (the memory stays small).
ue_large_payload() {
  python3 -c 'import os, sys, zlib, base64
c = zlib.compressobj(1)
with open(sys.argv[1], "wb") as out:
    for _ in range(int(sys.argv[2])):
        out.write(c.compress(base64.b64encode(os.urandom(786432))))
    out.write(c.flush())' "$1" "$2"
}

ue_await_shown() {
  local deadline=$(( $(date +%s%N) + $2 * 1000000000 )) id
  while [ "$(date +%s%N)" -lt "$deadline" ]; do
    id=$(ue_visible "$1" | head -n1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.01
  done
  return 1
}

# ue_wine_prefix DIR: makes a Wine prefix of its own in DIR (one `wineboot -i`,
# some seconds) and points WINEPREFIX at it, with a wineserver that stays
# until ue_wine_end, so that later starts are quick. Wine converts the
# command line with the locale's character set: a UTF-8 one keeps Chinese
# window captions whole. The Wine processes of this prefix never see
# anything outside it but the folders the caller hands them.
ue_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  export LC_ALL=C.UTF-8
  UE_WINE=wine
  [ -x /usr/lib/wine/wine64 ] && UE_WINE=/usr/lib/wine/wine64
  mkdir -p "$1"
  wineserver -p >/dev/null 2>&1
  wineboot -i >/dev/null 2>&1
}

# ue_wine_song_font: "宋体" (SimSun) in the prefix, as a Chinese Windows has
# it, drawn with the host's WenQuanYi Zen Hei; without it the windows fall
# back to a face that has no Chinese glyphs under Wine.
ue_wine_song_font() {
  local face key='HKCU\Software\Wine\Fonts\Replacements'
  for face in SimSun 宋体; do
    ue_wine reg add "$key" /v "$face" /t REG_SZ /d "WenQuanYi Zen Hei" /f >/dev/null 2>&1
  done
}

# ue_wine PROGRAM [ARG...]: runs a Windows program in the prefix.
ue_wine() { "$UE_WINE" "$@"; }

# ue_wine_end: ends every process of the prefix and its wineserver.
ue_wine_end() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1
  return 0
}

# ue_winpath PATH: PATH as the Windows program sees it (Z:\...).
ue_winpath() { winepath -w "$1" 2>/dev/null; }
