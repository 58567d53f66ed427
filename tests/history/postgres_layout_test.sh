#!/usr/bin/env bash
# The shared tables' layout against a real server (postgres_server.sh): a station pushes into
# the first release's table (bringing it to layout 4 with the details and the stations' table
# beside it), into the tables of a station of layout 3 (which still pushes there), into a later
# layout that takes its records (another column order, a column more, details without a column
# of this station's), and is refused in one line with status 25 by a layout that needs a later
# station and by a table that lacks one of its columns. A station of the first release (which
# copies by position) finds the table this one creates in the order it expects, and is refused
# by a later layout rather than filling the wrong columns. A role that may only write rows
# pushes into tables another made.
# usage: postgres_layout_test.sh TARVIK_CLI SAMPLE_IMAGE
set -euo pipefail

cli="$1"
image="$2"
source "$(dirname "$0")/postgres_server.sh"

history="$tmp/history.sqlite"
command -v minisign >/dev/null || skip "no minisign"
minisign -G -W -p "$tmp/k.pub" -s "$tmp/k.sec" >/dev/null
cp "$image" "$tmp/signed.bin"
minisign -S -s "$tmp/k.sec" -m "$tmp/signed.bin" -t "release 7" >/dev/null
"$cli" --lab --pace 0 --progress plain upgrade "$tmp/signed.bin" QV1A2B3C --history "$history" \
  --station line3 --operator alice --key "$tmp/k.pub" 2>/dev/null || fail "the lab upgrade failed"
# What the station's file holds is what the server must hold.
signed=$(sqlite3 "$history" "SELECT signature, signer_key_id, signed_comment FROM attempts")
[[ "$signed" == *"|release 7" ]] || fail "the station's file holds $signed"

database=0
fresh() {
  database=$((database + 1))
  psql_as postgres "CREATE DATABASE layout$database" >/dev/null
  sqlite3 "$history" "UPDATE attempts SET pushed = 0"
}
sql() { psql_as "layout$database" "$1"; }
push() { "$cli" history --history "$history" push "postgresql:///layout$database?host=$tmp/pg&user=tarvik"; }
the_row="SELECT station, operator, device, result, exit_status, pace_ms FROM tarvik_attempts"
expected="line3|alice|QV1A2B3C|Upgrade Finish|0|0"

# What a station of the first release sends: the 18 fields in its table's order, no names.
old_copy() {
  printf 'old-%s\t1\t2\tline9\tbob\t1.0\teth0\tQV000009\t\\N\t\\N\tfw.bin\t\\N\t\\N\t20\t3\t0\tUpgrade Finish\t0\n' "$1" |
    psql -X -q "postgresql:///layout$database?host=$tmp/pg&user=tarvik" \
      -c "COPY tarvik_attempts FROM STDIN"
}

first_table="CREATE TABLE tarvik_attempts (record_id text PRIMARY KEY, start_ms bigint NOT NULL,
  end_ms bigint NOT NULL, station text NOT NULL, operator text NOT NULL,
  program_version text NOT NULL, interface text NOT NULL, device text NOT NULL,
  descriptor_before text, descriptor_after text, file_name text NOT NULL, file_size bigint,
  sha256 text, pace_ms integer NOT NULL, frames_sent bigint NOT NULL,
  frames_resent bigint NOT NULL, result text NOT NULL, exit_status integer NOT NULL)"

# The first release's table, without a layout: taken as layout 1, and said so.
fresh
sql "$first_table"
out=$(push) || fail "a push to the first release's table failed: $out"
[[ $(sql "$the_row") == "$expected" ]] || fail "the first release's table holds $(sql "$the_row")"
[[ $(sql "SELECT version, oldest_writer FROM tarvik_layout") == "4|1" ]] ||
  fail "the first release's table was given layout $(sql "SELECT * FROM tarvik_layout")"
details="SELECT d.signature, d.signer_key_id, d.signed_comment FROM tarvik_attempts a
  JOIN tarvik_attempt_details d USING (record_id)"
[[ $(sql "$details") == "$signed" ]] || fail "the details hold $(sql "$details")"

# A table this station creates takes a first-release station's rows where they belong, and a
# layout-3 station's, which name their columns and know nothing of the stations' table.
fresh
push >/dev/null || fail "a push to an empty database failed"
[[ $(sql "SELECT count(*) FROM pg_indexes WHERE indexname = 'tarvik_attempts_station_start_ms'") == 1 &&
   $(sql "SELECT count(*) FROM tarvik_stations") == 0 ]] ||
  fail "the first push made no index or a heartbeat"
old_copy 1 || fail "the first release's copy into a new table failed"
layout3_copy() {
  local names="record_id, start_ms, end_ms, station, operator, program_version, interface, device,
    descriptor_before, descriptor_after, file_name, file_size, sha256, pace_ms, frames_sent,
    frames_resent, result, exit_status"
  psql -X -q "postgresql:///layout$database?host=$tmp/pg&user=tarvik" \
    -c "BEGIN" \
    -c "INSERT INTO tarvik_attempts ($names) VALUES ('l3-$1', 1, 2, 'line8', 'eve', '3.0', 'eth0',
          'QV000008', NULL, NULL, 'fw.bin', NULL, NULL, 20, 3, 0, 'Upgrade Finish', 0)" \
    -c "INSERT INTO tarvik_attempt_details (record_id, signature, signer_key_id, signed_comment, bay)
          VALUES ('l3-$1', 'not checked', NULL, NULL, 'bay2')" -c "COMMIT"
}
layout3_copy 1 || fail "a layout-3 station's rows did not go into a layout-4 table"
[[ $(sql "SELECT station, bay FROM tarvik_attempts JOIN tarvik_attempt_details USING (record_id) WHERE record_id = 'l3-1'") == "line8|bay2" ]] ||
  fail "a layout-3 row landed as $(sql "SELECT * FROM tarvik_attempt_details WHERE record_id = 'l3-1'")"
[[ $(sql "SELECT station, device, pace_ms, frames_sent FROM tarvik_attempts WHERE record_id = 'old-1'") == "line9|QV000009|20|3" ]] ||
  fail "a first-release row landed as $(sql "SELECT * FROM tarvik_attempts WHERE record_id = 'old-1'")"
# Deleting an attempt deletes its details.
sql "DELETE FROM tarvik_attempts" >/dev/null
[[ $(sql "SELECT count(*) FROM tarvik_attempt_details") == 0 ]] || fail "details outlived their attempt"

# A role that may only write rows pushes into the tables another made.
fresh
push >/dev/null || fail "a push to an empty database failed"
sql "DELETE FROM tarvik_attempts; CREATE ROLE writer LOGIN;
     GRANT SELECT, INSERT ON tarvik_attempts, tarvik_attempt_details, tarvik_layout TO writer;
     REVOKE CREATE ON SCHEMA public FROM PUBLIC" >/dev/null
sqlite3 "$history" "UPDATE attempts SET pushed = 0"
out=$("$cli" history --history "$history" push "postgresql:///layout$database?host=$tmp/pg&user=writer") ||
  fail "a role without CREATE could not push: $out"
[[ $(sql "$details") == "$signed" ]] || fail "the writer's push holds $(sql "$details")"
# A role granted the first table alone is told which privilege it lacks, and keeps its records.
sql "DELETE FROM tarvik_attempts; CREATE ROLE oldgrant LOGIN;
     GRANT SELECT, INSERT ON tarvik_attempts, tarvik_layout TO oldgrant" >/dev/null
sqlite3 "$history" "UPDATE attempts SET pushed = 0"
status=0
"$cli" history --history "$history" push "postgresql:///layout$database?host=$tmp/pg&user=oldgrant" \
  >"$tmp/out" 2>"$tmp/err" || status=$?
[[ $status -eq 25 ]] && grep -q "permission denied for table tarvik_attempt_details" "$tmp/err" ||
  fail "a role without the details' grant: status $status, $(cat "$tmp/err")"
[[ $(sqlite3 "$history" "SELECT count(*) FROM attempts WHERE pushed = 0") == 1 ]] ||
  fail "a refused push marked its record"

# The tables a station of layout 3 made: brought to layout 4 by this one's push, which adds the
# stations' table and the index; the layout-3 station pushes on as before.
fresh
sql "CREATE TABLE tarvik_layout (version integer NOT NULL, oldest_writer integer NOT NULL);
     INSERT INTO tarvik_layout VALUES (3, 1); $first_table;
     CREATE TABLE tarvik_attempt_details (record_id text PRIMARY KEY REFERENCES tarvik_attempts
       (record_id) ON DELETE CASCADE, signature text, signer_key_id text, signed_comment text,
       bay text)" >/dev/null
layout3_copy 2 || fail "a layout-3 station could not push to its own tables"
out=$(push) || fail "a push to layout-3 tables failed: $out"
[[ $(sql "SELECT max(version), max(oldest_writer) FROM tarvik_layout") == "4|1" ]] ||
  fail "layout-3 tables were brought to $(sql "SELECT * FROM tarvik_layout")"
[[ $(sql "SELECT count(*) FROM pg_indexes WHERE indexname = 'tarvik_attempts_station_start_ms'") == 1 ]] ||
  fail "the layout-3 tables got no index"
sql "SELECT count(*) FROM tarvik_stations" >/dev/null || fail "the layout-3 tables got no stations' table"
layout3_copy 3 || fail "a layout-3 station could not push after the layout went to 4"
[[ $(sql "SELECT count(*) FROM tarvik_attempts") == 3 ]] || fail "the layout-3 tables hold $(sql "SELECT record_id FROM tarvik_attempts")"

# A later layout that still takes this station's records: another order, a column more.
fresh
sql "CREATE TABLE tarvik_layout (version integer NOT NULL, oldest_writer integer NOT NULL);
     INSERT INTO tarvik_layout VALUES (5, 1);
     CREATE TABLE tarvik_attempts (record_id text PRIMARY KEY, bay text, exit_status integer NOT NULL,
       result text NOT NULL, device text NOT NULL, station text NOT NULL, operator text NOT NULL,
       start_ms bigint NOT NULL, end_ms bigint NOT NULL, program_version text NOT NULL,
       interface text NOT NULL, descriptor_before text, descriptor_after text,
       file_name text NOT NULL, file_size bigint, sha256 text, pace_ms integer NOT NULL,
       frames_sent bigint NOT NULL, frames_resent bigint NOT NULL);
     CREATE TABLE tarvik_attempt_details (record_id text PRIMARY KEY, bay text, signature text)"
out=$(push) || fail "a push to a later layout that takes it failed: $out"
[[ "$out" == "pushed 1 record(s); 0 remain queued" ]] || fail "the later layout: $out"
[[ $(sql "$the_row") == "$expected" ]] || fail "the later layout holds $(sql "$the_row")"
[[ $(sql "SELECT bay IS NULL FROM tarvik_attempts") == "t" ]] || fail "the column it lacks is not null"
[[ $(sql "$details") == "$signed" ]] || fail "the later layout's details hold $(sql "$details")"
[[ $(sql "SELECT max(version) FROM tarvik_layout") == 5 ]] ||
  fail "a later layout was brought back"

# A later layout that needs a later station, and a table without a column this one fills: one
# line each, status 25, nothing sent, the record still queued.
refused() {
  local says="$1" status=0
  push >"$tmp/out" 2>"$tmp/err" || status=$?
  [[ $status -eq 25 ]] || fail "a push that should be refused ended with $status: $(cat "$tmp/out" "$tmp/err")"
  [[ $(wc -l <"$tmp/err") -eq 1 ]] && grep -q "$says" "$tmp/err" ||
    fail "the refusal reads: $(cat "$tmp/err")"
  [[ $(sql "SELECT count(*) FROM tarvik_attempts") == 0 ]] || fail "a refused push sent rows"
  [[ $(sqlite3 "$history" "SELECT count(*) FROM attempts WHERE pushed = 0") == 1 ]] ||
    fail "a refused push marked its record"
}
fresh
sql "CREATE TABLE tarvik_layout (version integer NOT NULL, oldest_writer integer NOT NULL);
     INSERT INTO tarvik_layout VALUES (5, 5);
     $first_table; ALTER TABLE tarvik_attempts ADD COLUMN bay text NOT NULL"
refused "layout 5, which takes records from stations of layout 5 on; this station writes layout 4"
# The first release's station copies by position into that layout: refused by the server, not
# written into the wrong columns.
if old_copy 2 2>/dev/null; then
  fail "a first-release copy went into a later layout: $(sql "SELECT * FROM tarvik_attempts")"
fi

fresh
sql "${first_table/descriptor_after text,/}"
refused "has no column descriptor_after"

echo "PASS: the first release's table, layout 3's, a later layout that takes the records, a writer role, two refusals"
