#!/usr/bin/env bash
# A production station over a real link: tarvik-cli station runs in namespace A with --events
# while tarvik-targets in namespace B come and go, as boards plugged into a fixture:
#   1. two fitting devices started a second apart are each upgraded once, as they answer;
#   2. a device of another board code is skipped once;
#   3. the first device, stopped and started again (a board pulled and plugged in again after it
#      passed), is not upgraded again;
#   4. Ctrl-C ends the station with status 130 and its summary; every device's memory holds
#      the image, and the record holds one line per attempt under the events' record ids.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage

IMAGE="$E2E_TMP/image.bin"
IMAGE_BYTES=$((32 * 1024))
SEGMENT=0x2340
EVENTS="$E2E_TMP/station.out"
RECORD="$E2E_TMP/record.jsonl"

"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 11 "$IMAGE" >/dev/null

target() {  # NAME MAC BOARD
  e2e_spawn_b "$1" "$TARGET" -i "$E2E_IF_B" --mac "$2" --board "$3" --dump "$E2E_TMP/$1.mem"
  e2e_wait_for_line "$E2E_TMP/$1.err" "ready"
}
stop_target() {  # NAME
  kill -INT "$(cat "$E2E_TMP/$1.pid")"
  e2e_wait_job "$(cat "$E2E_TMP/$1.pid")" 10 >/dev/null || e2e_fail "tarvik-target $1 did not end"
}
events_of() {  # KIND DEVICE: how many such events the station wrote so far
  grep -c "\"device\":\"$2\".*\"event\":\"$1\"\|\"event\":\"$1\".*\"device\":\"$2\"" "$EVENTS" || true
}
wait_event() {  # KIND DEVICE
  local i
  for ((i = 0; i < 400; i++)); do
    [[ $(events_of "$1" "$2") -ge 1 ]] && return 0
    sleep 0.05
  done
  e2e_fail "no $1 event for $2 in 20 s"
}

e2e_spawn_a station "$CLI" -i "$E2E_IF_A" --pace 0 station "$IMAGE" --probe-interval 0.5 \
  --events --record "$RECORD"
STATION=$E2E_PID

target first 02:5a:17:00:02:01 001122334455
sleep 1
target second 02:5a:17:00:02:02 001122334455
target other 02:5a:17:00:02:03 001122334466
wait_event finished QV000201
wait_event finished QV000202
wait_event skipped QV000203

# The first board is pulled, stays out for more than two probes, and is plugged in again.
stop_target first
cp "$E2E_TMP/first.mem" "$E2E_TMP/first-written.mem"
sleep 1.5
target first 02:5a:17:00:02:01 001122334455
sleep 1.5

kill -INT "$STATION"
status=0
e2e_wait_job "$STATION" 20 || status=$?
[[ $status -eq 130 ]] || e2e_fail "the station ended with $status after Ctrl-C, not 130"
grep -q "^station: passed 2, failed 0, skipped 1, in progress 0" "$E2E_TMP/station.err" ||
  e2e_fail "no summary on stderr: $(tail -n 3 "$E2E_TMP/station.err")"

for device in QV000201 QV000202; do
  [[ $(events_of started "$device") -eq 1 ]] || e2e_fail "$device was not started exactly once"
  [[ $(events_of finished "$device") -eq 1 ]] || e2e_fail "$device did not finish exactly once"
done
[[ $(events_of started QV000203) -eq 0 ]] || e2e_fail "the other board was started"
[[ $(events_of skipped QV000203) -eq 1 ]] || e2e_fail "the other board was not skipped once"
[[ $(events_of discovered QV000201) -eq 2 ]] || e2e_fail "the first board's return was not seen"
grep '"event":"finished"' "$EVENTS" | grep -qv '"result":"Upgrade Finish"' &&
  e2e_fail "an attempt did not finish with Upgrade Finish"

[[ $(wc -l <"$RECORD") -eq 2 ]] || e2e_fail "the record does not hold one line per attempt"
for id in $(grep '"event":"finished"' "$EVENTS" | e2e_json_field recordId); do
  grep -q "\"RecordId\":\"$id\"" "$RECORD" || e2e_fail "no record line for attempt $id"
done

stop_target first
stop_target second
stop_target other
for name in first-written second; do
  dd if="$E2E_TMP/$name.mem" of="$E2E_TMP/$name.bin" bs=16 skip=$((SEGMENT)) \
    count=$((IMAGE_BYTES / 16)) status=none
  cmp "$IMAGE" "$E2E_TMP/$name.bin" || e2e_fail "$name's memory differs from the image"
done

e2e_pass "devices upgraded once each as they came, a misfit skipped once, a returning board left alone, Ctrl-C ends with 130"
