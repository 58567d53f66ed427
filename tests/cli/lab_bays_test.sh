#!/usr/bin/env bash
# A station of several bays on the lab (one lab segment per bay, the same device addresses in
# every bay): each device of each bay flashed once, the events, the history and the summary
# naming the bay, history stats --by bay, a trace per bay, the counts per bay, and the bays a
# file gives refused in one line when it is wrong; then upgrade --all over bays.
#   bash lab_bays_test.sh TARVIK_CLI SAMPLE_IMAGE
set -uo pipefail
cli="$1"
sample="$2"
tmp=$(mktemp -d /tmp/tarvik-bays.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

"$cli" --lab --pace 0 --progress plain --trace run.pcap station "$sample" --lab-bays 4x3 \
  --jobs 6 --stop-after 3 --history h.sqlite --events --counts-by-bay >events.txt 2>err.txt
status=$?
[[ $status -eq 0 ]] || fail "the station ended with $status: $(tail -3 err.txt)"

# Each (bay, device) finished once, and only those.
finished=$(grep '"event":"finished"' events.txt | sed 's/.*"device":"\([^"]*\)","bay":"\([^"]*\)".*/\2 \1/' | sort)
expected=$(for bay in 1 2 3 4; do for device in 1 2 3; do echo "bay$bay QVB0000$device"; done; done | sort)
[[ "$finished" == "$expected" ]] || fail "finished events: $finished"
grep '"event":"finished"' events.txt | grep -qv '"result":"Upgrade Finish"' && fail "a device failed"
[[ $(sqlite3 h.sqlite "SELECT count(DISTINCT bay || device), count(*) FROM attempts") == "12|12" ]] ||
  fail "the history holds $(sqlite3 h.sqlite "SELECT bay, device FROM attempts")"

# The closing counts, per bay too.
for bay in 1 2 3 4; do
  grep -q "^bay$bay: passed 3, failed 0, skipped 0, in progress 0" events.txt err.txt ||
    fail "no counts for bay$bay: $(tail -6 err.txt)"
done

# stats --by bay: a line per bay, each 3 devices at 100 %; without it, 12 devices.
stats=$("$cli" history --history h.sqlite stats --by bay)
[[ $(grep -c "100.0 % of 3" <<<"$stats") -eq 4 ]] || fail "stats --by bay: $stats"
"$cli" history --history h.sqlite stats | grep -q "100.0 % of 12" ||
  fail "stats: $("$cli" history --history h.sqlite stats)"

# A trace per bay, each with its own bay's frames.
for bay in 1 2 3 4; do
  [[ -s run-bay$bay.pcap ]] || fail "no trace for bay$bay"
done

# Bays files that are wrong: one line, status 2, nothing opened.
printf 'a eth0\nb eth0 5000\n' >bad.bays
"$cli" station "$sample" --bays bad.bays >out 2>err
[[ $? -eq 2 && $(wc -l <err) -eq 1 ]] && grep -q "line 2: VLAN 5000 is not 1 to 4094" err ||
  fail "a bad bays file: $(cat err)"
printf 'a eth0\na eth1\n' >twice.bays
"$cli" station "$sample" --bays twice.bays >out 2>err
[[ $? -eq 2 ]] && grep -q "the bay a is named twice" err || fail "a bay named twice: $(cat err)"
"$cli" --lab station "$sample" --bay a=lab0 >out 2>err
[[ $? -eq 2 ]] || fail "--bay on the lab was taken"

# upgrade --all over 3 bays of 2: each (bay, device) found and upgraded once, the JSON naming
# the bay; the bays need --all, and without bays --jobs stays within one interface's 64.
"$cli" --lab --pace 0 --json upgrade "$sample" --all --lab-bays 3x2 --jobs 4 >all.json 2>err.txt
status=$?
[[ $status -eq 0 ]] || fail "upgrade --all over bays ended with $status: $(tail -3 err.txt)"
upgraded=$(sed 's/.*"DeviceName":"\([^"]*\)".*"result":"\([^"]*\)".*"Bay":"\([^"]*\)".*/\3 \1 \2/' all.json | sort)
expected=$(for bay in 1 2 3; do for device in 1 2; do echo "bay$bay QVB0000$device Upgrade Finish"; done; done)
[[ "$upgraded" == "$expected" ]] || fail "upgrade --all over bays: $upgraded"
"$cli" --lab upgrade "$sample" QV1A2B3C --lab-bays 2x1 >out 2>err
[[ $? -eq 2 ]] || fail "bays without --all were taken"
"$cli" --lab upgrade "$sample" --all --jobs 65 >out 2>err
[[ $? -eq 2 ]] && grep -q "at most 64 on one interface" err || fail "--jobs 65 without bays: $(cat err)"

[[ $failed -eq 0 ]] && echo "PASS: 4 bays of 3 devices with the same addresses, each flashed once; upgrade --all over bays"
exit $failed
