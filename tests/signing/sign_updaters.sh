#!/usr/bin/env bash
# Signs the updaters that SignedUpdaters.Make built, as a release engineer
# would after mkpatch build, with a throw-away self-signed certificate made
# here: osslsigncode must accept every signed file, and must refuse one whose
# payload changed by one byte after signing.
#   sign_updaters.sh WORK_DIR COUNT
set -euo pipefail
work=$1
count=$2
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in osslsigncode openssl; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./dev setup installs it)"
done

# The private key lives only as long as this script.
trap 'rm -f key.pem' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Updater test signer" \
  -keyout key.pem -out cert.pem 2>/dev/null

for ((k = 0; k < count; k++)); do
  [ -f "updater-$k.exe" ] || fail "no updater-$k.exe: SignedUpdaters.Make did not run"
  rm -f "updater-$k.signed.exe"
  osslsigncode sign -certs cert.pem -key key.pem -n "Updater test" \
    -in "updater-$k.exe" -out "updater-$k.signed.exe" >/dev/null
  osslsigncode verify -CAfile cert.pem "updater-$k.signed.exe" >"verify-$k.log" 2>&1 ||
    fail "updater-$k.signed.exe does not verify: $(cat "verify-$k.log")"
  echo "updater-$k: $(stat -c %s "updater-$k.exe") bytes unsigned, $(stat -c %s "updater-$k.signed.exe") signed"
done

# One changed byte of the payload: the last byte before the trailer.
cp updater-0.signed.exe tampered.exe
at=$(( $(stat -c %s updater-0.exe) - 137 ))
printf 'X' | dd of=tampered.exe bs=1 seek="$at" conv=notrunc status=none
if osslsigncode verify -CAfile cert.pem tampered.exe >tampered.log 2>&1; then
  fail "a changed payload byte still verifies"
fi
grep -q "Signature verification: failed" tampered.log || fail "unexpected answer: $(cat tampered.log)"
echo "tampered copy refused: $(grep -m1 -i 'mismatch\|failed' tampered.log)"
