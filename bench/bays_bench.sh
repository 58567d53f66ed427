#!/usr/bin/env bash
# A station of many bays on the lab, in real time: 256 devices in 64 bays of 4 (the same
# addresses in every bay), the 64 KiB sample at pace 20, every device in flight at once. Prints
# the station's wall time from the first start to the last end against one device's upgrade
# alone, its CPU per device upgraded against that lone upgrade's CPU, and its peak memory (the
# lab's devices included). Asserts nothing.
#   bash bench/bays_bench.sh <build dir>
set -uo pipefail
build="$(cd "${1:-build}" && pwd)"
cli="$build/src/cli/tarvik-cli"
sample="$build/lab/sample.bin"
tmp=$(mktemp -d /tmp/tarvik-baysbench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state"

# measure OUT -- COMMAND...: runs it under GNU time; OUT gets "wall user sys maxrss_kb".
measure() {
  local out=$1
  shift 2
  /usr/bin/time -f "%e %U %S %M" -o "$out" "$@" >"$tmp/stdout" 2>"$tmp/stderr" ||
    { echo "bays bench: $* failed: $(tail -n 2 "$tmp/stderr")" >&2; exit 1; }
}
ms_between() { # first and last event times of the events file, in ms
  python3 - "$1" <<'PY'
import json, sys, datetime
times = []
for line in open(sys.argv[1]):
    event = json.loads(line)
    if event["event"] in ("started", "finished"):
        times.append(datetime.datetime.fromisoformat(event["time"].replace("Z", "+00:00")))
print(int((max(times) - min(times)).total_seconds() * 1000))
PY
}

measure "$tmp/one" -- "$cli" --lab --progress plain station "$sample" --lab-bays 1x1 --stop-after 1 \
  --history none --events
cp "$tmp/stdout" "$tmp/one.events"
measure "$tmp/many" -- "$cli" --lab --progress plain station "$sample" --lab-bays 64x4 --jobs 256 \
  --stop-after 1 --history none --events
cp "$tmp/stdout" "$tmp/many.events"

passed=$(grep -c '"result":"Upgrade Finish"' "$tmp/many.events")
one_ms=$(ms_between "$tmp/one.events")
many_ms=$(ms_between "$tmp/many.events")
read -r _ one_user one_sys _ <"$tmp/one"
read -r _ many_user many_sys many_kb <"$tmp/many"
awk -v one="$one_ms" -v many="$many_ms" -v passed="$passed" -v ou="$one_user" -v os="$one_sys" \
    -v mu="$many_user" -v ms="$many_sys" -v kb="$many_kb" 'BEGIN {
  printf "256 devices in 64 bays: %d passed; first start to last end %d ms, one device alone %d ms\n", passed, many, one
  printf "wall / one device: %.2f (target <= 1.1)\n", many / one
  printf "CPU per device / a lone upgrade: %.2f (%.3f s of %.3f s; target <= 1.0)\n", ((mu + ms) / 256) / (ou + os), (mu + ms) / 256, ou + os
  printf "peak memory: %.0f MB, the lab'"'"'s 256 devices included (target <= 64 MB)\n", kb / 1024
}'
