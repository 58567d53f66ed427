#!/usr/bin/env bash
# tarvik-cli against tarvik-target over a veth pair in real time. Prints figures only.
#   Transfer overhead: wall time of `tarvik-cli upgrade` of a 64 KiB image (process start to
#   exit) divided by frames sent x 20 ms, the pause every send carries. 1.00 would mean the
#   transfer costs nothing beyond its pauses. Measured without and with --trace (every frame
#   written to a pcap file as it goes), alternating, and both means printed.
#   CPU while waiting: CPU seconds / wall seconds of `tarvik-cli device` against a device that
#   never answers (20 tries of 990 ms).
# usage: bash bench/cli_veth_bench.sh BUILD_DIR   (needs root; exits 77 without it)
# RUNS (default 3): upgrades timed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
runs=${RUNS:-3}
image="$E2E_TMP/image.bin"
"$MKIMAGE" --size 65536 --seed 5 "$image" >/dev/null

e2e_spawn_b device "$TARGET" -i "$E2E_IF_B"
e2e_wait_for_line "$E2E_TMP/device.err" ready
device=QV00000B

# Runs alternate without and with --trace, so that both see the same machine load.
upgrade_ratio() {
  local label=$1 start end frames inside
  shift
  start=$(date +%s%N)
  e2e_in_a "$CLI" -i "$E2E_IF_A" --json "$@" upgrade "$image" "$device" \
    >"$E2E_TMP/upgrade.json" 2>/dev/null
  end=$(date +%s%N)
  frames=$(grep -o '"FramesSent":[0-9]*' "$E2E_TMP/upgrade.json" | cut -d: -f2)
  inside=$(grep -o '"ElapsedMs":[0-9]*' "$E2E_TMP/upgrade.json" | cut -d: -f2)
  awk -v wall=$((end - start)) -v frames="$frames" 'BEGIN { printf "%.6f\n", wall / (frames * 20e6) }' \
    >>"$E2E_TMP/ratios.$label"
  awk -v label="$label" -v wall=$((end - start)) -v frames="$frames" -v inside="$inside" 'BEGIN {
    printf "  %-7s %d frames, wall %.3f s, ratio %.4f (command alone %.3f s, ratio %.4f)\n",
      label ":", frames, wall / 1e9, wall / (frames * 20e6), inside / 1e3, inside / (frames * 20.0) }'
}

echo "transfer overhead, 64 KiB image over veth (wall time / (frames sent x 20 ms)):"
for ((run = 1; run <= runs; run++)); do
  upgrade_ratio plain
  upgrade_ratio traced --trace "$E2E_TMP/trace.pcap"
done
awk 'FNR == 1 { file++ } { sum[file] += $1; n[file]++ } END {
  plain = sum[1] / n[1]; traced = sum[2] / n[2]
  printf "  mean ratio without --trace %.4f, with --trace %.4f: the trace adds %+.2f %%\n",
    plain, traced, 100 * (traced - plain) / plain }' "$E2E_TMP/ratios.plain" "$E2E_TMP/ratios.traced"
kill -INT "$(cat "$E2E_TMP/device.pid")"
e2e_wait_job "$(cat "$E2E_TMP/device.pid")" 10 >/dev/null || true

e2e_spawn_b silent "$TARGET" -i "$E2E_IF_B" --silent-opcode 0
e2e_wait_for_line "$E2E_TMP/silent.err" ready
echo "CPU while waiting, device query against a silent device (20 tries):"
TIMEFORMAT='%R %U %S'
status=0
{ time e2e_in_a "$CLI" -i "$E2E_IF_A" device "$device" >/dev/null 2>"$E2E_TMP/device_query.err"; } \
  2>"$E2E_TMP/time.txt" || status=$?
read -r wall user sys <"$E2E_TMP/time.txt"
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v status="$status" 'BEGIN {
  printf "  wall %.2f s, CPU %.3f s (user %.3f, sys %.3f): %.2f %% of one core; exit status %d\n",
    wall, user + sys, user, sys, 100 * (user + sys) / wall, status }'
exit 0
