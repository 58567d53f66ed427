#!/usr/bin/env bash
# A station of eight VLAN bays on one trunk, Tarvik tagging its own frames: namespace B is the
# managed switch (vlan_switch: the trunk to the station's namespace A, an access port per
# bay), and behind each access port a tarvik-target in a namespace of its own, every one with
# the same address. One station with a bays file serves them all, while
#   - bay PULLED's cable is pulled (its access port taken down) while its device is being
#     written, and put back OUTAGE seconds later: the transfer takes up where it stopped,
#     after resends, and the device is flashed once, in that one attempt;
#   - bay LATE's cable is out from the start and put in mid-run: nothing of that bay is seen
#     while it is out, and its device is found and flashed once when it comes;
#   - bay FAILED's cable is pulled while its device is being verified and stays out until the
#     attempt has failed (the verify step gives up after about 20 s) and the device has missed
#     the probes that make it gone: the failure is reported under that bay, and the device is
#     flashed again when its cable is put back, once.
# Then every other device is flashed exactly once, each under its own bay (records, events,
# summary), each device's memory holds the image, and no frame of one bay reached another:
# each device received exactly the frames the switch delivered on its port, which are those
# the station sent on its VLAN less those sent while the port was down, and the station took
# exactly the frames its device sent back. About 30 s.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
e2e_program SWITCH vlan_switch

VIDS=(101 102 103 104 105 106 107 4094)
DEVICE_MAC=02:5a:17:00:03:01
DEVICE=QV000301
# Small, at the default pace: a transfer lasts long enough (about a second) to pull a cable in
# the middle of it.
IMAGE_BYTES=$((16 * 1024))
SEGMENT=0x2340
PULLED=2
LATE=5
FAILED=6
OUTAGE=3
PROBE_INTERVAL=1
export XDG_CONFIG_HOME="$E2E_TMP/config" XDG_STATE_HOME="$E2E_TMP/state"

ports=()
: >"$E2E_TMP/trunk.bays"
for i in "${!VIDS[@]}"; do
  e2e_add_device "$i" "$DEVICE_MAC"
  ports+=("tvs$i:${VIDS[$i]}")
  echo "bay$i $E2E_IF_A ${VIDS[$i]}" >>"$E2E_TMP/trunk.bays"
done
e2e_start_switch "$SWITCH" "${ports[@]}"

"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 71 "$E2E_TMP/image.bin" >/dev/null
for i in "${!VIDS[@]}"; do
  e2e_spawn_d "$i" "device$i" "$TARGET" -i tvd0 --board 001122334455 \
    --dump "$E2E_TMP/device$i.mem" --trace "$E2E_TMP/device$i.pcap"
  e2e_wait_for_line "$E2E_TMP/device$i.err" "ready"
done

unplug() { ip -n "$E2E_NS_B" link set "tvs$1" down; }
plug() { ip -n "$E2E_NS_B" link set "tvs$1" up; }
events="$E2E_TMP/station.out"
bay_events() { grep -F "\"bay\":\"bay$1\",\"event\":\"$2\"" "$events" || true; }

# Pulls bay N's cable as soon as its device is in PHASE; it must not have finished by then.
unplug_in() {
  e2e_wait_for_line "$events" "\"bay\":\"bay$1\",\"event\":\"progress\",\"phase\":\"$2\"" 20
  unplug "$1"
  [[ -z "$(bay_events "$1" finished)" ]] ||
    e2e_fail "bay$1's upgrade ended before its cable was pulled"
}

unplug "$LATE"
e2e_spawn_a station "$CLI" --pace 20 --progress plain --trace "$E2E_TMP/tool.pcap" station \
  "$E2E_TMP/image.bin" --bays "$E2E_TMP/trunk.bays" --jobs ${#VIDS[@]} \
  --probe-interval "$PROBE_INTERVAL" --history none --record "$E2E_TMP/station.jsonl" --events
station=$E2E_PID

# --- PULLED out while written, FAILED out while verified; PULLED back after OUTAGE seconds ---
unplug_in "$PULLED" write
unplug_in "$FAILED" verify
sleep "$OUTAGE"
plug "$PULLED"

# --- LATE: nothing of it while it is out; then in ---
seen=$(grep -F "\"bay\":\"bay$LATE\"" "$events" || true)
[[ -z "$seen" ]] || e2e_fail "bay$LATE was seen while its cable was out: $seen"
plug "$LATE"

# --- FAILED: back once its attempt failed and it missed the probes that make it gone (two in
# a row after the attempt ended; three intervals leave a margin) ---
e2e_wait_for_line "$events" "\"bay\":\"bay$FAILED\",\"event\":\"finished\"" 40
sleep $((3 * PROBE_INTERVAL))
plug "$FAILED"

# Every bay's device flashed, then two more probe rounds in which a second, wrong, attempt
# would start; then Ctrl-C.
finishes=$((${#VIDS[@]} + 1))
for ((t = 0; t < 300; t++)); do
  (($(grep -c '"event":"finished"' "$events") >= finishes)) && break
  sleep 0.1
done
sleep $((2 * PROBE_INTERVAL))
kill -INT "$station"
status=0
e2e_wait_job "$station" 30 || status=$?
[[ $status -eq 130 ]] ||
  e2e_fail "the station ended with $status after Ctrl-C, not 130: $(tail -n 3 "$E2E_TMP/station.err")"
e2e_stop_switch
for i in "${!VIDS[@]}"; do
  kill -INT "$(cat "$E2E_TMP/device$i.pid")"
  e2e_wait_job "$(cat "$E2E_TMP/device$i.pid")" 10 >/dev/null || e2e_fail "tarvik-target $i did not end"
done

# --- each device flashed exactly once, under its own bay; FAILED's failure under FAILED ---
records="$E2E_TMP/station.jsonl"
[[ $(wc -l <"$records") -eq $finishes ]] ||
  e2e_fail "the station made $(wc -l <"$records") attempts, not $finishes"
for i in "${!VIDS[@]}"; do
  expected="Upgrade Finish"
  [[ $i -ne $FAILED ]] || expected=$'Upgrade Process Error !\nUpgrade Finish'
  results=$(grep -F "\"Bay\":\"bay$i\"" "$records" | e2e_json_field Result) ||
    e2e_fail "no attempt in bay$i"
  [[ "$results" == "$expected" ]] ||
    e2e_fail "bay$i's attempts ended with \"${results//$'\n'/\", \"}\", not \"${expected//$'\n'/\", \"}\""
  [[ $(grep -F "\"Bay\":\"bay$i\"" "$records" | e2e_json_field DeviceName | sort -u) == "$DEVICE" ]] ||
    e2e_fail "bay$i's attempts were not all on $DEVICE"
  [[ $(bay_events "$i" started | wc -l) -eq $(wc -l <<<"$expected") &&
     $(bay_events "$i" finished | grep -c '"result":"Upgrade Finish"') -eq 1 ]] ||
    e2e_fail "bay$i's events do not show its attempts: $(grep -F "\"bay\":\"bay$i\"" "$events" | grep -v progress)"
done
grep -qx "station: passed ${#VIDS[@]}, failed 1, skipped 0, in progress 0, .*" "$E2E_TMP/station.err" ||
  e2e_fail "the summary is not ${#VIDS[@]} passed and 1 failed: $(tail -n 1 "$E2E_TMP/station.err")"
grep -q "^bay$FAILED $DEVICE: Upgrade Process Error !" "$E2E_TMP/station.err" ||
  e2e_fail "the failure was not said under bay$FAILED: $(grep -F "$DEVICE: Upgrade Process" "$E2E_TMP/station.err")"
resent=$(grep -F "\"Bay\":\"bay$PULLED\"" "$records" | e2e_json_field FramesResent) ||
  e2e_fail "bay$PULLED's record has no FramesResent"
((resent > 0)) || e2e_fail "bay$PULLED's transfer sent nothing again: the pulled cable missed it"
e2e_log "bay$PULLED's transfer sent $resent frames again while its cable was out"

# --- each device's memory holds the image ---
for i in "${!VIDS[@]}"; do
  dd if="$E2E_TMP/device$i.mem" of="$E2E_TMP/device$i.bin" bs=16 skip=$((SEGMENT)) \
    count=$((IMAGE_BYTES / 16)) status=none
  cmp -s "$E2E_TMP/image.bin" "$E2E_TMP/device$i.bin" ||
    e2e_fail "the memory of bay$i's device differs from the image"
done

# --- no frame crossed bays ---
for i in "${!VIDS[@]}"; do
  vid=${VIDS[$i]}
  mv "$E2E_TMP/tool-bay$i.pcap" "$E2E_TMP/tool$i.pcap" || e2e_fail "no trace of bay$i"
  sent=$(e2e_count_from "$E2E_TMP/tool$i.pcap" "$E2E_MAC_A")
  received=$(e2e_count_from "$E2E_TMP/tool$i.pcap" "$DEVICE_MAC")
  got=$(e2e_count_from "$E2E_TMP/device$i.pcap" "$E2E_MAC_A")
  replied=$(e2e_count_from "$E2E_TMP/device$i.pcap" "$DEVICE_MAC")
  counts=$(grep "^vlan $vid " "$E2E_TMP/switch.out") || e2e_fail "the switch has no port of VLAN $vid"
  read -r _ _ _ delivered _ to_trunk _ undelivered <<<"$counts"
  ((sent > 0)) || e2e_fail "no frame sent in bay$i"
  [[ $((delivered + undelivered)) -eq $sent ]] ||
    e2e_fail "the station sent $sent frames in bay$i, the switch met $((delivered + undelivered)) of VLAN $vid ($counts)"
  [[ $got -eq $delivered ]] ||
    e2e_fail "bay$i's device received $got frames, the switch delivered $delivered on its port"
  [[ $received -eq $to_trunk ]] ||
    e2e_fail "the station took $received frames in bay$i, the switch sent $to_trunk of VLAN $vid"
  case $i in
    "$PULLED" | "$FAILED")
      # A reply on its way out as the cable is pulled is lost on the wire.
      ((replied == to_trunk || replied == to_trunk + 1)) ||
        e2e_fail "bay$i's device replied $replied times, the switch took $to_trunk from it"
      ((undelivered > 0)) || e2e_fail "nothing met bay$i's port while its cable was out" ;;
    "$LATE")
      [[ $replied -eq $to_trunk ]] ||
        e2e_fail "bay$i's device replied $replied times, the switch took $to_trunk from it"
      ((undelivered > 0)) || e2e_fail "nothing met bay$i's port while its cable was out" ;;
    *)
      [[ $replied -eq $to_trunk && $undelivered -eq 0 ]] ||
        e2e_fail "bay$i's frames were not all carried: the device replied $replied ($counts)" ;;
  esac
done
e2e_log "the switch: $(grep -E "^vlan (${VIDS[$PULLED]}|${VIDS[$LATE]}|${VIDS[$FAILED]}) " "$E2E_TMP/switch.out" | paste -sd ';')"
grep -qx "dropped 0" "$E2E_TMP/switch.out" ||
  e2e_fail "the switch met frames of no bay: $(tail -n 1 "$E2E_TMP/switch.out")"

e2e_pass "${#VIDS[@]} bays with one device address behind one trunk, each device flashed once with the image: bay$PULLED through a pulled cable, bay$LATE plugged in late, bay$FAILED again after a failure it came back from; no frame crossed bays"
