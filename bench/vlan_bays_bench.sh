#!/usr/bin/env bash
# A station of 16 VLAN bays on one trunk over veth, in real time: the test's switch
# (vlan_switch) in one namespace, an access port per bay, behind each a tarvik-target with the
# same address as all the others; the 64 KiB image at pace 20, every bay's device in flight at
# once. Prints, from the stations' events (first "started" to last "finished"):
#   the 16 bays, Tarvik tagging on the trunk / one device alone through the same switch (a
#   station of one bay)                                                    (target <= 1.1)
#   where the kernel makes VLAN interfaces (802.1Q): the 16 bays over the system's VLAN
#   interfaces / the 16 bays tagged by Tarvik                          (target 0.95 to 1.05);
#   where it does not, why that is skipped
# and the switch's CPU time per frame it forwarded, to show whether it kept up. Asserts nothing.
# usage: [PACE=MS] bash bench/vlan_bays_bench.sh BUILD_DIR  (root; 77 without)
# PACE 0 runs each transfer in lockstep with its replies, every frame through the switch on the
# way: the switch's own speed then shows in the wall ratio.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
e2e_program SWITCH vlan_switch

BAYS=16
pace=${PACE:-20}
DEVICE_MAC=02:5a:17:00:03:01
export XDG_CONFIG_HOME="$E2E_TMP/config" XDG_STATE_HOME="$E2E_TMP/state"

vids=()
ports=()
: >"$E2E_TMP/all.bays"
for ((i = 0; i < BAYS; i++)); do
  vids+=($((101 + i)))
  e2e_add_device "$i" "$DEVICE_MAC"
  ports+=("tvs$i:${vids[$i]}")
  echo "bay$i $E2E_IF_A ${vids[$i]}" >>"$E2E_TMP/all.bays"
done
head -n 1 "$E2E_TMP/all.bays" >"$E2E_TMP/one.bays"
e2e_start_switch "$SWITCH" "${ports[@]}"

image="$E2E_TMP/image64k.bin"
"$MKIMAGE" --size 65536 --code-segment 2340 --seed 5 "$image" >/dev/null
for ((i = 0; i < BAYS; i++)); do
  e2e_spawn_d "$i" "device$i" "$TARGET" -i tvd0 --board 001122334455
  e2e_wait_for_line "$E2E_TMP/device$i.err" "ready"
done

# The station over the bays of BAYS_FILE, until each has flashed its device; prints the time
# from its first "started" to its last "finished" in ms. A station run anew flashes the devices
# again: its ledger starts empty.
station_ms() {
  local name="$1" bays_file="$2" expected first last
  expected=$(wc -l <"$bays_file")
  e2e_in_a "$CLI" --pace "$pace" --progress plain station "$image" --bays "$bays_file" --jobs "$expected" \
    --stop-after 1 --history none --events >"$E2E_TMP/$name.events" 2>"$E2E_TMP/$name.err" ||
    e2e_fail "the station of $name failed: $(tail -n 2 "$E2E_TMP/$name.err")"
  [[ $(grep -c '"result":"Upgrade Finish"' "$E2E_TMP/$name.events") -eq $expected ]] ||
    e2e_fail "the station of $name did not flash its $expected devices: $(tail -n 1 "$E2E_TMP/$name.err")"
  # ISO 8601 times in UTC sort as text.
  grep -E '"event":"(started|finished)"' "$E2E_TMP/$name.events" |
    sed -E 's/.*"time":"([^"]*)".*/\1/' | sort >"$E2E_TMP/$name.times"
  first=$(date -d "$(head -n 1 "$E2E_TMP/$name.times")" +%s%3N)
  last=$(date -d "$(tail -n 1 "$E2E_TMP/$name.times")" +%s%3N)
  echo $((last - first))
}
cpu_seconds() { # the user and system time of a process so far
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"
}

one_ms=$(station_ms one "$E2E_TMP/one.bays")
tagged_ms=$(station_ms tagged "$E2E_TMP/all.bays")

# The same bays over the system's VLAN interfaces: with tva0.VID present, the station speaks
# through it and the kernel tags.
kernel_ms="" why=""
for vid in "${vids[@]}"; do
  why=$(ip -n "$E2E_NS_A" link add link "$E2E_IF_A" name "$E2E_IF_A.$vid" type vlan id "$vid" \
          2>&1) || break
  why=""
  e2e_in_a sysctl -qw "net.ipv6.conf.$E2E_IF_A/$vid.disable_ipv6=1" 2>/dev/null || true
  ip -n "$E2E_NS_A" link set "$E2E_IF_A.$vid" up
  e2e_wait_link "$E2E_NS_A" "$E2E_IF_A.$vid"
done
[[ -n "$why" ]] || kernel_ms=$(station_ms kernel "$E2E_TMP/all.bays")

switch_cpu=$(cpu_seconds "$E2E_SWITCH_PID")
e2e_stop_switch
frames=$(awk '/^vlan / { n += $4 + $6 } END { print n }' "$E2E_TMP/switch.out")

printf '%d VLAN bays on one trunk, one device address, 64 KiB at pace %d\n' "$BAYS" "$pace"
awk -v one="$one_ms" -v many="$tagged_ms" -v bays="$BAYS" 'BEGIN {
  printf "Tarvik tagging: first start to last end %d ms, one device alone through the switch %d ms\n", many, one
  printf "wall / one device: %.2f (target <= 1.1)\n", many / one
}'
if [[ -n "$kernel_ms" ]]; then
  awk -v kernel="$kernel_ms" -v tagged="$tagged_ms" 'BEGIN {
    printf "system VLAN interfaces: first start to last end %d ms\n", kernel
    printf "system VLAN interfaces / Tarvik tagging: %.3f (target 0.95 to 1.05)\n", kernel / tagged
  }'
else
  echo "system VLAN interfaces: skipped, the kernel cannot make one (no 802.1Q): $why"
fi
awk -v cpu="$switch_cpu" -v frames="$frames" 'BEGIN {
  printf "the switch: %.2f s of CPU for %d frames forwarded, %.0f us a frame\n", cpu, frames, cpu * 1e6 / frames
}'
e2e_pass "VLAN bays benchmark"
