#!/usr/bin/env bash
# tarvik-mkimage sign and minisign read each other's signatures:
#   1. an image signed by tarvik-mkimage with an encrypted key that minisign -G made (the
#      password, not all ASCII, from TARVIK_SIGNING_PASSWORD) is accepted by minisign -V,
#      which shows the trusted comment given;
#   2. the same with an unencrypted key (minisign -G -W), minisign's default trusted comment and
#      --signature elsewhere;
#   3. what sign refuses: a wrong password (in one line, no signature written), an encrypted key
#      without a terminal or the variable, an existing signature without --force, the image as
#      its own signature even with --force;
#   4. an image signed by minisign -S is accepted by the image library's verifier with the
#      trusted comment minisign signed, and refused for another file or another key.
# usage: bash minisign_compat_test.sh TARVIK_MKIMAGE MINISIGN_VERIFY   (exits 77 without minisign)
set -euo pipefail

mkimage="$(realpath "$1")"
verify="$(realpath "$2")"
if ! command -v minisign >/dev/null; then
  echo "SKIPPED: minisign is not installed (apt-get install minisign)"
  exit 77
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
cd "$tmp"
password='pässwörd of the compat test'
printf '%s\n%s\n' "$password" "$password" | minisign -G -p enc.pub -s enc.key >/dev/null 2>&1 ||
  fail "minisign -G could not make an encrypted key"
minisign -G -W -p plain.pub -s plain.key >/dev/null || fail "minisign -G -W could not make a key"
"$mkimage" --sample sample.bin

# --- 1. an encrypted key, the password from the environment ---
comment='tarvik boards=001122334455 version=0103 rollback=no'
TARVIK_SIGNING_PASSWORD="$password" "$mkimage" sign sample.bin --secret-key enc.key \
  --comment "$comment" || fail "sign with the encrypted key exited $?"
[[ -f sample.bin.minisig ]] || fail "no sample.bin.minisig"
head -1 sample.bin.minisig | grep -qx 'untrusted comment: signature from tarvik-mkimage secret key' ||
  fail "the first line is $(head -1 sample.bin.minisig)"
minisign -V -p enc.pub -m sample.bin >verified.txt || fail "minisign -V refused the signature"
grep -qx "Trusted comment: $comment" verified.txt || fail "minisign -V showed $(cat verified.txt)"

# --- 2. an unencrypted key, minisign's default comment, the signature elsewhere ---
before=$(date +%s)
env -u TARVIK_SIGNING_PASSWORD setsid -w "$mkimage" sign sample.bin --secret-key plain.key \
  --signature plain.sig </dev/null || fail "sign with the unencrypted key exited $?"
minisign -V -p plain.pub -m sample.bin -x plain.sig >verified.txt ||
  fail "minisign -V refused the signature of the unencrypted key"
stamp=$(sed -n 's/^Trusted comment: timestamp:\([0-9]*\)\tfile:sample\.bin\thashed$/\1/p' verified.txt)
[[ -n "$stamp" ]] || fail "the default comment is $(cat verified.txt)"
((stamp >= before && stamp <= $(date +%s))) || fail "the timestamp $stamp is not now"
minisign -V -p enc.pub -m sample.bin -x plain.sig >/dev/null 2>&1 &&
  fail "minisign -V took the unencrypted key's signature for the other key's"

# --- 3. what sign refuses ---
cp sample.bin.minisig kept.minisig
cp sample.bin kept.bin
if TARVIK_SIGNING_PASSWORD="${password}x" "$mkimage" sign sample.bin --secret-key enc.key \
  --signature wrong.sig 2>refused.txt; then
  fail "a wrong password was taken"
fi
grep -qx 'tarvik-mkimage: enc.key: wrong password for this secret key' refused.txt ||
  fail "a wrong password said $(cat refused.txt)"
[[ ! -e wrong.sig ]] || fail "a wrong password left a signature"
# A new session has no controlling terminal to ask on.
if env -u TARVIK_SIGNING_PASSWORD setsid -w "$mkimage" sign sample.bin --secret-key enc.key \
  --signature none.sig </dev/null 2>refused.txt; then
  fail "an encrypted key was used without its password"
fi
grep -q 'TARVIK_SIGNING_PASSWORD gives it without a terminal' refused.txt ||
  fail "without a terminal it said $(cat refused.txt)"
if "$mkimage" sign sample.bin --secret-key plain.key 2>refused.txt; then
  fail "an existing signature was replaced without --force"
fi
grep -qx 'tarvik-mkimage: sample.bin.minisig exists; use --force to replace it' refused.txt ||
  fail "an existing signature said $(cat refused.txt)"
cmp -s sample.bin.minisig kept.minisig || fail "the existing signature was changed"
if "$mkimage" sign sample.bin --secret-key plain.key --signature ./sample.bin --force 2>refused.txt
then
  fail "the image was written as its own signature"
fi
cmp -s sample.bin kept.bin || fail "the image was changed"
"$mkimage" sign sample.bin --secret-key plain.key --force || fail "--force did not replace"
minisign -V -p plain.pub -m sample.bin >/dev/null || fail "the replaced signature is refused"

# --- 4. minisign's signatures through the image library ---
comment='tarvik boards=001122334455,00AABBCCDDEE version=0104 rollback=yes'
minisign -S -s plain.key -m sample.bin -x minisign.sig -t "$comment" >/dev/null ||
  fail "minisign -S could not sign"
shown=$("$verify" plain.pub minisign.sig sample.bin) || fail "the library refused minisign's signature"
[[ "$shown" == "$comment" ]] || fail "the library read the trusted comment as $shown"
cp sample.bin other.bin
printf x >>other.bin
"$verify" plain.pub minisign.sig other.bin 2>/dev/null &&
  fail "the library took the signature for another file"
"$verify" enc.pub minisign.sig sample.bin 2>/dev/null &&
  fail "the library took the signature for another key's"
echo "minisign and tarvik-mkimage sign agree"
