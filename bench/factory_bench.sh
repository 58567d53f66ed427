#!/usr/bin/env bash
# The factory view's reading over a large shared database: 20 stations of 4 bays and ATTEMPTS
# attempts (default 1,000,000) over the last 60 days (some 830 a station a day), made on the
# server in bulk, then the probe's reading of the last 7 days timed (the median of 5 runs,
# connection and process start included) against its target, and of all 60 days for scale.
# Prints figures only; none is asserted.
# usage: [ATTEMPTS=N] bash bench/factory_bench.sh BUILD_DIR
# Needs Debian's postgresql package; without it the benchmark says so and is skipped (77).
set -euo pipefail

build="$1"
attempts=${ATTEMPTS:-1000000}
cli="$build/src/cli/tarvik-cli"
probe="$build/tests/history/tarvik_factory_view_probe"
[[ -x "$cli" && -x "$probe" ]] ||
  { echo "factory bench: build tarvik-cli and tarvik_factory_view_probe" >&2; exit 77; }
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
[[ -n "$bin" && -x "$bin/initdb" ]] ||
  { echo "factory bench: no PostgreSQL server here (Debian's postgresql package)"; exit 77; }
tmp=$(mktemp -d /tmp/tarvik-factory-bench.XXXXXX)
chmod 755 "$tmp"
mkdir "$tmp/pg"
as=()
if [[ $(id -u) -eq 0 ]]; then
  chown nobody "$tmp/pg"
  as=(runuser -u nobody --)
fi
stop_server=
cleanup() { [[ -n "$stop_server" ]] && $stop_server >/dev/null 2>&1; rm -rf "$tmp"; }
trap cleanup EXIT
"${as[@]}" "$bin/initdb" -D "$tmp/pg/data" -U tarvik -A trust --no-sync >/dev/null 2>&1
"${as[@]}" "$bin/pg_ctl" -D "$tmp/pg/data" -l "$tmp/pg/log" -w \
  -o "-k $tmp/pg -c listen_addresses='' -c fsync=off" start >/dev/null
stop_server="${as[*]} $bin/pg_ctl -D $tmp/pg/data -m immediate stop"
psql -X -q "postgresql:///postgres?host=$tmp/pg&user=tarvik" -c "CREATE DATABASE factory"
url="postgresql:///factory?host=$tmp/pg&user=tarvik"
sql() { psql -X -q -t -A "$url" -c "$1"; }

# The tables as a station makes them (the index included), from one lab attempt's push.
"$cli" --lab --pace 0 --progress plain upgrade "$build/lab/sample.bin" QV1A2B3C \
  --history "$tmp/history.sqlite" --station line0 >/dev/null 2>&1
"$cli" history --history "$tmp/history.sqlite" push "$url" >/dev/null

# Attempt i: station i % 20, one every 30 days / ATTEMPTS back from now; a device every 1.2
# attempts of its station (its retries follow it), in one of 4 bays; one in ten fails (two
# causes); three images, one after the other.
now=$(date +%s%3N)
span=$((60 * 86400000))
start=$(date +%s.%N)
sql "INSERT INTO tarvik_attempts (record_id, start_ms, end_ms, station, operator, program_version,
       interface, device, descriptor_before, descriptor_after, file_name, file_size, sha256,
       pace_ms, frames_sent, frames_resent, result, exit_status)
     SELECT 'bench-' || i, t, t + 9000, 'line' || (i % 20), 'operator', '1.4.0', 'eth0',
       'QV' || lpad(to_hex(i % 20 * 1000000 + (i / 20) * 5 / 6), 8, '0'),
       '{\"DeviceName\":\"QV000000\",\"HardwareType\":\"A1\",\"FirmwareVersion\":\"1.0\"}',
       '{\"DeviceName\":\"QV000000\",\"HardwareType\":\"A1\",\"FirmwareVersion\":\"1.1\"}',
       'fw-' || (i * 3 / ($attempts + 1)) || '.bin', 65536, repeat(md5('image' || (i * 3 / ($attempts + 1))), 2),
       0, 70, 0,
       CASE f WHEN 0 THEN 'Upgrade Process Error !' WHEN 1 THEN 'Communication Fail'
         ELSE 'Upgrade Finish' END,
       CASE f WHEN 0 THEN 16 WHEN 1 THEN 12 ELSE 0 END
     FROM (SELECT i, $now - (i * $span / $attempts) AS t, abs(hashint8(i)) % 20 AS f
           FROM generate_series(1::bigint, $attempts) AS i) n"
sql "INSERT INTO tarvik_attempt_details (record_id, signature, bay)
     SELECT record_id, 'not checked', 'bay' || (('x' || right(device, 4))::bit(16)::int % 4 + 1)
     FROM tarvik_attempts WHERE record_id LIKE 'bench-%'"
sql "INSERT INTO tarvik_stations SELECT 'line' || s, '1.4.0', 'fw-2.bin', repeat(md5('image2'), 2),
       'bay1,bay2,bay3,bay4', $now - $span, $now - s * 20000, NULL
     FROM generate_series(1, 19) AS s ON CONFLICT DO NOTHING"
sql "VACUUM ANALYZE"
end=$(date +%s.%N)
awk -v n="$attempts" -v s="$start" -v e="$end" 'BEGIN {
  printf "made %d attempts of 20 stations in %.1f s (vacuumed and analysed)\n", n, e - s }'

# The median of 5 readings of DAYS days.
reading() {
  local days=$1 times=()
  for _ in 1 2 3 4 5; do
    local s e
    s=$(date +%s%N)
    "$probe" "$url" "$now" "$days" >"$tmp/view.json"
    e=$(date +%s%N)
    times+=($(((e - s) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}
us=$(reading 7)
awk -v us="$us" 'BEGIN { printf "factory view, last 7 days: %.1f ms (median of 5; target < 1000 ms)\n", us / 1000 }'
python3 -c 'import json, sys
v = json.load(open(sys.argv[1]))
print("  %d stations, %d devices first tried, %d failure causes, %d worst bays" % (len(v["stations"]),
      sum(s["yield"]["devices"] for s in v["yieldByStation"]), len(v["failures"]), len(v["worstBays"])))' \
  "$tmp/view.json" 2>/dev/null || true
us=$(reading 60)
awk -v us="$us" 'BEGIN { printf "factory view, all 60 days: %.1f ms (median of 5, for scale)\n", us / 1000 }'
# The panel's first page over the same database, in a browser.
/usr/bin/python3 "$(dirname "$0")/factory_page_bench.py" "$cli" "$url" || true
