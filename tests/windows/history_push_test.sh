#!/usr/bin/env bash
# The Windows tarvik-cli's history pushed to a PostgreSQL server of the test's own over TLS
# (sslmode=verify-full against the test's CA), under Wine: a push, a second push with nothing
# stored twice, a server stopped in the middle of a push (the rest stays queued, status 25, the
# next push completes), a wrong CA refused in one line with nothing marked pushed, a password
# taken from %APPDATA%\postgresql\pgpass.conf, and a
# Linux and a Windows station pushing their lab attempts to the same server as they go: every
# record once, the same columns filled the same way.
#   bash history_push_test.sh <linux build> <windows build>
# Exits 77 (skipped) where no server can be started or the build has no history.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine.sh"
linux_build="$(cd "$1" && pwd)"
wine_setup "$2"
grep -q '^TARVIK_HISTORY:BOOL=ON' "$WINE_BUILD/CMakeCache.txt" 2>/dev/null ||
  grep -q '^TARVIK_WINDOWS_DEPS:PATH=.' "$WINE_BUILD/CMakeCache.txt" ||
  { echo "SKIP: this Windows build keeps no history" >&2; exit 77; }

pg_tls=1
source "$here/../history/postgres_server.sh"
trap 'wine_cleanup; cleanup' EXIT
wine_prefix push

image="$linux_build/lab/sample.bin"
linux_cli="$linux_build/src/cli/tarvik-cli"
windows_cli="$WINE_BUILD/src/cli/tarvik-cli.exe"
wcli() { wine_run push -- "$windows_cli" "$@"; }

psql_as postgres "CREATE DATABASE line" >/dev/null
url="postgresql://tarvik@127.0.0.1:$port/line?sslmode=verify-full&sslrootcert=$tmp/ca.crt"
sql() { psql_as line "$1"; }
history="$tmp/windows.sqlite"
push() { wcli history --history "$history" push "$url" "$@" | tr -d '\r'; }
queued() { sqlite3 "$history" "SELECT count(*) FROM attempts WHERE pushed = 0"; }

# One real attempt on the lab by the Windows program, then many more made from it.
wcli --lab --pace 0 --progress plain upgrade "$image" QV1A2B3C --history "$history" \
  --station win1 --operator bob >/dev/null 2>&1 || fail "the Windows lab upgrade failed"
more() { more_records "$history" "$@"; }
more 5000 a
total=5001

# A CA that did not sign the server's certificate: refused before a row is sent, in one line.
status=0
wcli history --history "$history" push \
  "postgresql://tarvik@127.0.0.1:$port/line?sslmode=verify-full&sslrootcert=$tmp/other-ca.crt" \
  >"$tmp/wrong.out" 2>"$tmp/wrong.err" || status=$?
[[ $status -eq 25 ]] || fail "a push to a server the CA did not sign ended with $status"
[[ $(tr -d '\r' <"$tmp/wrong.err" | grep -c .) -eq 1 ]] &&
  grep -q "certificate verify failed" "$tmp/wrong.err" ||
  fail "the wrong CA said: $(cat "$tmp/wrong.err")"
[[ $(queued) == "$total" ]] || fail "a refused push marked records"

out=$(push) || fail "the first push failed: $out"
[[ "$out" == "pushed $total record(s); 0 remain queued" ]] || fail "first push said: $out"
[[ $(sql "SELECT count(*) FROM tarvik_attempts") == "$total" ]] || fail "not every record arrived"
[[ $(sql "SELECT count(*) FROM pg_stat_ssl WHERE ssl") -ge 1 ]] || true
out=$(push)
[[ "$out" == "pushed 0 record(s); 0 remain queued" ]] || fail "the second push said: $out"
sqlite3 "$history" "UPDATE attempts SET pushed = 0 WHERE rowid % 2 = 0"
push >/dev/null || fail "the push of records already on the server failed"
[[ $(sql "SELECT count(*) FROM tarvik_attempts") == "$total" ]] || fail "a record was stored twice"

# The server stops in the middle of a push: what it committed is marked, the rest stays queued.
more 60000 b
total=$((total + 60000))
push --batch 500 >"$tmp/push.out" 2>"$tmp/push.err" &
pusher=$!
for _ in $(seq 1 600); do
  [[ $(sql "SELECT count(*) FROM tarvik_attempts" 2>/dev/null || echo 0) -gt 5001 ]] && break
  sleep 0.05
done
server -m immediate stop
status=0
wait "$pusher" || status=$?
[[ $status -eq 25 ]] || fail "a push cut short ended with $status: $(cat "$tmp/push.out" "$tmp/push.err")"
remaining=$(sed -n 's/.*; \([0-9]*\) remain queued/\1/p' "$tmp/push.out")
[[ "$remaining" -gt 0 && "$remaining" == "$(queued)" ]] ||
  fail "the push said $remaining remain, the history holds $(queued)"
server -w -o "$options" start
out=$(push) || fail "the push after the restart failed: $out"
[[ "$out" == "pushed $remaining record(s); 0 remain queued" ]] || fail "after the restart: $out"
[[ $(sql "SELECT count(*), count(DISTINCT record_id) FROM tarvik_attempts") == "$total|$total" ]] ||
  fail "the table holds $(sql "SELECT count(*) FROM tarvik_attempts") records, not $total"

# A station's credentials as libpq finds them on Windows: a role whose password the server
# asks for is refused without it, and logs in with the line of %APPDATA%\postgresql\pgpass.conf.
psql_as postgres "CREATE ROLE line5 LOGIN PASSWORD 'pw-of-line5'" >/dev/null
sql "GRANT ALL ON tarvik_attempts, tarvik_attempt_details, tarvik_layout TO line5; GRANT CREATE ON SCHEMA public TO line5" >/dev/null
hba="$tmp/pg/data/pg_hba.conf"
{ echo "hostssl all line5 127.0.0.1/32 scram-sha-256"; cat "$hba"; } >"$hba.new"
cat "$hba.new" >"$hba"
server reload
sleep 1
wcli --lab --pace 0 --progress plain upgrade "$image" QV1A2B3C --history "$tmp/line5.sqlite" \
  --station line5 >/dev/null 2>&1 || fail "the upgrade for line5 failed"
line5_url="postgresql://line5@127.0.0.1:$port/line?sslmode=verify-full&sslrootcert=$tmp/ca.crt"
status=0
wcli history --history "$tmp/line5.sqlite" push "$line5_url" >/dev/null 2>"$tmp/line5.err" ||
  status=$?
[[ $status -eq 25 ]] || fail "a push without the password ended with $status"
appdata="$(wine_run push -- cmd /c echo %APPDATA% | tr -d '\r')"
appdata="$(WINEPREFIX="$WINE_PREFIX_push" winepath -u "$appdata" 2>/dev/null)"
[[ -d "$appdata" ]] || fail "no %APPDATA% folder in the Wine prefix ($appdata)"
mkdir -p "$appdata/postgresql"
printf '127.0.0.1:%s:line:line5:pw-of-line5\r\n' "$port" >"$appdata/postgresql/pgpass.conf"
out=$(wcli history --history "$tmp/line5.sqlite" push "$line5_url" | tr -d '\r') ||
  fail "the push with pgpass.conf failed: $out"
[[ "$out" == "pushed 1 record(s); 0 remain queued" ]] || fail "with pgpass.conf: $out"
[[ $(sql "SELECT count(*) FROM tarvik_attempts WHERE station = 'line5'") == 1 ]] ||
  fail "line5's record is not on the server"

# A Linux and a Windows station on their labs, pushing as they go: each one's attempts are on
# the server when it stops, once each, with the same columns filled alike.
"$linux_cli" --lab --pace 0 station "$image" --stop-after 4 --history "$tmp/linux-station.sqlite" \
  --station lin2 --operator carol --push "$url" >"$tmp/lin.out" 2>"$tmp/lin.err" ||
  fail "the Linux station failed: $(cat "$tmp/lin.err")"
wcli --lab --pace 0 station "$image" --stop-after 4 --history "$tmp/windows-station.sqlite" \
  --station win2 --operator carol --push "$url" >"$tmp/win.out" 2>"$tmp/win.err" ||
  fail "the Windows station failed: $(cat "$tmp/win.err")"
for station in lin2 win2; do
  [[ $(sql "SELECT count(*), count(DISTINCT record_id) FROM tarvik_attempts WHERE station = '$station'") == "2|2" ]] ||
    fail "station $station's attempts on the server: $(sql "SELECT count(*) FROM tarvik_attempts WHERE station = '$station'")"
done
shape="SELECT device, operator, program_version, descriptor_before IS NOT NULL,
    descriptor_after IS NULL, file_size, sha256, pace_ms, frames_sent > 0, result, exit_status,
    start_ms <= end_ms, length(record_id) FROM tarvik_attempts WHERE station = '%s' ORDER BY device"
linux_rows=$(sql "$(printf "$shape" lin2)")
windows_rows=$(sql "$(printf "$shape" win2)")
[[ -n "$linux_rows" && "$linux_rows" == "$windows_rows" ]] ||
  fail "the stations' rows differ:"$'\n'"$linux_rows"$'\n'"$windows_rows"
for file in "$tmp/linux-station.sqlite" "$tmp/windows-station.sqlite"; do
  [[ $(sqlite3 "$file" "SELECT count(*) FROM attempts WHERE pushed = 0") == 0 ]] ||
    fail "$file still holds queued records"
done

echo "PASS: $total records pushed over TLS once each, a push cut short resumed, a wrong CA refused, pgpass.conf read; a Linux and a Windows station pushed alike"
