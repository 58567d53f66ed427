#!/usr/bin/env bash
# tarvik-cli against tarvik-target over a real link: three emulated devices in namespace B on the
# same veth end (one with B's own address, two with addresses of their own), the command line
# in namespace A on the other end.
#   1. browse lists the three names, sorted; without -i the start-up sequence finds the one veth
#      end of namespace A by itself, and `adapters` lists it;
#   2. device --json gives the device's descriptor under the field names;
#   3. check: a fitting board code exits 0, another one exits 13 with its fixed message;
#   4. upgrade of a 96 KiB image ends with "Upgrade Finish", and the device's memory at the
#      image's code segment (its --dump) equals the file byte for byte;
#   5. a device that answers writes with status 5 ends the upgrade with "Upgrade Process
#      Error !" and exit status 16;
#   6. SIGINT during an upgrade exits 130 and the device is never reset.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage

FITTING=QV00000B              # B's own address 02:5a:17:00:00:0b
OTHER=021122334466
DUMP="$E2E_TMP/fitting.mem"
IMAGE="$E2E_TMP/image.bin"
IMAGE_BYTES=$((96 * 1024))
SEGMENT=0x2340

"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 42 "$IMAGE" >/dev/null

e2e_spawn_b fitting "$TARGET" -i "$E2E_IF_B" --board 001122334455 --dump "$DUMP"
FITTING_PID=$E2E_PID
e2e_spawn_b other "$TARGET" -i "$E2E_IF_B" --mac 02:11:22:33:44:66 --board 001122334466
e2e_spawn_b refusing "$TARGET" -i "$E2E_IF_B" --mac 02:5a:17:00:00:05 --status-for-opcode 2=5
e2e_wait_for_line "$E2E_TMP/refusing.err" "ready"
e2e_wait_for_line "$E2E_TMP/fitting.err" "ready"
e2e_wait_for_line "$E2E_TMP/other.err" "ready"

cli() { e2e_in_a "$CLI" -i "$E2E_IF_A" "$@"; }

# --- 1. browse ---
cli browse >"$E2E_TMP/browse.out"
printf '%s\n' "$OTHER" QV000005 "$FITTING" >"$E2E_TMP/browse.expected"
e2e_expect_same "$E2E_TMP/browse.expected" "$E2E_TMP/browse.out" "browse did not list the three devices, sorted"

e2e_in_a "$CLI" browse >"$E2E_TMP/browse_startup.out" 2>"$E2E_TMP/browse_startup.err"
e2e_expect_same "$E2E_TMP/browse.expected" "$E2E_TMP/browse_startup.out" \
  "browse without -i did not find the devices through the only adapter"
e2e_in_a "$CLI" adapters >"$E2E_TMP/adapters.out"
grep -qF '\Device\'"$E2E_IF_A" "$E2E_TMP/adapters.out" || e2e_fail "adapters does not list $E2E_IF_A"
status=0
e2e_in_a "$CLI" -i nosuch0 browse 2>"$E2E_TMP/unknown.err" >/dev/null || status=$?
[[ $status -eq 37 ]] || e2e_fail "an unknown -i exited $status, not 37"
grep -qF "$E2E_IF_A" "$E2E_TMP/unknown.err" || e2e_fail "an unknown -i does not list the adapters"

# --- 2. device --json ---
cli --json device "$FITTING" >"$E2E_TMP/device.json"
for field in DeviceName=QV00000B BoardCode=001122334455 CodeSegment=1000 PidVersion CodeSize; do
  value=$(e2e_json_field "${field%%=*}" "$E2E_TMP/device.json" || true)
  [[ -n $value && ($field != *=* || $value == "${field#*=}") ]] || {
    cat "$E2E_TMP/device.json" >&2
    e2e_fail "device --json lacks $field"
  }
done

# --- 3. check ---
cli check "$IMAGE" "$FITTING" >/dev/null || e2e_fail "check against the fitting device exited $?"
status=0
cli check "$IMAGE" "$OTHER" 2>"$E2E_TMP/check.err" >/dev/null || status=$?
[[ $status -eq 13 ]] || e2e_fail "check against another board code exited $status, not 13"
grep -qx "Hardware Type Mismatch !" "$E2E_TMP/check.err" || e2e_fail "no \"Hardware Type Mismatch !\""

# --- 4. upgrade, then the device's memory against the file ---
cli --progress plain upgrade "$IMAGE" "$FITTING" 2>"$E2E_TMP/upgrade.err" ||
  { cat "$E2E_TMP/upgrade.err" >&2; e2e_fail "upgrade exited $?"; }
grep -q "^Upgrade Finish" "$E2E_TMP/upgrade.err" || e2e_fail "the progress did not end with Upgrade Finish"
grep -q "RESET" "$E2E_TMP/fitting.out" || e2e_fail "the device logged no reset"

# --- 5. a refused write ---
status=0
cli --progress plain upgrade "$IMAGE" QV000005 2>"$E2E_TMP/refused.err" >/dev/null || status=$?
[[ $status -eq 16 ]] || e2e_fail "a refused write exited $status, not 16"
grep -qx "Upgrade Process Error !" "$E2E_TMP/refused.err" || e2e_fail "no \"Upgrade Process Error !\""

# --- 6. SIGINT during a transfer ---
e2e_spawn_a interrupted "$CLI" -i "$E2E_IF_A" --progress plain --frame-type untyped \
  upgrade "$IMAGE" "$FITTING"
INTERRUPTED=$E2E_PID
e2e_wait_for_line "$E2E_TMP/interrupted.err" "^Upgrade\.\.\. 10 %" 30
resets_before=$(grep -c RESET "$E2E_TMP/fitting.out")
kill -INT "$INTERRUPTED"
status=0
e2e_wait_job "$INTERRUPTED" 10 || status=$?
[[ $status -eq 130 ]] || e2e_fail "an interrupted upgrade exited $status, not 130"
[[ $(grep -c RESET "$E2E_TMP/fitting.out") -eq $resets_before ]] ||
  e2e_fail "the interrupted upgrade still reset the device"

# The dump is written when the device stops; the interrupted run rewrote only the first blocks
# with the same bytes.
kill -INT "$FITTING_PID"
e2e_wait_job "$FITTING_PID" 10 >/dev/null || e2e_fail "tarvik-target did not end cleanly"
dd if="$DUMP" of="$E2E_TMP/written.bin" bs=16 skip=$((SEGMENT)) count=$((IMAGE_BYTES / 16)) status=none
cmp "$IMAGE" "$E2E_TMP/written.bin" || e2e_fail "the device's memory differs from the image"

e2e_pass "browse, device --json, check (fits / mismatch), a 96 KiB upgrade verified in memory, SIGINT"
