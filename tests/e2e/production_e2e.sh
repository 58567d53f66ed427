#!/usr/bin/env bash
# A production line over a real link: three tarvik-targets in namespace B on one veth end, each
# with an address of its own, and one tarvik-cli in namespace A that upgrades all three at once.
#   1. one command, --pace 0, --record: every device's memory at the image's code segment (its
#      --dump) equals the file, and the record holds one whole JSON line per device with the
#      file's SHA-256 and "Upgrade Finish";
#   2. two commands at once appending to the same record: every line stays whole JSON.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage

IMAGE="$E2E_TMP/image.bin"
IMAGE_BYTES=$((40 * 1024))
SEGMENT=0x2340
RECORD="$E2E_TMP/record.jsonl"
NAMES=(QV000101 QV000102 QV000103)
MACS=(02:5a:17:00:01:01 02:5a:17:00:01:02 02:5a:17:00:01:03)

"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 7 "$IMAGE" >/dev/null
SHA=$(sha256sum "$IMAGE" | cut -d' ' -f1)

PIDS=()
for i in 0 1 2; do
  e2e_spawn_b "device$i" "$TARGET" -i "$E2E_IF_B" --mac "${MACS[$i]}" --board 001122334455 \
    --dump "$E2E_TMP/device$i.mem"
  PIDS+=("$E2E_PID")
done
for i in 0 1 2; do
  e2e_wait_for_line "$E2E_TMP/device$i.err" "ready"
done

cli() { e2e_in_a "$CLI" -i "$E2E_IF_A" "$@"; }

# --- 1. three devices, one command ---
cli --pace 0 --progress plain upgrade "$IMAGE" "${NAMES[@]}" --record "$RECORD" \
  >"$E2E_TMP/summary.out" 2>"$E2E_TMP/upgrade.err" ||
  e2e_fail "the upgrade of three devices exited $?"
for name in "${NAMES[@]}"; do
  grep -q "^$name  *Upgrade Finish" "$E2E_TMP/summary.out" || e2e_fail "no Upgrade Finish for $name"
  grep -q "^$name: Upgrade Finish" "$E2E_TMP/upgrade.err" || e2e_fail "$name's progress did not end"
done
[[ $(wc -l <"$RECORD") -eq 3 ]] || e2e_fail "the record does not hold one line per device"
for name in "${NAMES[@]}"; do
  line=""
  while IFS= read -r candidate; do
    [[ $(e2e_json_field DeviceName <<<"$candidate") == "$name" ]] && line=$candidate
  done <"$RECORD"
  [[ -n $line ]] || e2e_fail "no record line for $name"
  for field in "Sha256=$SHA" "Result=Upgrade Finish" ExitStatus=0 "Interface=$E2E_IF_A" \
               BoardCode=001122334455 PaceMs=0; do
    [[ $(e2e_json_field "${field%%=*}" <<<"$line") == "${field#*=}" ]] ||
      e2e_fail "the record of $name lacks $field: $line"
  done
done

# --- 2. two commands appending to one record at once ---
SHARED="$E2E_TMP/shared.jsonl"
e2e_spawn_a first "$CLI" -i "$E2E_IF_A" --pace 0 --progress plain upgrade "$IMAGE" \
  "${NAMES[0]}" "${NAMES[1]}" --record "$SHARED"
FIRST=$E2E_PID
e2e_spawn_a second "$CLI" -i "$E2E_IF_A" --pace 0 --progress plain upgrade "$IMAGE" \
  "${NAMES[2]}" --record "$SHARED"
SECOND=$E2E_PID
e2e_wait_job "$FIRST" 120 || e2e_fail "the first of two commands exited $?"
e2e_wait_job "$SECOND" 120 || e2e_fail "the second of two commands exited $?"
[[ $(wc -l <"$SHARED") -eq 3 ]] || e2e_fail "two commands did not leave three lines"
# A line cut or mixed with another would not run from the first field to the last.
while IFS= read -r line; do
  [[ $line =~ ^\{\"Start\":\"[^\"]*\",\"End\".*\"Sha256\":\"$SHA\".*\"ExitStatus\":0,\"Signature\":\"not\ checked\",\"SignerKeyId\":null,\"SignedComment\":null,\"Bay\":null,\"RecordId\":\"[0-9a-f-]{36}\"\}$ ]] ||
    e2e_fail "a line of the shared record is not whole: $line"
  [[ $(grep -o '"Start"' <<<"$line" | wc -l) -eq 1 ]] || e2e_fail "two records share a line: $line"
done <"$SHARED"

# The dumps are written when the devices stop.
for i in 0 1 2; do
  kill -INT "${PIDS[$i]}"
  e2e_wait_job "${PIDS[$i]}" 10 >/dev/null || e2e_fail "tarvik-target $i did not end cleanly"
  dd if="$E2E_TMP/device$i.mem" of="$E2E_TMP/written$i.bin" bs=16 skip=$((SEGMENT)) \
    count=$((IMAGE_BYTES / 16)) status=none
  cmp "$IMAGE" "$E2E_TMP/written$i.bin" || e2e_fail "${NAMES[$i]}'s memory differs from the image"
done

e2e_pass "three devices in one command at pace 0, memories equal, one record line each; two commands share a record"
