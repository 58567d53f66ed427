#!/usr/bin/env bash
# A production line over a veth pair in real time. Prints figures only; none is asserted.
#   Many devices: DEVICES (default 32) tarvik-targets with addresses of their own on one veth
#   end, a 64 KiB image at the default pace.
#     batch wall ratio = wall time of one `tarvik-cli upgrade` of all of them
#                        / wall time of the same command for one device        (target <= 1.05)
#     batch CPU ratio  = CPU seconds of that one command
#                        / CPU seconds of one command per device, all at once   (target <= 0.5)
#     and in lockstep (`--pace 0`): one command for all of them / (DEVICES x one device alone)
#   Lockstep against TFTP: `--pace 0`, a 1 MiB image, one device, LOCKSTEP_RUNS times:
#     ratio = upgrade wall time / (2 x wall time of a TFTP get of the same file, 512-byte
#             blocks, tftpd-hpa in namespace B, tftp-hpa in namespace A)      (target <= 1.5)
#     with the time per block of both (ours: per frame sent, each one a round trip).
# usage: [DEVICES=N] [LOCKSTEP_RUNS=N] bash bench/production_veth_bench.sh BUILD_DIR
#   (needs root; exits 77 without it; DEVICES=0 measures only the lockstep)
# tftpd-hpa and tftp-hpa are installed from Debian here when missing (the benchmark's own
# needs; the build and the tests do not use them).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
devices=${DEVICES:-32}

# Runs a command, leaving "wall cpu" (seconds) in $E2E_TMP/timed.txt and its stdout in
# $E2E_TMP/timed.out; the CPU time of its children counts.
timed() {
  TIMEFORMAT='%R %U %S'
  { time "$@" >"$E2E_TMP/timed.out" 2>/dev/null; } 2>"$E2E_TMP/time.raw" ||
    echo "bench: $1 ... exited $?" >&2
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$E2E_TMP/time.raw" >"$E2E_TMP/timed.txt"
}

cli() { e2e_in_a "$CLI" -i "$E2E_IF_A" --progress plain "$@"; }

# --- many devices (DEVICES=0 leaves them out) ---
if ((devices > 0)); then
image="$E2E_TMP/image64k.bin"
"$MKIMAGE" --size 65536 --seed 5 "$image" >/dev/null
names=()
for ((i = 0; i < devices; i++)); do
  mac=$(printf '02:5a:17:00:02:%02x' "$i")
  names+=("$(printf 'QV0002%02X' "$i")")
  e2e_spawn_b "device$i" "$TARGET" -i "$E2E_IF_B" --mac "$mac" --board 001122334455
done
for ((i = 0; i < devices; i++)); do
  e2e_wait_for_line "$E2E_TMP/device$i.err" ready 30
done

separate() {
  local pids=() name
  for name in "${names[@]}"; do
    cli upgrade "$image" "$name" & pids+=($!)
  done
  local failed=0 pid
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  return "$failed"
}

timed cli upgrade "$image" "${names[0]}"
read -r one_wall one_cpu <"$E2E_TMP/timed.txt"
timed cli --json upgrade "$image" "${names[@]}"
read -r batch_wall batch_cpu <"$E2E_TMP/timed.txt"
resent=$(grep -o '"FramesResent":[0-9]*' "$E2E_TMP/timed.out" | cut -d: -f2 | paste -sd+ | bc)
slowest=$(grep -o '"ElapsedMs":[0-9]*' "$E2E_TMP/timed.out" | cut -d: -f2 | sort -n | tail -1)
timed separate
read -r separate_wall separate_cpu <"$E2E_TMP/timed.txt"
echo "$devices devices, 64 KiB image, pace 20 ms:"
awk -v n="$devices" -v ow="$one_wall" -v oc="$one_cpu" -v bw="$batch_wall" -v bc="$batch_cpu" \
  -v sw="$separate_wall" -v sc="$separate_cpu" -v slowest="$slowest" -v resent="$resent" 'BEGIN {
  printf "  one device:               wall %.2f s, CPU %.3f s\n", ow, oc
  printf "  one command, %d devices:  wall %.2f s, CPU %.3f s; slowest device %.2f s, %d frames resent\n",
    n, bw, bc, slowest / 1000, resent
  printf "  %d commands at once:      wall %.2f s, CPU %.3f s\n", n, sw, sc
  printf "  batch wall / one device wall = %.3f (target <= 1.05)\n", bw / ow
  printf "  batch CPU / separate CPU     = %.3f (target <= 0.5)\n", bc / sc }'

# The same devices in lockstep: one command for all of them against one device's time taken
# as many times, what upgrading them one after another would cost.
timed cli --pace 0 upgrade "$image" "${names[0]}"
read -r lockstep_one_wall _ <"$E2E_TMP/timed.txt"
timed cli --pace 0 --json upgrade "$image" "${names[@]}"
read -r lockstep_batch_wall lockstep_batch_cpu <"$E2E_TMP/timed.txt"
lockstep_resent=$(grep -o '"FramesResent":[0-9]*' "$E2E_TMP/timed.out" | cut -d: -f2 | paste -sd+ | bc)
lockstep_finished=$(grep -c '"result":"Upgrade Finish"' "$E2E_TMP/timed.out" || true)
echo "$devices devices, 64 KiB image, --pace 0:"
awk -v n="$devices" -v ow="$lockstep_one_wall" -v bw="$lockstep_batch_wall" \
  -v bc="$lockstep_batch_cpu" -v resent="$lockstep_resent" -v done="$lockstep_finished" 'BEGIN {
  printf "  one device: wall %.3f s; one command, %d devices: wall %.2f s, CPU %.2f s, %d finished, %d frames resent\n",
    ow, n, bw, bc, done, resent
  printf "  batch wall / (%d x one device wall) = %.3f (below 1: faster than one after another)\n",
    n, bw / (n * ow) }'
for ((i = 0; i < devices; i++)); do
  kill -INT "$(cat "$E2E_TMP/device$i.pid")" 2>/dev/null || true
done
fi

# --- lockstep against TFTP ---
if ! command -v in.tftpd >/dev/null || ! command -v tftp >/dev/null; then
  echo "bench: installing tftpd-hpa and tftp-hpa" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    tftpd-hpa tftp-hpa >/dev/null || { echo "bench: cannot install the TFTP programs" >&2; exit 0; }
  # The package starts a system daemon; only the one in namespace B is wanted.
  systemctl stop tftpd-hpa 2>/dev/null || service tftpd-hpa stop 2>/dev/null || true
fi
big="$E2E_TMP/image1m.bin"
"$MKIMAGE" --size $((1024 * 1024)) --code-segment 0 --seed 9 "$big" >/dev/null
e2e_spawn_b lockstep "$TARGET" -i "$E2E_IF_B" --board 001122334455
e2e_wait_for_line "$E2E_TMP/lockstep.err" ready 30

ip -n "$E2E_NS_A" addr add 10.77.0.1/24 dev "$E2E_IF_A"
ip -n "$E2E_NS_B" addr add 10.77.0.2/24 dev "$E2E_IF_B"
mkdir -p "$E2E_TMP/tftp"
cp "$big" "$E2E_TMP/tftp/image.bin"
chmod -R a+rX "$E2E_TMP"
e2e_spawn_b tftpd in.tftpd --foreground --listen --address 10.77.0.2:69 --user root --secure \
  "$E2E_TMP/tftp"
sleep 0.5

# The two transfers alternate, LOCKSTEP_RUNS (default 3) times each, so a moment of other
# load on the machine falls on both alike.
runs=${LOCKSTEP_RUNS:-3}
echo "1 MiB, --pace 0 upgrade (write and verify) against a TFTP get (512-byte blocks):"
for ((run = 1; run <= runs; run++)); do
  timed cli --pace 0 --json upgrade "$big" QV00000B
  read -r ours_wall ours_cpu <"$E2E_TMP/timed.txt"
  frames=$(grep -o '"FramesSent":[0-9]*' "$E2E_TMP/timed.out" | cut -d: -f2)
  timed e2e_in_a tftp -m binary 10.77.0.2 -c get image.bin "$E2E_TMP/fetched.bin"
  read -r tftp_wall tftp_cpu <"$E2E_TMP/timed.txt"
  cmp -s "$big" "$E2E_TMP/fetched.bin" || echo "bench: the TFTP copy differs from the file" >&2
  echo "$ours_wall $ours_cpu $frames $tftp_wall" >>"$E2E_TMP/lockstep.txt"
done
awk '{
  blocks = 1024 * 1024 / 512
  printf "  run %d: upgrade wall %.2f s (CPU %.2f s), %d frames, %.3f ms per frame round trip;",
    NR, $1, $2, $3, $1 * 1000 / $3
  printf " TFTP wall %.2f s, %.3f ms per block; ratio %.3f\n", $4, $4 * 1000 / blocks, $1 / (2 * $4)
  ours += $1; tftp += $4 }
END {
  printf "  upgrade wall / (2 x TFTP wall), all runs = %.3f (target <= 1.5)\n", ours / (2 * tftp) }' \
  "$E2E_TMP/lockstep.txt"
exit 0
