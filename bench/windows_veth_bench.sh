#!/usr/bin/env bash
# The Windows build of tarvik-cli under Wine against a Linux tarvik-target over a veth pair,
# beside the Linux build in the same run. Prints figures only.
#   Paced: a 64 KiB upgrade at --pace 20, the command's own elapsed time (from --json) over
#   frames sent x 20 ms, for each build, alternating (RUNS each); the Windows build's ratio
#   over the Linux build's.
#   Lockstep: a 1 MiB upgrade at --pace 0, each build's time per frame (a frame and its reply),
#   and the Windows build's time over the Linux build's.
#   CPU while waiting: `device` against a device that never answers (20 tries of 990 ms),
#   CPU of the program and of Wine's server over wall time.
# usage: bash bench/windows_veth_bench.sh BUILD_DIR [WINDOWS_BUILD_DIR]   (needs root; exits 77
# without it; the Windows build defaults to build-windows beside BUILD_DIR)
set -euo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/../tests/e2e/netns.sh"
source "$here/../tests/windows/wine.sh"
windows_build="${2:-$(dirname "$1")/build-windows}"
[[ -f "$windows_build/src/cli/tarvik-cli.exe" ]] || { echo "no Windows build in $windows_build (make windows)" >&2; exit 77; }
e2e_setup "$1"
wine_setup "$windows_build"
e2e_on_exit wine_cleanup

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
CLI_EXE="$WINE_BUILD/src/cli/tarvik-cli.exe"
runs=${RUNS:-3}
"$MKIMAGE" --size 65536 --seed 5 "$E2E_TMP/small.bin" >/dev/null
"$MKIMAGE" --size 1048576 --seed 6 "$E2E_TMP/large.bin" >/dev/null
wine_prefix a ip netns exec "$E2E_NS_A"

e2e_spawn_b device "$TARGET" -i "$E2E_IF_B"
e2e_wait_for_line "$E2E_TMP/device.err" ready
device=QV00000B

# Prints "elapsed_ms frames" of one upgrade by the build named.
upgrade() {
  local build=$1
  shift
  if [[ $build == windows ]]; then
    wine_run a ip netns exec "$E2E_NS_A" -- "$CLI_EXE" -i "$E2E_IF_A" --json "$@" \
      upgrade "$image" "$device" 2>/dev/null | tr -d '\r' >"$E2E_TMP/upgrade.json"
  else
    e2e_in_a "$CLI" -i "$E2E_IF_A" --json "$@" upgrade "$image" "$device" \
      >"$E2E_TMP/upgrade.json" 2>/dev/null
  fi
  echo "$(e2e_json_field ElapsedMs "$E2E_TMP/upgrade.json") $(e2e_json_field FramesSent "$E2E_TMP/upgrade.json")"
}

image="$E2E_TMP/small.bin"
echo "paced, 64 KiB at --pace 20 (the command's elapsed time / (frames sent x 20 ms)):"
for ((run = 1; run <= runs; run++)); do
  for build in linux windows; do
    read -r elapsed frames < <(upgrade $build --pace 20)
    awk -v e="$elapsed" -v f="$frames" 'BEGIN { printf "%.6f\n", e / (f * 20) }' >>"$E2E_TMP/paced.$build"
    printf '  %-8s %d frames in %.3f s, ratio %.4f\n' "$build:" "$frames" "$(awk -v e="$elapsed" 'BEGIN { print e / 1000 }')" \
      "$(tail -1 "$E2E_TMP/paced.$build")"
  done
done
awk 'FNR == 1 { file++ } { sum[file] += $1; n[file]++ } END {
  linux = sum[1] / n[1]; windows = sum[2] / n[2]
  printf "  mean ratio: Linux %.4f, Windows under Wine %.4f; Windows / Linux %.4f\n",
    linux, windows, windows / linux }' "$E2E_TMP/paced.linux" "$E2E_TMP/paced.windows"

image="$E2E_TMP/large.bin"
echo "lockstep, 1 MiB at --pace 0 (time per frame and its reply):"
for build in linux windows; do
  read -r elapsed frames < <(upgrade $build --pace 0)
  awk -v b="$build" -v e="$elapsed" -v f="$frames" 'BEGIN {
    printf "  %-8s %d frames in %.3f s: %.1f us per frame\n", b ":", f, e / 1000, 1000 * e / f }'
  echo "$elapsed $frames" >"$E2E_TMP/lockstep.$build"
done
read -r linux_ms linux_frames <"$E2E_TMP/lockstep.linux"
read -r windows_ms windows_frames <"$E2E_TMP/lockstep.windows"
awk -v l="$linux_ms" -v w="$windows_ms" 'BEGIN { printf "  Windows / Linux %.2f\n", w / l }'

kill -INT "$(cat "$E2E_TMP/device.pid")"
e2e_wait_job "$(cat "$E2E_TMP/device.pid")" 10 >/dev/null || true
e2e_spawn_b silent "$TARGET" -i "$E2E_IF_B" --silent-opcode 0
e2e_wait_for_line "$E2E_TMP/silent.err" ready
# Wine's server serves the program's waits: its CPU counts as the program's.
server_ticks() {
  local pid
  for pid in $(pgrep -f wineserver); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINE_PREFIX_a"; then
      awk '{ print $14 + $15 }' "/proc/$pid/stat"
      return
    fi
  done
  echo 0
}
echo "CPU while waiting under Wine, device query against a silent device (20 tries):"
# The prefix's server runs on for a few seconds after each program: one is running now.
wine_run a ip netns exec "$E2E_NS_A" -- cmd /c exit >/dev/null 2>&1
before=$(server_ticks)
TIMEFORMAT='%R %U %S'
status=0
{ time wine_run a ip netns exec "$E2E_NS_A" -- "$CLI_EXE" -i "$E2E_IF_A" device "$device" \
  >/dev/null 2>&1; } 2>"$E2E_TMP/time.txt" || status=$?
after=$(server_ticks)
read -r wall user sys <"$E2E_TMP/time.txt"
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v server=$(((after - before))) \
  -v hz="$(getconf CLK_TCK)" -v status="$status" 'BEGIN {
  cpu = user + sys + server / hz
  printf "  wall %.2f s, CPU %.3f s (program %.3f, Wine server %.3f): %.2f %% of one core; exit status %d\n",
    wall, cpu, user + sys, server / hz, 100 * cpu / wall, status }'
exit 0
