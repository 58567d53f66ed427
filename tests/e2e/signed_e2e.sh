#!/usr/bin/env bash
# Signed images over a real link, with keys and signatures made by Debian's minisign and
# tarvik-target as the device:
#   1. an image signed for the device's board is written, byte for byte;
#   2. under a trusted key an unsigned image is refused with status 40, and no frame goes out;
#   3. a station whose image is signed for other boards asks each device its board and writes
#      nothing to it: its attempt ends "Board Not In Signed List !" (45).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"
command -v minisign >/dev/null || e2e_skip "no minisign (Debian's minisign)"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage

IMAGE="$E2E_TMP/image.bin"
IMAGE_BYTES=$((16 * 1024))
SEGMENT=0x2340
KEY="$E2E_TMP/release.pub"
export XDG_CONFIG_HOME="$E2E_TMP/config" XDG_STATE_HOME="$E2E_TMP/state"

"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 21 "$IMAGE" >/dev/null
minisign -G -W -p "$KEY" -s "$E2E_TMP/release.sec" >/dev/null
minisign -S -s "$E2E_TMP/release.sec" -m "$IMAGE" -t "tarvik boards=001122334455" >/dev/null

e2e_spawn_b device "$TARGET" -i "$E2E_IF_B" --mac 02:5a:17:00:03:01 --board 001122334455 \
  --dump "$E2E_TMP/device.mem"
DEVICE=$E2E_PID
e2e_wait_for_line "$E2E_TMP/device.err" "ready"
cli() { e2e_in_a "$CLI" -i "$E2E_IF_A" --pace 0 --progress plain "$@"; }

# 1. Signed for this board: written.
cli upgrade "$IMAGE" QV000301 --key "$KEY" --history none >"$E2E_TMP/signed.out" \
  2>"$E2E_TMP/signed.err" || e2e_fail "the signed upgrade exited $?: $(cat "$E2E_TMP/signed.err")"

# 2. Unsigned under a trusted key: refused before any frame.
cp "$IMAGE" "$E2E_TMP/unsigned.bin"
status=0
cli --trace "$E2E_TMP/unsigned.pcap" upgrade "$E2E_TMP/unsigned.bin" QV000301 --key "$KEY" \
  --history none >/dev/null 2>"$E2E_TMP/unsigned.err" || status=$?
[[ $status -eq 40 ]] || e2e_fail "an unsigned image ended with $status, not 40"
grep -q "^Signature Not Found !" "$E2E_TMP/unsigned.err" ||
  e2e_fail "the refusal reads: $(cat "$E2E_TMP/unsigned.err")"
[[ $(stat -c %s "$E2E_TMP/unsigned.pcap" 2>/dev/null || echo 0) -le 24 ]] ||
  e2e_fail "frames went out for an unsigned image"

# 3. A station with an image signed for other boards.
OTHER="$E2E_TMP/other.bin"
"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 22 "$OTHER" >/dev/null
minisign -S -s "$E2E_TMP/release.sec" -m "$OTHER" -t "tarvik boards=AABBCCDDEEFF" >/dev/null
cli station "$OTHER" --key "$KEY" --probe-interval 0.5 --stop-after 3 --events \
  --history none >"$E2E_TMP/station.out" 2>"$E2E_TMP/station.err" || true
grep '"event":"finished"' "$E2E_TMP/station.out" | grep -q '"result":"Board Not In Signed List !"' ||
  e2e_fail "the station did not refuse the board: $(cat "$E2E_TMP/station.out" "$E2E_TMP/station.err")"
grep '"event":"finished"' "$E2E_TMP/station.out" | grep -q '"exitStatus":45' ||
  e2e_fail "the station's refusal has not status 45"

kill -INT "$DEVICE"
e2e_wait_job "$DEVICE" 10 >/dev/null || e2e_fail "tarvik-target did not end"
dd if="$E2E_TMP/device.mem" of="$E2E_TMP/device.bin" bs=16 skip=$((SEGMENT)) \
  count=$((IMAGE_BYTES / 16)) status=none
cmp "$IMAGE" "$E2E_TMP/device.bin" ||
  e2e_fail "the device does not hold the signed image (or the station wrote the other one)"

e2e_pass "a signed image written, an unsigned one refused with no frame sent, a station refused another board's image"
