#!/usr/bin/env bash
# The binding over the libpcap packet driver on a real link. The tool's end (binding_probe) is
# in namespace A, a raw packet socket (raw_peer) in namespace B.
#   1. Frames sent through SendFrame, and the frames of the six builders of UpgradeLink,
#      arrive at the peer byte for byte; the station address is the interface's and the
#      medium is 802.3. The builders' frames are written out here from the frame layout.
#   2. Frames from the peer arrive through WaitFrame: broadcast and directed ones pass the
#      packet filter, frames to other stations and multicast do not.
#   3. A burst of a few thousand frames sent back to back arrives whole.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program PROBE binding_probe
e2e_program PEER raw_peer

A="${E2E_MAC_A//:/}"
B="${E2E_MAC_B//:/}"
BROADCAST=ffffffffffff
OTHER=025a17aaaaaa
MULTICAST=01005e000001

# The bytes 00 01 02 ... (modulo 256), N of them, as hex.
counting() {
  local n="$1" hex="" i
  for ((i = 0; i < n; i++)); do
    hex+=$(printf '%02x' $((i & 0xFF)))
  done
  echo "$hex"
}

# N zero bytes as hex.
zeros() { printf "%0$(($1 * 2))d" 0; }

# A frame as hex: destination, source, type, then counting bytes up to the total length.
frame() {
  local destination="$1" source="$2" type="$3" length="$4"
  echo "$destination$source$type$(counting $((length - 14)))"
}

# --- 1. from the tool to the peer ---
sent=(
  "$(frame "$BROADCAST" "$A" 0000 64)"
  "$(frame "$B" "$A" 8888 64)"
  "$(frame "$B" "$A" 8888 34)"
  "$(frame "$B" "$A" 0000 1514)"
)
probe_steps=(address medium)
for f in "${sent[@]}"; do probe_steps+=(send "$f"); done
hand_built=${#sent[@]}

# The builders, in a session with the target B, Sequence 0x1234, Offset 5, Segment 0x2000.
# Words are little-endian: opcode 2 is 0200, Sequence 0x1234 is 3412, 512 bytes are 0002.
probe_steps+=(variant 0 probe variant 1 probe session "$B" 1234 5 2000
              info begin write 512 verify 10 reset variant 0 info)
builders=(probe probe info begin write verify reset info)
sent+=(
  "$BROADCAST${A}0000$(zeros 50)"
  "$BROADCAST${A}8888$(zeros 50)"
  "$B${A}8888$(zeros 50)"
  "$B${A}8888""0100""3412""$(zeros 46)"
  "$B${A}8888""0200""3412""0500""0020""0002""$(counting 512)"
  "$B${A}8888""0400""3412""0500""0020""0a00""$(counting 10)"
  "$B${A}8888""0300""$(zeros 48)"
  "$B${A}0000$(zeros 50)"
)
probe_steps+=(quiet 300)

e2e_spawn_b peer1 "$PEER" "$E2E_IF_B" capture "$E2E_MAC_A" "${#sent[@]}" 15000
peer1=$E2E_PID
e2e_wait_for_line "$E2E_TMP/peer1.out" '^ready$'
e2e_in_a "$PROBE" "$E2E_IF_A" "${probe_steps[@]}" >"$E2E_TMP/probe1.out" 2>"$E2E_TMP/probe1.err" ||
  e2e_fail "the probe's sending steps failed"
e2e_wait_job "$peer1" 20 || e2e_fail "the peer did not capture every frame sent"

{
  echo ready
  echo "address $E2E_MAC_A"
  echo "medium 0"
  for ((i = 0; i < hand_built; i++)); do echo "send 0"; done
  for b in "${builders[@]}"; do echo "built $b 0"; done
} >"$E2E_TMP/probe1.expected"
e2e_expect_same "$E2E_TMP/probe1.expected" "$E2E_TMP/probe1.out" \
  "the probe's answers (address, medium, sends, builders) or a frame of its own came back"

{
  echo ready
  printf '%s\n' "${sent[@]}"
} >"$E2E_TMP/peer1.expected"
e2e_expect_same "$E2E_TMP/peer1.expected" "$E2E_TMP/peer1.out" \
  "frames sent through the binding did not arrive byte for byte"

# --- 2. and 3. from the peer to the tool ---
broadcast="$(frame "$BROADCAST" "$B" 0000 64)"
directed="$(frame "$A" "$B" 8888 98)"
short="$(frame "$A" "$B" 8888 14)"
end_of_filter="$(frame "$BROADCAST" "$B" 8888 60)"
kept_out=(
  "$(frame "$OTHER" "$B" 0000 64)"
  "$(frame "$MULTICAST" "$B" 0800 64)"
  "$(frame "$OTHER" "$B" 8888 1514)"
)
outgoing="$(frame "$BROADCAST" "$A" 0000 64)"
BURST=3000
end_of_burst="$(frame "$A" "$B" 88b5 61)"

e2e_spawn_a probe2 "$PROBE" "$E2E_IF_A" receive-until "$end_of_filter" 10000 \
  mark burst count-until "$end_of_burst" 60000
probe2=$E2E_PID
e2e_wait_for_line "$E2E_TMP/probe2.out" '^ready$'

e2e_in_b "$PEER" "$E2E_IF_B" send "${kept_out[0]}" "$broadcast" "${kept_out[1]}" "$directed" \
  "${kept_out[2]}" "$short" || e2e_fail "the peer could not send"
# Another program on the tool's own interface sends a broadcast: the tool must not receive
# it, as it leaves the interface rather than arrives.
e2e_in_a "$PEER" "$E2E_IF_A" send "$outgoing" || e2e_fail "could not send from the tool's side"
e2e_in_b "$PEER" "$E2E_IF_B" send "$end_of_filter" || e2e_fail "the peer could not send"
e2e_wait_for_line "$E2E_TMP/probe2.out" '^mark burst$' 15

e2e_in_b "$PEER" "$E2E_IF_B" burst "$E2E_MAC_A" "$BURST" || e2e_fail "the peer's burst failed"
e2e_in_b "$PEER" "$E2E_IF_B" send "$end_of_burst" || e2e_fail "the peer could not send"
e2e_wait_job "$probe2" 90 || e2e_fail "the probe's receiving steps failed"

printf 'frame %s\n' "$broadcast" "$directed" "$short" "$end_of_filter" | sort \
  >"$E2E_TMP/filter.expected"
grep '^frame ' "$E2E_TMP/probe2.out" | sort >"$E2E_TMP/filter.actual"
e2e_expect_same "$E2E_TMP/filter.expected" "$E2E_TMP/filter.actual" \
  "the tool received the wrong frames (packet filter or direction), or a frame changed on the way"

expected_count="count $((BURST + 1)) distinct $((BURST + 1))"
grep -qx "$expected_count" "$E2E_TMP/probe2.out" ||
  e2e_fail "burst: expected '$expected_count', got '$(grep '^count' "$E2E_TMP/probe2.out")'"

e2e_pass "$hand_built frames and ${#builders[@]} builders' frames out byte for byte, filter 9 kept ${#kept_out[@]} out, burst of $BURST whole"
