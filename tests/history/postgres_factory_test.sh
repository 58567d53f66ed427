#!/usr/bin/env bash
# The factory's view of a shared database on a real server (postgres_server.sh): three lab
# stations push as they work (one of bays ends by itself, two run until stopped), a station of
# an earlier release is known only by the records pushed by hand, and the view read by the
# probe says which are live, quiet or offline, and counts and yields what was pushed.
# usage: postgres_factory_test.sh TARVIK_CLI SAMPLE_IMAGE FACTORY_VIEW_PROBE
# Exits 77 (skipped) saying why when no server can be started.
set -euo pipefail

cli="$1"
image="$2"
probe="$3"
source "$(dirname "$0")/postgres_server.sh"
command -v python3 >/dev/null || skip "no python3, to read the view"
psql_as postgres "CREATE DATABASE factory" >/dev/null
url="postgresql:///factory?host=$tmp/pg&user=tarvik"
sql() { psql_as factory "$1"; }
now_ms() { date +%s%3N; }
view() { "$probe" "$url" "$(now_ms)" "$@" >"$tmp/view.json" || fail "the probe failed"; }
# q EXPRESSION: a Python expression over the view (v), as compact JSON.
q() {
  python3 -c 'import json, sys
v = json.load(open(sys.argv[1]))
station = {s["station"]: s for s in v["stations"]}
print(json.dumps(eval(sys.argv[2]), separators=(",", ":")))' "$tmp/view.json" "$1"
}

# An empty database (nothing pushed yet) is an empty view, not an error.
view
[[ $(q '[len(v["stations"]), len(v["failures"]), len(v["worstBays"])]') == "[0,0,0]" ]] ||
  fail "an empty database reads $(cat "$tmp/view.json")"

# lineA: two bays of two lab devices each, ends by itself: its last word says it stopped.
"$cli" --lab --pace 0 station "$image" --lab-bays 2x2 --stop-after 3 --history "$tmp/a.sqlite" \
  --station lineA --push "$url" >/dev/null 2>"$tmp/a.err" || fail "lineA failed: $(cat "$tmp/a.err")"
row=$(sql "SELECT bays, stopped_ms IS NOT NULL, stopped_ms = last_seen_ms, first_seen_ms <= last_seen_ms,
             sha256 = (SELECT max(sha256) FROM tarvik_attempts)
           FROM tarvik_stations WHERE station = 'lineA'")
[[ "$row" == "bay1,bay2|t|t|t|t" ]] || fail "lineA's heartbeat reads $row"
a_attempts=$(sql "SELECT count(*) FROM tarvik_attempts WHERE station = 'lineA'")
((a_attempts > 0)) || fail "lineA pushed no attempt"

# lineB and lineC run until stopped: each says it is alive as soon as it starts.
pids=()
for name in lineB lineC; do
  "$cli" --lab --pace 0 station "$image" --history "$tmp/$name.sqlite" --station "$name" \
    --push "$url" >/dev/null 2>"$tmp/$name.err" &
  pids+=($!)
done
stop_stations() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; }
trap 'stop_stations; cleanup' EXIT
for _ in $(seq 1 200); do
  [[ $(sql "SELECT count(*) FROM tarvik_stations WHERE station IN ('lineB', 'lineC')") == 2 &&
     $(sql "SELECT count(*) FROM tarvik_attempts WHERE station IN ('lineB', 'lineC')") -ge 2 ]] && break
  sleep 0.1
done

# lineOld: a release before heartbeats, known by the records pushed by hand. Its history holds
# one real attempt and three made from it: the same device failing again later, and another
# device that failed first and passed on its second try.
"$cli" --lab --pace 0 --progress plain upgrade "$image" QV1A2B3C --history "$tmp/old.sqlite" \
  --station lineOld 2>/dev/null || fail "lineOld's upgrade failed"
sqlite3 "$tmp/old.sqlite" "INSERT INTO attempts (record_id, start_ms, end_ms, station, operator,
    program_version, interface, device, file_name, file_size, sha256, pace_ms, frames_sent,
    frames_resent, result, exit_status, pushed)
  SELECT record_id || '-' || n.i, start_ms + n.i, end_ms + n.i, station, operator, '0.9',
    interface, n.device, file_name, file_size, sha256, pace_ms, frames_sent, frames_resent,
    n.result, n.status, 0
  FROM attempts, (SELECT 1 AS i, 'QV1A2B3C' AS device, 16 AS status, 'Upgrade Process Error !' AS result
                  UNION ALL SELECT 2, 'QVFAIL01', 16, 'Upgrade Process Error !'
                  UNION ALL SELECT 3, 'QVFAIL01', 0, 'Upgrade Finish') n"
"$cli" history --history "$tmp/old.sqlite" push "$url" >/dev/null || fail "lineOld's push failed"
[[ $(sql "SELECT count(*) FROM tarvik_stations WHERE station = 'lineOld'") == 0 ]] ||
  fail "a push by hand wrote a heartbeat"

view
[[ $(q '[s["station"] for s in v["stations"]]') == '["lineA","lineB","lineC","lineOld"]' ]] ||
  fail "the stations read $(q 'v["stations"]')"
for name in lineB lineC; do
  [[ $(q "[station['$name'][k] for k in ('state', 'heartbeats', 'stoppedMs')]") == '["live",true,null]' ]] ||
    fail "$name reads $(q "station['$name']")"
done
[[ $(q '[station["lineA"][k] for k in ("state", "bays", "attemptsToday")]') == "[\"offline\",\"bay1,bay2\",$a_attempts]" ]] ||
  fail "lineA reads $(q 'station["lineA"]')"
[[ $(q '[station["lineOld"][k] for k in ("state", "heartbeats", "version", "attemptsToday", "passedToday")]') == '["live",false,"0.9",4,2]' ]] ||
  fail "lineOld reads $(q 'station["lineOld"]')"
[[ $(q '[list(y["yield"].values()) for y in v["yieldByStation"] if y["station"] == "lineOld"]') == "[[2,1,0.5]]" ]] ||
  fail "lineOld's yield reads $(q 'v["yieldByStation"]')"
# Every attempt of the lab stations passed the first time; the image is the one all loaded.
total=$(sql "SELECT count(*) FROM tarvik_attempts")
devices=$(sql "SELECT count(DISTINCT (a.station, coalesce(d.bay, ''), a.device)) FROM tarvik_attempts a
               LEFT JOIN tarvik_attempt_details d USING (record_id)")
passed=$((devices - 1))
[[ $(q '[len(v["yieldByImage"])] + [v["yieldByImage"][0]["yield"][k] for k in ("devices", "firstPassed")]') == "[1,$devices,$passed]" ]] ||
  fail "the image's yield reads $(q 'v["yieldByImage"]'), $devices devices"
[[ $(q '[sum(d["yield"]["devices"] for d in v["yieldByDay"]), len(v["yieldByDay"][-1]["day"])]') == "[$devices,10]" ]] ||
  fail "the days read $(q 'v["yieldByDay"]')"
[[ $(q '[[f["exitStatus"], f["result"], f["count"]] for f in v["failures"]]') == '[[16,"Upgrade Process Error !",2]]' ]] ||
  fail "the failures read $(q 'v["failures"]')"
[[ $(q '[[b["station"], b["bay"], b["attempts"], b["failures"], b["yield"]["devices"], b["yield"]["firstPassed"]] for b in v["worstBays"]]') == '[["lineOld","",4,2,2,1]]' ]] ||
  fail "the worst bays read $(q 'v["worstBays"]')"
[[ $(q 'sum(s["attemptsToday"] for s in v["stations"])') == "$total" ]] || fail "today's attempts are not all $total"

# lineC falls silent for ten minutes: quiet; and for two hours: offline.
sql "UPDATE tarvik_stations SET last_seen_ms = last_seen_ms - 600000 WHERE station = 'lineC'" >/dev/null
view
[[ $(q 'station["lineC"]["state"]') == '"quiet"' ]] || fail "lineC silent 10 min reads $(q 'station["lineC"]')"
[[ $(q 'station["lineB"]["state"]') == '"live"' ]] || fail "lineB reads $(q 'station["lineB"]')"
# The same in a browser, through `tarvik-cli panel`: a tile per station with its state in words,
# and a station whose name is markup shown as text. TARVIK_PANEL_SHOTS=DIR keeps a screenshot.
hostile='<img src=x onerror=window.pwned=3>'
sql "INSERT INTO tarvik_stations VALUES ('$hostile', '1.3.2', 'fw.bin', NULL, '', 0, 0, 0)" >/dev/null
status=0
python3_debian=/usr/bin/python3
"$python3_debian" "$(dirname "$0")/../panel/panel_factory_browser.py" "$cli" "$url" \
  '{"states": {"lineA": "offline", "lineB": "live", "lineC": "quiet", "lineOld": "live"},
    "hostile": "'"$hostile"'", "ending": "Upgrade Process Error !"}' \
  ${TARVIK_PANEL_SHOTS:+"$TARVIK_PANEL_SHOTS/panel-factory.png"} || status=$?
[[ $status == 0 || $status == 77 ]] || fail "the factory view in the browser"
[[ $status == 77 ]] && echo "the factory view's browser check skipped (no chromium)" >&2
sql "DELETE FROM tarvik_stations WHERE station = '$hostile'" >/dev/null
sql "UPDATE tarvik_stations SET last_seen_ms = last_seen_ms - 7200000 WHERE station = 'lineC'" >/dev/null
view
[[ $(q 'station["lineC"]["state"]') == '"offline"' ]] || fail "lineC silent 2 h reads $(q 'station["lineC"]')"

# Stopped, both say so on their way out.
stop_stations
for pid in "${pids[@]}"; do
  status=0
  wait "$pid" || status=$?
  [[ $status == 130 ]] || fail "a station stopped by a signal ended with $status"
done
pids=()
view
[[ $(q '[[station[n]["state"], station[n]["stoppedMs"] is not None] for n in ("lineB", "lineC")]') == '[["offline",true],["offline",true]]' ]] ||
  fail "the stopped stations read $(q 'v["stations"]')"
# The attempts of the last days only: a reading of one day from two days ahead counts none.
"$probe" "$url" "$(($(now_ms) + 2 * 86400000))" 1 >"$tmp/view.json" || fail "the probe failed"
[[ $(q '[len(v["yieldByDay"]), len(v["failures"]), len(v["worstBays"])]') == "[0,0,0]" ]] ||
  fail "a reading after the span reads $(cat "$tmp/view.json")"

echo "PASS: four stations live, quiet, offline and stopped; yields, failures and bays of $total attempts"
