#!/usr/bin/env bash
# tarvik-cli doctor over a fixture's bays. Namespace A is the station with two interfaces: tva1,
# a bay's own adapter whose device (a tarvik-target) is at the other end in B, and tva0, a
# trunk to the test's vlan_switch in B, whose access port of VLAN 12 leads to a device in a
# namespace of its own; VLAN 13 has an access port with nothing behind it. No system VLAN
# interface exists: Tarvik tags VLAN 12 and 13 itself. Then:
#   1. `doctor --bays FILE`: every bay checked and probed, each line under the bay's name; the
#      VLAN bays say that Tarvik tags the VLAN, and what to set on the switch's ports; the
#      VLAN 12 bay finds its device and the VLAN 13 bay none; the first check records the
#      carrier counts in the state folder, one line per interface (tva0 once for two bays);
#   2. the usb bay's link goes down and up (its peer taken down and up): the next doctor warns
#      of 2 carrier changes since the first check on that bay and says none on the others;
#   3. `doctor --bay ... --json`: the bay first in each object, the probe objects too;
#   4. `-i tva0.12 doctor`: the trunk's facts, the tagging said, the device found;
#   5. a state folder that cannot be written: said in the line, the exit status unchanged;
#   6. a bays file the station refuses is refused by doctor in the same words and status;
#   7. a bay's adapter in a bridge with spanning tree: the bridge's line under the bay (where
#      the kernel has bridges);
#   8. a bay on the system's own VLAN interface (where the kernel has 802.1Q).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program SWITCH vlan_switch

VLAN_DEVICE_MAC=02:5a:17:00:0c:01
VLAN_DEVICE=QV000C01

# The VLAN 12 device in a namespace of its own behind the switch's access port tvs0; VLAN 13's
# access port tvs1 ends in the same kind of namespace, with nobody listening there.
device_ns() { echo "tarvik-e2e-$$-d$1"; }
for i in 0 1; do
  ns=$(device_ns "$i")
  why=$(ip netns add "$ns" 2>&1) || e2e_skip "cannot create a network namespace: $why"
  e2e_on_exit "for p in \$(ip netns pids $ns); do kill -KILL \$p; done; ip netns delete $ns"
  ip -n "$ns" link set lo up
  why=$(ip link add "tvs$i" netns "$E2E_NS_B" type veth \
          peer name tvd0 netns "$ns" address "$VLAN_DEVICE_MAC" 2>&1) ||
    e2e_skip "cannot create a veth pair: $why"
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.tvd0.disable_ipv6=1 2>/dev/null || true
  e2e_in_b sysctl -qw "net.ipv6.conf.tvs$i.disable_ipv6=1" 2>/dev/null || true
  ip -n "$ns" link set tvd0 up
  ip -n "$E2E_NS_B" link set "tvs$i" up
  e2e_wait_link "$ns" tvd0
  e2e_wait_link "$E2E_NS_B" "tvs$i"
done
e2e_spawn_b switch "$SWITCH" "$E2E_IF_B" tvs0:12 tvs1:13
e2e_wait_for_line "$E2E_TMP/switch.out" '^ready$'
_e2e_spawn "$(device_ns 0)" vlan_device "$TARGET" -i tvd0
e2e_wait_for_line "$E2E_TMP/vlan_device.err" "ready"

# The usb bay: its own pair, its device at the B end.
e2e_add_pair tva1 02:54:56:00:01:0a tvb1 02:5a:17:00:01:0b
e2e_spawn_b usb_device "$TARGET" -i tvb1
e2e_wait_for_line "$E2E_TMP/usb_device.err" "ready"

cat >"$E2E_TMP/fixture.bays" <<BAYS
# name   interface  VLAN
usb      tva1
vlan12   $E2E_IF_A  12
vlan13   $E2E_IF_A  13
BAYS
STATE="$E2E_TMP/state"

# doctor NAME ARGS...: runs doctor in A with the test's state folder; its output in
# $E2E_TMP/NAME.out, its status in STATUS.
doctor() {
  local name="$1"
  shift
  STATUS=0
  e2e_in_a env XDG_STATE_HOME="$STATE" "$CLI" "$@" >"$E2E_TMP/$name.out" \
    2>"$E2E_TMP/$name.err" || STATUS=$?
}
expect_line() {
  grep -qE -- "$2" "$E2E_TMP/$1.out" || {
    cat "$E2E_TMP/$1.out" >&2
    e2e_fail "$1: no line matching '$2'"
  }
}
expect_no_line() {
  ! grep -qE -- "$2" "$E2E_TMP/$1.out" || {
    cat "$E2E_TMP/$1.out" >&2
    e2e_fail "$1: a line matches '$2'"
  }
}
expect_status() {
  [[ $STATUS -eq $2 ]] || {
    cat "$E2E_TMP/$1.out" "$E2E_TMP/$1.err" >&2
    e2e_fail "$1: doctor exited $STATUS, not $2"
  }
}

# --- 1. the first check of three bays ---
doctor first doctor --bays "$E2E_TMP/fixture.bays"
expect_status first 0
expect_line first '^- +pass +running as root$'
expect_line first '^usb tva1 +pass +carrier$'
expect_line first '^usb tva1 +pass +carrier changes: first check here, [0-9]+ since the interface was made; recorded$'
expect_line first '^usb tva1 +pass +untyped probe: 1 device: QV00010B in [0-9]+ ms$'
expect_no_line first '^usb tva1 +pass +switch'
for vid in 12 13; do
  expect_line first "^vlan$vid tva0\\.$vid +pass +the system has no tva0\\.$vid; its trunk tva0 exists$"
  expect_line first "^vlan$vid tva0\\.$vid +pass +VLAN $vid tagged by Tarvik on tva0: frames go out tagged, and only replies on VLAN $vid are taken$"
  expect_line first "^vlan$vid tva0\\.$vid +pass +behind a switch's access port: its spanning tree cannot be seen from here +-> +on a managed switch make every bay's access port an edge port \\(spanning-tree portfast, or 'spanning tree fast'\\)"
  expect_line first "^vlan$vid tva0\\.$vid +pass +carrier changes: first check here"
  expect_line first "^vlan$vid tva0\\.$vid +pass +raw socket open, kernel socket filter loaded$"
done
# Each bay hears its own segment alone: the device of VLAN 12 answers there and nowhere else.
expect_line first "^vlan12 tva0\\.12 +pass +untyped probe: 1 device: $VLAN_DEVICE in [0-9]+ ms$"
expect_line first "^vlan13 tva0\\.13 +warn +no device answered in either frame type +-> +.*access port of VLAN 13 \\(untagged\\)"
expect_no_line first "^(usb|vlan13) .*$VLAN_DEVICE"
# One record per interface: the trunk's counter is kept once for both of its bays.
[[ $(grep -c '^tva0 ' "$STATE/tarvik/carrier-changes") -eq 1 ]] ||
  e2e_fail "the trunk is not recorded once: $(cat "$STATE/tarvik/carrier-changes")"
grep -qE '^tva1 [0-9]+ [0-9]+$' "$STATE/tarvik/carrier-changes" ||
  e2e_fail "tva1 is not recorded: $(cat "$STATE/tarvik/carrier-changes")"

# --- 2. the usb bay's link goes and comes back ---
e2e_in_b ip link set tvb1 down
for ((i = 0; i < 100; i++)); do
  [[ $(e2e_in_a cat /sys/class/net/tva1/carrier 2>/dev/null) == 0 ]] && break
  sleep 0.05
done
e2e_in_b ip link set tvb1 up
e2e_wait_link "$E2E_NS_A" tva1
doctor second doctor --bays "$E2E_TMP/fixture.bays"
expect_status second 0
expect_line second '^usb tva1 +warn +carrier changes: 2 since the last check \([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} UTC\): the link went down and up again +-> +a board taken out and another put in makes two; .*reseat or replace the cable, try another port .*fixture.s contacts$'
for vid in 12 13; do
  expect_line second "^vlan$vid tva0\\.$vid +pass +carrier changes: none since the last check \\("
done
cp "$E2E_TMP/second.out" "$E2E_TMP/example.out"

# --- 3. the bays from the command line, as JSON ---
doctor json --json doctor --bay usb=tva1 --bay vlan12=tva0.12
expect_status json 0
expect_line json '^\{"bay":"usb","interface":"tva1","check":"carrier-changes","result":"pass","detail":"carrier changes: none since the last check \('
expect_line json '^\{"bay":"vlan12","interface":"tva0.12","check":"vlan","result":"pass","detail":"VLAN 12 tagged by Tarvik on tva0'
expect_line json "^\\{\"bay\":\"vlan12\",\"interface\":\"tva0.12\",\"opened\":true,\"answers\":\\[\\{\"device\":\"$VLAN_DEVICE\",\"asked\":\"untyped\",\"answered\":\"untyped\",\"ms\":[0-9]+\\}"
expect_line json '^\{"bay":"usb","interface":"tva1","opened":true,"answers":\[\{"device":"QV00010B"'
expect_no_line json '"bay":"vlan13"'

# --- 4. one VLAN named with -i, no system interface of that name ---
doctor vlan_i -i tva0.12 doctor
expect_status vlan_i 0
expect_line vlan_i '^tva0\.12 +pass +VLAN 12 tagged by Tarvik on tva0'
expect_line vlan_i "^tva0\\.12 +pass +untyped probe: 1 device: $VLAN_DEVICE in [0-9]+ ms$"

# --- 5. a state folder that cannot be written ---
mkdir -p "$E2E_TMP/blocked"
echo "not a folder" >"$E2E_TMP/blocked/tarvik"
STATUS=0
e2e_in_a env XDG_STATE_HOME="$E2E_TMP/blocked" "$CLI" doctor --bay usb=tva1 \
  >"$E2E_TMP/blocked.out" 2>"$E2E_TMP/blocked.err" || STATUS=$?
expect_status blocked 0
expect_line blocked '^usb tva1 +pass +carrier changes: first check here, [0-9]+ since the interface was made \(not kept for the next check: cannot create .*blocked/tarvik'

# --- 6. a bays file both commands refuse alike ---
printf 'usb tva1\nusb tva0 12\n' >"$E2E_TMP/twice.bays"
for command in doctor station; do
  STATUS=0
  args=("$command")
  [[ $command == station ]] && args+=("$E2E_BUILD/lab/sample.bin")
  e2e_in_a "$CLI" "${args[@]}" --bays "$E2E_TMP/twice.bays" >/dev/null \
    2>"$E2E_TMP/twice-$command.err" || STATUS=$?
  [[ $STATUS -eq 2 ]] || e2e_fail "$command with a bay named twice exited $STATUS, not 2"
done
e2e_expect_same "$E2E_TMP/twice-station.err" "$E2E_TMP/twice-doctor.err" \
  "doctor and the station refuse a bay named twice differently"
grep -qx 'tarvik-cli: the bay usb is named twice' "$E2E_TMP/twice-doctor.err" ||
  e2e_fail "doctor's refusal: $(cat "$E2E_TMP/twice-doctor.err")"

# --- 7. a bay's adapter in a bridge with spanning tree: the bridge's line under the bay ---
e2e_add_pair tva2 02:54:56:00:02:0a tvb2 02:5a:17:00:02:0b
if why=$(e2e_in_a ip link add tvbr0 type bridge stp_state 1 forward_delay 200 2>&1); then
  e2e_in_a ip link set tva2 master tvbr0
  e2e_in_a ip link set tvbr0 up
  doctor bridged doctor --bay bridged=tva2
  expect_line bridged '^bridged tva2 +(fail|warn) +port of bridge tvbr0.* +-> +.*stp_state 0'
else
  e2e_log "no bridge on this kernel, the bridged bay is not checked: $why"
fi

# --- 8. a bay on the system's own VLAN interface, where the kernel has 802.1Q ---
if why=$(e2e_in_a ip link add link "$E2E_IF_A" name "$E2E_IF_A.14" type vlan id 14 2>&1); then
  e2e_in_a ip link set "$E2E_IF_A.14" up
  e2e_wait_link "$E2E_NS_A" "$E2E_IF_A.14"
  doctor kernel_vlan doctor --bay kvlan14="$E2E_IF_A.14"
  expect_line kernel_vlan '^kvlan14 tva0\.14 +pass +VLAN 14 on tva0, the system.s VLAN interface: the switch.s access ports untag it for the devices$'
  expect_line kernel_vlan '^kvlan14 tva0\.14 +pass +raw socket open, kernel socket filter loaded$'
  expect_line kernel_vlan '^kvlan14 tva0\.14 +pass +behind a switch.s access port'
else
  e2e_log "the kernel cannot make a VLAN interface (no 802.1Q), a bay on one is not checked: $why"
fi

for pid in "$(cat "$E2E_TMP/usb_device.pid")" "$(cat "$E2E_TMP/vlan_device.pid")"; do
  kill -INT "$pid"
  e2e_wait_job "$pid" 10 >/dev/null || e2e_fail "a tarvik-target did not end"
done

e2e_log "the second check, as doctor printed it:"
cat "$E2E_TMP/example.out" >&2
e2e_pass "three bays (one adapter, two VLANs tagged on one trunk), carrier changes between checks, JSON, -i IFACE.VID, an unwritable state folder, refused bays"
