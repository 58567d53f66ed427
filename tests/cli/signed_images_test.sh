#!/usr/bin/env bash
# Signed images on the built-in lab, with keys and signatures made by Debian's minisign: a
# signed image goes out; every refusal ends with its text and status and sends no frame (the
# run's trace holds none); warn flashes and says so; info shows the signer.
#   bash signed_images_test.sh TARVIK_CLI SAMPLE_IMAGE TARVIK_MKIMAGE
# Skips (77) without minisign.
set -uo pipefail
cli="$1"
sample="$2"
mkimage="$3"
command -v minisign >/dev/null || { echo "SKIP: no minisign (Debian's minisign)" >&2; exit 77; }

tmp=$(mktemp -d /tmp/tarvik-signed.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
# The run's own settings folder: the machine's user has no keys of its own here.
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

minisign -G -W -p release.pub -s release.sec >/dev/null
minisign -G -W -p other.pub -s other.sec >/dev/null
# The key id as minisign prints it (without leading zeros), and as Tarvik shows it (16 digits).
minisign_id() { sed -n 's/^untrusted comment: minisign public key //p' "$1"; }
key_id() { minisign_id "$1" | awk '{ printf "%16s\n", $0 }' | tr ' ' 0; }
sign() { # KEY IMAGE [COMMENT]
  rm -f "$2.minisig"
  minisign -S -s "$1" -m "$2" ${3:+-t "$3"} >/dev/null
}
cp "$sample" fw.bin
sign release.sec fw.bin

# The frames of the check's query alone: what a refusal by the signed list may cost a device.
"$cli" --lab --pace 0 --trace query.pcap check fw.bin QV1A2B3C >/dev/null 2>&1
query_bytes=$(stat -c %s query.pcap)
# upgrade EXPECTED-STATUS EXPECTED-TEXT ARGS...: the run's status, its fixed text on stderr,
# and, for a refusal, no frame in its trace (but the query, when the signed list refused the
# device it answered).
upgrade() {
  local expected=$1 text=$2
  shift 2
  rm -f trace.pcap
  "$cli" --lab --pace 0 --progress plain --trace trace.pcap upgrade "$@" QV1A2B3C \
    --history none >out 2>err
  local status=$?
  [[ $status -eq $expected ]] || fail "$*: status $status, not $expected: $(cat err)"
  [[ -z "$text" ]] || grep -qF -- "$text" err || fail "$*: no \"$text\" in: $(cat err)"
  if [[ $expected -ne 0 ]]; then
    local size allowed=24
    size=$(stat -c %s trace.pcap 2>/dev/null || echo 0)
    [[ $expected -eq 45 || $expected -eq 46 ]] && allowed=$query_bytes
    [[ $size -le $allowed ]] || fail "$*: refused, but the trace holds $size bytes of frames"
  fi
}

upgrade 0 "Upgrade Finish" fw.bin --key release.pub
upgrade 0 "the image's signature was not checked (no trusted key" fw.bin
upgrade 42 "Untrusted Signature !" fw.bin --key other.pub
cp fw.bin copy.bin
upgrade 40 "Signature Not Found !" copy.bin --key release.pub
upgrade 0 "" copy.bin --key release.pub --signature fw.bin.minisig

# The trusted-keys folder of the user, and a revoked file beside its keys.
mkdir -p config/tarvik/trusted-keys
cp release.pub config/tarvik/trusted-keys/
upgrade 0 "Upgrade Finish" fw.bin
echo "# lost with a laptop" >config/tarvik/trusted-keys/revoked
minisign_id release.pub >>config/tarvik/trusted-keys/revoked
upgrade 43 "Revoked Signing Key !" fw.bin
rm config/tarvik/trusted-keys/revoked
# A key whose id starts with a zero, which minisign prints without it, revoked as printed.
for _ in $(seq 200); do
  rm -f zero.pub zero.sec
  minisign -G -W -p zero.pub -s zero.sec >/dev/null
  (($(minisign_id zero.pub | wc -c) <= 16)) && break
done
cp fw.bin zero.bin
sign zero.sec zero.bin
minisign_id zero.pub >revoked-zero
mkdir -p zero-keys && cp zero.pub zero-keys/ && cp revoked-zero zero-keys/revoked
mv config/tarvik/trusted-keys config/tarvik/trusted-keys.kept
mv zero-keys config/tarvik/trusted-keys
upgrade 43 "Revoked Signing Key !" zero.bin
rm -rf config/tarvik/trusted-keys && mv config/tarvik/trusted-keys.kept config/tarvik/trusted-keys
upgrade 0 "" fw.bin --signatures warn

# Another file's signature, a comment changed after signing, a changed image.
head -c 1000 /dev/urandom >other.bin
sign release.sec other.bin
upgrade 44 "Signature Mismatch !" fw.bin --signature other.bin.minisig
sed '3s/hashed/hashed boards=001122334455/' fw.bin.minisig >edited.minisig
upgrade 44 "Signature Mismatch !" fw.bin --signature edited.minisig
cp fw.bin changed.bin
cp fw.bin.minisig changed.bin.minisig
printf 'X' | dd of=changed.bin bs=1 seek=100 conv=notrunc 2>/dev/null
upgrade 44 "Signature Mismatch !" changed.bin

# Signature files with no, a cut or a garbled signature line.
for variant in zero truncated garbled; do
  case $variant in
    zero) sed '2d;4d' fw.bin.minisig >$variant.minisig ;;
    truncated) sed '2s/.\{20\}$//' fw.bin.minisig >$variant.minisig ;;
    garbled) sed '4s/^..../!!!!/' fw.bin.minisig >$variant.minisig ;;
  esac
  upgrade 41 "Signature Format Error !" fw.bin --signature $variant.minisig
done

# The signed list: other boards, this board, a rollback.
sign release.sec fw.bin "tarvik boards=AABBCCDDEEFF,001122334400 version=0103"
upgrade 45 "Board Not In Signed List !" fw.bin
sign release.sec fw.bin "tarvik boards=AABBCCDDEEFF,001122334455 version=0103"
upgrade 0 "Upgrade Finish" fw.bin
# The lab's devices run 0102: the sample (0103) is newer, this one older.
"$mkimage" --board-code 001122334455 --code-segment 1000 --fw-version 0101 old.bin >/dev/null
sign release.sec old.bin "tarvik boards=001122334455 version=0101 rollback=no"
upgrade 46 "Rollback Not Allowed !" old.bin
"$cli" --lab --pace 0 check old.bin QV1A2B3C >out 2>err
[[ $? -eq 46 ]] || fail "check did not refuse the rollback: $(cat err)"
sign release.sec old.bin "tarvik boards=001122334455 version=0101 rollback=yes"
upgrade 0 "Upgrade Finish" old.bin
# A list whose version is not the image's own would mislead the rollback check.
sign release.sec fw.bin "tarvik boards=001122334455 version=0101"
upgrade 41 "Signature Format Error !" fw.bin
grep -q "the signed list gives version 0101, the image's own is 0103" err ||
  fail "the version that is not the image's: $(cat err)"
sign release.sec fw.bin "tarvik boards=0011 version=0101"
upgrade 41 "Signature Format Error !" fw.bin

# With warn, a refusal flashes and says so; with off nothing is checked.
sign other.sec fw.bin
upgrade 0 "warning: Untrusted Signature !" fw.bin --signatures warn
upgrade 0 "not checked (--signatures off)" fw.bin --signatures off

# info shows the signer and the signed comment, and what the check found.
sign release.sec fw.bin "tarvik boards=001122334455"
"$cli" --lab info fw.bin >out 2>err || fail "info failed: $(cat err)"
grep -q "^Signature: verified" out && grep -q "^Signed By: $(key_id release.pub)" out &&
  grep -q "^Signed Comment: tarvik boards=001122334455" out || fail "info said: $(cat out)"
"$cli" --lab --json info fw.bin >out 2>err || fail "info --json failed: $(cat err)"
grep -q "\"KeyId\": \"$(key_id release.pub)\"" out || fail "info --json said: $(cat out)"

[[ $failed -eq 0 ]] && echo "PASS: signed images flashed, every refusal said and nothing sent"
exit $failed
