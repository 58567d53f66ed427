#!/usr/bin/env bash
# VLAN bays on one trunk, Tarvik tagging its own frames: the station's namespace (A) has one
# trunk veth to a switch namespace (B), where the test's vlan_switch forwards each VLAN to one
# access port; behind each access port, in a namespace of its own, a tarvik-target, every one
# with the same address. Then:
#   1. `-i TRUNK.VID upgrade` per VLAN, the three at once, flashes that VLAN's device, once,
#      with that VLAN's own image, and each device's memory holds its image;
#   2. no frame of one VLAN reached another: each device received exactly the frames the tool
#      sent on its VLAN (both traces), and the switch forwarded as many, and no more;
#   3. a name whose VLAN id is out of range, or whose trunk does not exist, is refused in one
#      line, as unknown adapters are.
# With VLAN_E2E_STATION=1 (vlan_station_e2e.sh) step 1 is one station instead, a bay per VLAN
# from a bays file: it flashes each device (one image for all) exactly once, each under its
# bay, and writes a trace per bay that step 2 checks as it checks the upgrades' traces.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
e2e_program SWITCH vlan_switch

VIDS=(101 102 4094)
DEVICE_MAC=02:5a:17:00:03:01
DEVICE=QV000301
IMAGE_BYTES=$((8 * 1024))
SEGMENT=0x2340

# With VLAN_E2E_KERNEL=1 (vlan_kernel_e2e.sh) the station speaks through the system's own VLAN
# interfaces, TRUNK.VID, which the kernel tags for; without 802.1Q in the kernel it skips.
if [[ ${VLAN_E2E_KERNEL:-0} == 1 ]]; then
  for vid in "${VIDS[@]}"; do
    why=$(ip -n "$E2E_NS_A" link add link "$E2E_IF_A" name "$E2E_IF_A.$vid" type vlan id "$vid" \
            2>&1) || e2e_skip "the kernel cannot make a VLAN interface (no 802.1Q): $why"
    e2e_in_a sysctl -qw "net.ipv6.conf.$E2E_IF_A/$vid.disable_ipv6=1" 2>/dev/null || true
    ip -n "$E2E_NS_A" link set "$E2E_IF_A.$vid" up
    e2e_wait_link "$E2E_NS_A" "$E2E_IF_A.$vid"
  done
fi

# One namespace per device, joined to the switch by an access port of the device's VLAN;
# every device has the same address.
ports=()
for i in "${!VIDS[@]}"; do
  e2e_add_device "$i" "$DEVICE_MAC"
  ports+=("tvs$i:${VIDS[$i]}")
done
e2e_start_switch "$SWITCH" "${ports[@]}"

for i in "${!VIDS[@]}"; do
  "$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed $((70 + i)) "$E2E_TMP/image$i.bin" \
    >/dev/null
  e2e_spawn_d "$i" "device$i" "$TARGET" -i tvd0 --board 001122334455 \
    --dump "$E2E_TMP/device$i.mem" --trace "$E2E_TMP/device$i.pcap"
  e2e_wait_for_line "$E2E_TMP/device$i.err" "ready"
done

if [[ ${VLAN_E2E_STATION:-0} == 1 ]]; then
  # --- 1. one station, a bay per VLAN, every device with the same address ---
  : >"$E2E_TMP/trunk.bays"
  for i in "${!VIDS[@]}"; do
    ((i == 0)) || cp "$E2E_TMP/image0.bin" "$E2E_TMP/image$i.bin"
    echo "bay$i $E2E_IF_A ${VIDS[$i]}" >>"$E2E_TMP/trunk.bays"
  done
  status=0
  e2e_in_a "$CLI" --pace 0 --progress plain --trace "$E2E_TMP/tool.pcap" station \
    "$E2E_TMP/image0.bin" --bays "$E2E_TMP/trunk.bays" --stop-after 4 --history none \
    --record "$E2E_TMP/station.jsonl" >"$E2E_TMP/station.out" 2>"$E2E_TMP/station.err" ||
    status=$?
  [[ $status -eq 0 ]] || e2e_fail "the station exited $status: $(tail -n 3 "$E2E_TMP/station.err")"
  for i in "${!VIDS[@]}"; do
    mv "$E2E_TMP/tool-bay$i.pcap" "$E2E_TMP/tool$i.pcap" || e2e_fail "no trace of bay$i"
    [[ $(grep -c "\"DeviceName\":\"$DEVICE\".*\"Result\":\"Upgrade Finish\".*\"Bay\":\"bay$i\"" \
          "$E2E_TMP/station.jsonl") -eq 1 ]] ||
      e2e_fail "bay$i's device was not flashed exactly once: $(cat "$E2E_TMP/station.jsonl")"
  done
  [[ $(wc -l <"$E2E_TMP/station.jsonl") -eq ${#VIDS[@]} ]] ||
    e2e_fail "the station made $(wc -l <"$E2E_TMP/station.jsonl") attempts, not ${#VIDS[@]}"
else
  # --- 1. one upgrade per VLAN, all at once through the trunk: each run's capture sees the
  # replies of every VLAN, from the same address, and must take its own VLAN's alone ---
  upgrades=()
  for i in "${!VIDS[@]}"; do
    e2e_spawn_a "upgrade$i" "$CLI" -i "$E2E_IF_A.${VIDS[$i]}" --pace 0 --json \
      --trace "$E2E_TMP/tool$i.pcap" upgrade "$E2E_TMP/image$i.bin" "$DEVICE" --history none
    upgrades+=("$E2E_PID")
  done
  for i in "${!VIDS[@]}"; do
    status=0
    e2e_wait_job "${upgrades[$i]}" 60 || status=$?
    [[ $status -eq 0 ]] || e2e_fail "the upgrade on VLAN ${VIDS[$i]} exited $status"
  done
fi

# --- 3. names that are no adapter ---
status=0
e2e_in_a "$CLI" -i "$E2E_IF_A.4095" browse >/dev/null 2>"$E2E_TMP/badvid.err" || status=$?
[[ $status -eq 37 ]] || e2e_fail "VLAN id 4095 exited $status, not 37"
grep -qx "tarvik-cli: no adapter $E2E_IF_A.4095 (a VLAN id is 1 to 4094); the adapters are:" \
  "$E2E_TMP/badvid.err" || e2e_fail "VLAN id 4095 was not refused in one line"
status=0
e2e_in_a "$CLI" -i nosuch0.5 browse >/dev/null 2>"$E2E_TMP/notrunk.err" || status=$?
[[ $status -eq 37 ]] || e2e_fail "a VLAN on a missing trunk exited $status, not 37"
grep -qx "tarvik-cli: no adapter nosuch0.5; the adapters are:" "$E2E_TMP/notrunk.err" ||
  e2e_fail "a VLAN on a missing trunk was not refused in one line"

e2e_stop_switch
for i in "${!VIDS[@]}"; do
  kill -INT "$(cat "$E2E_TMP/device$i.pid")"
  e2e_wait_job "$(cat "$E2E_TMP/device$i.pid")" 10 >/dev/null ||
    e2e_fail "tarvik-target $i did not end"
done

# --- 1. each device flashed once, with its own VLAN's image ---
for i in "${!VIDS[@]}"; do
  dd if="$E2E_TMP/device$i.mem" of="$E2E_TMP/device$i.bin" bs=16 skip=$((SEGMENT)) \
    count=$((IMAGE_BYTES / 16)) status=none
  cmp -s "$E2E_TMP/image$i.bin" "$E2E_TMP/device$i.bin" ||
    e2e_fail "the memory of VLAN ${VIDS[$i]}'s device differs from its image"
done

# --- 2. every frame stayed in its VLAN ---
for i in "${!VIDS[@]}"; do
  vid=${VIDS[$i]}
  sent=$(e2e_count_from "$E2E_TMP/tool$i.pcap" "$E2E_MAC_A")
  received=$(e2e_count_from "$E2E_TMP/tool$i.pcap" "$DEVICE_MAC")
  got=$(e2e_count_from "$E2E_TMP/device$i.pcap" "$E2E_MAC_A")
  replied=$(e2e_count_from "$E2E_TMP/device$i.pcap" "$DEVICE_MAC")
  ((sent > 0)) || e2e_fail "no frame sent on VLAN $vid"
  [[ $got -eq $sent ]] ||
    e2e_fail "VLAN $vid's device received $got frames from the tool, which sent $sent on it"
  [[ $received -eq $replied ]] ||
    e2e_fail "the tool took $received frames on VLAN $vid, its device replied $replied"
  grep -qx "vlan $vid to-access $sent to-trunk $replied undelivered 0" "$E2E_TMP/switch.out" ||
    e2e_fail "the switch did not forward VLAN $vid's frames alone: $(grep "^vlan $vid " "$E2E_TMP/switch.out")"
done
e2e_log "the switch found the trunk's tags so: $(grep '^tags ' "$E2E_TMP/switch.out")"
grep -qx "dropped 0" "$E2E_TMP/switch.out" ||
  e2e_fail "the switch met frames of no VLAN: $(tail -n 1 "$E2E_TMP/switch.out")"

e2e_pass "${#VIDS[@]} devices with one address, each on its own VLAN behind one trunk, each flashed once with its own image; no frame crossed VLANs"
