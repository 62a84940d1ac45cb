#!/usr/bin/env bash
# The documented signing step on a throwaway self-signed certificate: the
# signed UpdateExe.exe verifies, and still starts under Wine (started in an
# empty folder, it makes its update folder, so its own code ran). 77 when
# osslsigncode or openssl is missing.
#   sign.sh <wine runner> <UpdateExe.exe>
set -euo pipefail
runner=$(realpath "$1")
exe=$(realpath "$2")
command -v osslsigncode >/dev/null && command -v openssl >/dev/null || { echo "osslsigncode or openssl missing"; exit 77; }
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=UpdateExe test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
mkdir "$work/inst"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -n UpdateExe \
  -in "$exe" -out "$work/inst/UpdateExe.exe" >"$work/sign.log" 2>&1 || { cat "$work/sign.log"; exit 1; }
osslsigncode verify -CAfile "$work/cert.pem" "$work/inst/UpdateExe.exe" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; echo "FAIL: the signed exe does not verify"; exit 1; }
grep -E "Signer's certificate|Subject:|Signature verification|Succeeded" "$work/verify.log" | head -n 6

# A tampered copy must not verify: the check above is not vacuous.
cp "$work/inst/UpdateExe.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=1024 conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/cert.pem" "$work/tampered.exe" >/dev/null 2>&1; then
  echo "FAIL: a changed exe still verifies"; exit 1
fi

WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wineboot -i >/dev/null 2>&1 || true
# Without a display its message cannot be shown: once it made its folder,
# it is stopped.
(cd "$work/inst" && exec env -u DISPLAY -u WAYLAND_DISPLAY "$runner" ./UpdateExe.exe >"$work/run.log" 2>&1) &
for _ in $(seq 240); do
  [ -d "$work/inst/update" ] && break
  kill -0 $! 2>/dev/null || break
  sleep 0.5
done
wineserver -k >/dev/null 2>&1 || true
wait || true
if [ ! -d "$work/inst/update" ]; then
  cat "$work/run.log"; echo "FAIL: the signed exe did not run"; exit 1
fi
echo "signed UpdateExe.exe verified and ran under Wine"
