#!/usr/bin/env bash
# A field report replayed over a real link: an upgrade of an emulated device in namespace B,
# traced by tarvik-cli (--trace) and by tcpdump -w at the same time, then the same upgrade
# against tarvik-target --replay of each capture.
#   1. replaying tarvik-cli's own trace, the upgrade ends with "Upgrade Finish" and exit 0 as
#      the recorded one did, and tarvik-cli sends the same frames in the same order (sequence
#      numbers aside: they start from the clock);
#   2. tcpdump's capture of the same upgrade replays the same way;
#   3. a device that refuses writes (status 5): the replay ends with "Upgrade Process Error !"
#      and exit 16, as recorded, with the same frames sent.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
command -v tcpdump >/dev/null 2>&1 || e2e_skip "tcpdump is not installed"

DEVICE=QV00000B  # B's own address 02:5a:17:00:00:0b
IMAGE="$E2E_TMP/image.bin"
"$MKIMAGE" --size 4000 --code-segment 2340 --seed 5 "$IMAGE" >/dev/null

# The frames tarvik-cli sent in a capture, one per line in hex, the sequence word blanked.
sent_frames() {
  tcpdump -r "$1" -n -xx "ether src $E2E_MAC_A" 2>/dev/null |
    awk '/^[^\t ]/ { if (f != "") print f; f = ""; next }
         { for (i = 2; i <= NF; i++) f = f $i }
         END { if (f != "") print f }' |
    sed -E 's/^(.{32})..../\1----/'
}

# Runs an upgrade from A with its own trace; its exit status, stderr and the frames it sent
# land in $E2E_TMP/NAME.{status,err,sent}.
upgrade() {
  local name="$1" status=0
  e2e_in_a "$CLI" -i "$E2E_IF_A" --progress plain --trace "$E2E_TMP/$name.pcap" \
    upgrade "$IMAGE" "$DEVICE" >/dev/null 2>"$E2E_TMP/$name.err" || status=$?
  echo "$status" >"$E2E_TMP/$name.status"
  sent_frames "$E2E_TMP/$name.pcap" >"$E2E_TMP/$name.sent"
  [[ -s "$E2E_TMP/$name.sent" ]] || e2e_fail "$name: no frame of tarvik-cli in its trace"
}

stop_job() {
  kill -INT "$1"
  e2e_wait_job "$1" 10 >/dev/null || e2e_fail "$2 did not end cleanly"
}

# Replays CAPTURE with tarvik-target in B and runs the upgrade as NAME against it; the ending
# and the frames sent must be RECORDED's.
replay_as_recorded() {
  local capture="$1" name="$2" recorded="$3"
  e2e_spawn_b "$name-target" "$TARGET" -i "$E2E_IF_B" --replay "$capture"
  local pid=$E2E_PID
  e2e_wait_for_line "$E2E_TMP/$name-target.err" "ready"
  upgrade "$name"
  stop_job "$pid" "the replaying tarvik-target"
  e2e_expect_same "$E2E_TMP/$recorded.status" "$E2E_TMP/$name.status" \
    "$name: the replay's exit status differs from the recorded run's"
  tail -n 1 "$E2E_TMP/$recorded.err" >"$E2E_TMP/$recorded.last"
  tail -n 1 "$E2E_TMP/$name.err" >"$E2E_TMP/$name.last"
  e2e_expect_same "$E2E_TMP/$recorded.last" "$E2E_TMP/$name.last" \
    "$name: the replay ends with another message"
  e2e_expect_same "$E2E_TMP/$recorded.sent" "$E2E_TMP/$name.sent" \
    "$name: tarvik-cli sent other frames to the replay"
  if grep -q "unanswered" "$E2E_TMP/$name-target.err"; then
    e2e_fail "$name: the live upgrade asked what the capture never answered"
  fi
}

# --- the recorded runs ---
e2e_spawn_a tcpdump tcpdump -i "$E2E_IF_A" --immediate-mode -U -Z root -w "$E2E_TMP/tcpdump.pcap"
TCPDUMP=$E2E_PID
e2e_wait_for_line "$E2E_TMP/tcpdump.err" "listening on"
e2e_spawn_b good "$TARGET" -i "$E2E_IF_B"
GOOD=$E2E_PID
e2e_wait_for_line "$E2E_TMP/good.err" "ready"
upgrade recorded
stop_job "$GOOD" "tarvik-target"
stop_job "$TCPDUMP" "tcpdump"
[[ $(cat "$E2E_TMP/recorded.status") -eq 0 ]] || e2e_fail "the recorded upgrade failed"
grep -q "^Upgrade Finish" "$E2E_TMP/recorded.err" || e2e_fail "the recorded upgrade did not finish"

e2e_spawn_b refusing "$TARGET" -i "$E2E_IF_B" --status-for-opcode 2=5
REFUSING=$E2E_PID
e2e_wait_for_line "$E2E_TMP/refusing.err" "ready"
upgrade refused
stop_job "$REFUSING" "the refusing tarvik-target"
[[ $(cat "$E2E_TMP/refused.status") -eq 16 ]] || e2e_fail "the refused upgrade did not exit 16"

# --- 1. our own trace ---
replay_as_recorded "$E2E_TMP/recorded.pcap" replayed recorded
# --- 2. tcpdump's ---
replay_as_recorded "$E2E_TMP/tcpdump.pcap" tcpdumped recorded
# --- 3. a refused write ---
replay_as_recorded "$E2E_TMP/refused.pcap" refused-replayed refused

e2e_pass "own trace and tcpdump's replayed: same ending, exit status and frames; a refused write replays as exit 16"
