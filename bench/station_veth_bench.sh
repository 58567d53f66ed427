#!/usr/bin/env bash
# A production station over a veth pair in real time. Prints figures only; none is asserted.
#   DEVICES (default 16) tarvik-targets are started one every 0.5 s while one
#   `tarvik-cli station --events` runs (64 KiB image, the default pace, --jobs DEVICES,
#   probe interval INTERVAL seconds, default 2).
#     pickup ratio  = for each device, the time from its first probe answer (its "discovered"
#                     event) to its first block written (its first "write" progress)
#                     / the probe interval                                   (target <= 1.1)
#     and, for the record, from the target's start to its first block written / the interval
#     wall ratio    = the station's time from its start to the last "finished"
#                     / (the last device's arrival + one device's upgrade alone, measured in
#                     the same run)                                           (target <= 1.05)
# usage: [DEVICES=N] [INTERVAL=S] bash bench/station_veth_bench.sh BUILD_DIR  (root; 77 without)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
devices=${DEVICES:-16}
interval=${INTERVAL:-2}

image="$E2E_TMP/image64k.bin"
"$MKIMAGE" --size 65536 --code-segment 2340 --seed 5 "$image" >/dev/null
now() { date +%s.%N; }
mac() { printf '02:5a:17:00:03:%02x' "$1"; }
name() { printf 'QV0003%02X' "$1"; }

# One device alone, upgraded by one command: the upgrade time the station is measured against.
e2e_spawn_b alone "$TARGET" -i "$E2E_IF_B" --mac 02:5a:17:00:04:01 --board 001122334455
e2e_wait_for_line "$E2E_TMP/alone.err" "ready"
start=$(now)
e2e_in_a "$CLI" -i "$E2E_IF_A" --progress plain upgrade "$image" QV000401 >/dev/null 2>&1 ||
  e2e_fail "the lone upgrade failed"
alone=$(echo "$(now) - $start" | bc -l)
kill -INT "$(cat "$E2E_TMP/alone.pid")"

events="$E2E_TMP/station.out"
e2e_spawn_a station "$CLI" -i "$E2E_IF_A" station "$image" --events --jobs "$devices" \
  --probe-interval "$interval"
station=$E2E_PID
station_start=$(now)
declare -A started_at
for ((i = 1; i <= devices; i++)); do
  started_at[$(name "$i")]=$(now)
  e2e_spawn_b "target$i" "$TARGET" -i "$E2E_IF_B" --mac "$(mac "$i")" --board 001122334455
  sleep 0.5
done
for ((t = 0; t < 1200; t++)); do
  (( $(grep -c '"event":"finished"' "$events" || true) >= devices )) && break
  sleep 0.1
done
kill -INT "$station"
e2e_wait_job "$station" 30 >/dev/null || true
(( $(grep -c '"result":"Upgrade Finish"' "$events" || true) == devices )) ||
  e2e_fail "not every device finished: $(grep -c '"event":"finished"' "$events" || true) of $devices"

# Times from the events (UTC, ISO 8601) as seconds since the epoch.
epoch() { date -d "$1" +%s.%N; }
event_time() {  # KIND DEVICE [EXTRA PATTERN]: the first such event's time
  grep "\"device\":\"$2\",\"event\":\"$1\"${3:-}" "$events" | head -n 1 |
    sed -E 's/.*"time":"([^"]*)".*/\1/'
}
worst_pickup=0 worst_start=0 last_arrival=0 last_finish=0
for ((i = 1; i <= devices; i++)); do
  device=$(name "$i")
  discovered=$(epoch "$(event_time discovered "$device")")
  first_write=$(epoch "$(event_time progress "$device" ',"phase":"write"')")
  finished=$(epoch "$(event_time finished "$device")")
  pickup=$(echo "($first_write - $discovered) / $interval" | bc -l)
  from_start=$(echo "($first_write - ${started_at[$device]}) / $interval" | bc -l)
  (( $(echo "$pickup > $worst_pickup" | bc -l) )) && worst_pickup=$pickup
  (( $(echo "$from_start > $worst_start" | bc -l) )) && worst_start=$from_start
  (( $(echo "$discovered > $last_arrival" | bc -l) )) && last_arrival=$discovered
  (( $(echo "$finished > $last_finish" | bc -l) )) && last_finish=$finished
done
wall=$(echo "$last_finish - $station_start" | bc -l)
floor=$(echo "$last_arrival - $station_start + $alone" | bc -l)
printf 'devices %d, one every 0.5 s, probe interval %s s, 64 KiB at pace 20\n' "$devices" "$interval"
printf 'one device alone: %.2f s\n' "$alone"
printf 'pickup ratio (first answer -> first write) / interval, worst: %.3f   (target <= 1.1)\n' "$worst_pickup"
printf '(target start -> first write) / interval, worst: %.3f\n' "$worst_start"
printf 'wall ratio %.2f s / (last arrival %.2f s + %.2f s) = %.3f   (target <= 1.05)\n' \
  "$wall" "$(echo "$last_arrival - $station_start" | bc -l)" "$alone" "$(echo "$wall / $floor" | bc -l)"
e2e_pass "station benchmark"
