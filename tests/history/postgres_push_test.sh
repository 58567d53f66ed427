#!/usr/bin/env bash
# history push against a PostgreSQL server of the test's own (postgres_server.sh). Pushes,
# pushes again (nothing stored twice), stops the server in the middle of a push (the rest stays
# queued; the next push completes), and reads the table back with psql.
# usage: postgres_push_test.sh TARVIK_CLI SAMPLE_IMAGE
# Exits 77 (skipped) saying why when no server can be started.
set -euo pipefail

cli="$1"
image="$2"
source "$(dirname "$0")/postgres_server.sh"
psql_as postgres "CREATE DATABASE line" >/dev/null
url="postgresql:///line?host=$tmp/pg&user=tarvik"
sql() { psql_as line "$1"; }

history="$tmp/history.sqlite"
push() { "$cli" history --history "$history" push "$url" "$@"; }

# One real attempt on the lab, then many more made from it.
"$cli" --lab --pace 0 --progress plain upgrade "$image" QV1A2B3C --read-back --history "$history" \
  --station line3 --operator alice 2>/dev/null || fail "the lab upgrade failed"
more() { more_records "$history" "$@"; }
more 20000 a
total=20001

out=$(push) || fail "the first push failed: $out"
[[ "$out" == "pushed $total record(s); 0 remain queued" ]] || fail "first push said: $out"
[[ $(sql "SELECT count(*) FROM tarvik_attempts") == "$total" ]] || fail "not every record arrived"
[[ $(sql "SELECT count(DISTINCT file_name) || '|' || count(DISTINCT station) FROM tarvik_attempts") == "1|1" ]] ||
  fail "records arrived with their fields in other columns"

# Again: nothing left to push; and records the history forgot it had pushed are not stored twice.
out=$(push)
[[ "$out" == "pushed 0 record(s); 0 remain queued" ]] || fail "the second push said: $out"
sqlite3 "$history" "UPDATE attempts SET pushed = 0 WHERE rowid % 2 = 0"
push >/dev/null || fail "the push of records already on the server failed"
[[ $(sql "SELECT count(*) FROM tarvik_attempts") == "$total" ]] || fail "a record was stored twice"

# The server stops in the middle of a push: what it committed is marked, the rest stays queued.
more 200000 b
total=$((total + 200000))
push --batch 500 >"$tmp/push.out" 2>"$tmp/push.err" &
pusher=$!
for _ in $(seq 1 300); do
  [[ $(sql "SELECT count(*) FROM tarvik_attempts" 2>/dev/null || echo 0) -gt 20001 ]] && break
  sleep 0.05
done
server -m immediate stop
status=0
wait "$pusher" || status=$?
[[ $status -eq 25 ]] || fail "a push cut short ended with $status: $(cat "$tmp/push.out" "$tmp/push.err")"
remaining=$(sed -n 's/.*; \([0-9]*\) remain queued/\1/p' "$tmp/push.out")
queued=$(sqlite3 "$history" "SELECT count(*) FROM attempts WHERE pushed = 0")
[[ "$remaining" -gt 0 && "$remaining" == "$queued" ]] ||
  fail "the push said $remaining remain, the history holds $queued"
grep -q "history push:" "$tmp/push.err" || fail "no reason given: $(cat "$tmp/push.err")"

# A server that is down: nothing moves, the status says so.
status=0
push >/dev/null 2>&1 || status=$?
[[ $status -eq 25 ]] || fail "a push to a stopped server ended with $status"
[[ $(sqlite3 "$history" "SELECT count(*) FROM attempts WHERE pushed = 0") == "$queued" ]] ||
  fail "a failed push marked records"

server -w -o "$options" start
out=$(push) || fail "the push after the restart failed: $out"
[[ "$out" == "pushed $queued record(s); 0 remain queued" ]] || fail "after the restart: $out"
[[ $(sql "SELECT count(*), count(DISTINCT record_id) FROM tarvik_attempts") == "$total|$total" ]] ||
  fail "the table holds $(sql "SELECT count(*) FROM tarvik_attempts") records, not $total"
row=$(sql "SELECT station, operator, device, result, exit_status, frames_sent > 0,
             descriptor_after IS NOT NULL FROM tarvik_attempts WHERE record_id NOT LIKE '%-%-%-%-%-%'")
[[ "$row" == "line3|alice|QV1A2B3C|Upgrade Finish|0|t|t" ]] || fail "the lab's record reads $row"
# A station pushes in the background as its attempts end: by the time it stops, its two lab
# devices are on the server and its history holds nothing queued.
station_history="$tmp/station.sqlite"
"$cli" --lab --pace 0 station "$image" --stop-after 4 --history "$station_history" \
  --station line4 --push "$url" >"$tmp/station.out" 2>"$tmp/station.err" ||
  fail "the station failed: $(cat "$tmp/station.err")"
[[ $(sql "SELECT count(*) FROM tarvik_attempts WHERE station = 'line4'") == 2 ]] ||
  fail "the station's attempts did not reach the server: $(cat "$tmp/station.err")"
out=$("$cli" history --history "$station_history" push "$url") || fail "push after the station: $out"
[[ "$out" == "pushed 0 record(s); 0 remain queued" ]] || fail "after the station: $out"

echo "PASS: $total records pushed once each, a push cut short resumed; a station pushed as it went"
