#!/usr/bin/env bash
# Authenticode and skinpack: an installer skinpack wrote can be signed with
# osslsigncode and then verifies (and no longer does once a byte of its skin
# changes); a signed stub is refused, since adding the skin would break its
# signature.
#   signing_test.sh SKINPACK STUB SKIN WORK_DIR
set -euo pipefail

skinpack=$1 stub=$(realpath "$2") skin=$(realpath "$3") work=$4
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work/out" "$work/refused"
cd "$work"

# A throwaway code-signing certificate, its own authority.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Orvanta Skin Test" -addext "extendedKeyUsage=codeSigning" 2>openssl.log

"$skinpack" -o out "$skin"
installer="out/setup [$(basename "$skin")].exe"
osslsigncode sign -certs cert.pem -key key.pem -n "Orvanta skin" -h sha256 -in "$installer" -out signed.exe \
  >sign.log 2>&1 || fail "osslsigncode sign failed: $(cat sign.log)"

if osslsigncode verify -CAfile cert.pem -in signed.exe >verify.log 2>&1; then
  grep -q "Signature verification: ok" verify.log || fail "verify passed without \"Signature verification: ok\""
else
  fail "the signed installer does not verify: $(tail -5 verify.log)"
fi

# The skin's resource is still there, byte for byte, after signing.
name=$(basename "$skin" | tr '[:lower:]' '[:upper:]')
wrestool -x --raw -t +SKIN -n "+$name" signed.exe >extracted.ovs 2>/dev/null || true
cmp -s extracted.ovs "$skin" || fail "the skin read back from the signed installer differs ($(stat -c %s extracted.ovs) bytes)"

# One changed byte of the skin breaks the signature.
python3 - "$skin" signed.exe tampered.exe <<'PY'
import sys
skin = open(sys.argv[1], "rb").read()
image = bytearray(open(sys.argv[2], "rb").read())
at = image.find(skin)
if at < 0:
    sys.exit("the skin's bytes are not in the signed installer")
image[at + len(skin) // 2] ^= 0x5A
open(sys.argv[3], "wb").write(image)
PY
if osslsigncode verify -CAfile cert.pem -in tampered.exe >tampered.log 2>&1; then
  fail "an installer with a changed skin byte still verifies"
fi

# A signed stub is refused with exit status 1 and a reason, and nothing is written.
osslsigncode sign -certs cert.pem -key key.pem -n "Orvanta stub" -h sha256 -in "$stub" -out signed-stub.exe \
  >sign-stub.log 2>&1 || fail "osslsigncode could not sign the stub: $(cat sign-stub.log)"
stub_status=0
"$skinpack" --stub signed-stub.exe -o refused "$skin" 2>refused.log || stub_status=$?
[ "$stub_status" -eq 1 ] || fail "a signed stub: exit status $stub_status, expected 1"
grep -q "signed-stub.exe: .*signed" refused.log || fail "a signed stub: no line naming it and its signature in \"$(cat refused.log)\""
[ -z "$(ls -A refused)" ] || fail "a signed stub: output written: $(ls -A refused)"

if [ "$failures" -ne 0 ]; then
  echo "Test failed: $failures problems"
  exit 1
fi
echo "signed and verified \"$installer\"; a changed byte breaks the signature; a signed stub is refused"
