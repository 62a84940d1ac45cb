# Shell steps that the end-to-end tests of the Linux and the Windows program
# share: the tally of checks, waiting for the program to end, key presses.
# Sourced by the end-to-end and unattended tests of both programs.

# ue_require_tools TOOL...: skips the test (exit 77) when one is missing.
ue_require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed (scripts/setup installs it)"
      exit 77
    fi
  done
}

# ue_one_file DIR: the download of one type-0 file X.dll, version 7, that
# replaces the installed one.
ue_one_file() {
  echo "new content" > "$1/update/X.dll"
  echo "old content" > "$1/X.dll"
  ue_download "$1" 1 X.dll 7 0
}

# sql STATEMENT: on the update database of the installation in $dir.
sql() { sqlite3 "$dir/UpdateFile.mdb" "$1"; }
exists() { [ -e "$1" ] && echo yes || echo no; }

failures=0
passes=0
fail() { echo "  FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then pass; else fail "$1: expected [$2], got [$3]"; fi
}

# Waits (bounded) for the program $app to end; sets rc (124 when it had to be stopped).
await_end() {
  local i
  for i in $(seq $((${1:-30} * 10))); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app" 2>/dev/null; then
    kill "$app"
    wait "$app" 2>/dev/null
    rc=124
  else
    wait "$app"
    rc=$?
  fi
}

press() {  # press WINDOW KEY
  xdotool windowfocus --sync "$1" 2>/dev/null
  xdotool key --clearmodifiers "$2"
}

# answer WINDOW NAME KEY: presses KEY in WINDOW and waits (bounded) until no
# visible window named NAME is WINDOW any more. Under load X may deliver a
# key before the toolkit has made the window active, and the key is lost, as
# type-ahead is on a desktop: then KEY is pressed once more, and the test says
# so. False when that key is lost too.
answer() {
  press "$1" "$3"
  ue_await_gone "$1" "$2" && return 0
  echo "  NOTE: $2 let the first $3 go; pressed again"
  press "$1" "$3"
  ue_await_gone "$1" "$2"
}
ue_await_gone() {  # ue_await_gone WINDOW NAME, polling every 10 ms for 5 s
  local i ids
  for i in $(seq 500); do
    if ids=$(ue_visible "$2"); then grep -qx "$1" <<<"$ids" || return 0; fi
    sleep 0.01
  done
  return 1
}
