#!/usr/bin/env bash
# The history's costs, as ratios to figures measured in the same run. Prints figures only;
# none is asserted.
#   insert ratio = cost of adding one record (RECORDS added one at a time)
#                  / one 64 KiB upgrade at pace 0 on the lab (its ElapsedMs)   (target <= 0.01)
#   --since      = wall time of `tarvik-cli history --since` over the RECORDS  (target <= 100 ms)
#   push ratio   = records per second of `history push` of the RECORDS to a local PostgreSQL
#                  / records per second of psql's \copy of the same rows       (target >= 0.5)
# usage: [RECORDS=N] bash bench/history_bench.sh BUILD_DIR
# The push needs Debian's postgresql package; without it that figure is left out.
set -euo pipefail

build="$1"
records=${RECORDS:-100000}
cli="$build/src/cli/tarvik-cli"
bench="$build/bench/tarvik-history-bench"
[[ -x "$cli" && -x "$bench" ]] || { echo "history bench: build tarvik-cli and tarvik-history-bench" >&2; exit 77; }
tmp=$(mktemp -d /tmp/tarvik-history-bench.XXXXXX)
chmod 755 "$tmp"
pids=()
cleanup() { [[ -n "${stop_server:-}" ]] && $stop_server; rm -rf "$tmp"; }
trap cleanup EXIT
now() { date +%s.%N; }

# One upgrade at pace 0 on the lab, as the upgrade itself counts it (the best of three).
upgrade_ms=999999
for _ in 1 2 3; do
  ms=$("$cli" --lab --pace 0 --json upgrade "$build/lab/sample.bin" QV1A2B3C --history none 2>/dev/null |
       sed -n 's/.*"ElapsedMs":\([0-9]*\).*/\1/p')
  ((ms < upgrade_ms)) && upgrade_ms=$ms
done

history="$tmp/history.sqlite"
line=$("$bench" "$history" "$records")
per_record_us=$(sed -n 's/.* \([0-9.]*\) us per record/\1/p' <<<"$line")
echo "$line"
awk -v us="$per_record_us" -v ms="$upgrade_ms" 'BEGIN {
  printf "insert: %.1f us per record / %d ms per 64 KiB upgrade at pace 0 = %.5f (target <= 0.01)\n",
         us, ms, us / 1000 / ms }'

# The last tenth of the records, listed (and the time of a listing of all, for scale).
since=$(date -u -d "@$((1765000000 + records * 60 * 9 / 10))" +%Y-%m-%dT%H:%M)
for args in "--since $since|(target <= 100 ms)" "--since 2000-01-01|(every record, for scale)"; do
  start=$(now)
  lines=$("$cli" history --history "$history" ${args%|*} | wc -l)
  end=$(now)
  awk -v s="$start" -v e="$end" -v a="${args%|*}" -v t="${args#*|}" -v n="$lines" 'BEGIN {
    printf "history %s: %d lines in %.1f ms %s\n", a, n - 1, (e - s) * 1000, t }'
done

# The push against \copy, on a server of the benchmark's own.
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [[ -z "$bin" || ! -x "$bin/initdb" ]]; then
  echo "push: no PostgreSQL server here (Debian's postgresql package); left out"
  exit 0
fi
mkdir "$tmp/pg"
as=()
if [[ $(id -u) -eq 0 ]]; then
  chown nobody "$tmp/pg"
  as=(runuser -u nobody --)
fi
"${as[@]}" "$bin/initdb" -D "$tmp/pg/data" -U tarvik -A trust --no-sync >/dev/null 2>&1
"${as[@]}" "$bin/pg_ctl" -D "$tmp/pg/data" -l "$tmp/pg/log" -w \
  -o "-k $tmp/pg -c listen_addresses=''" start >/dev/null
stop_server="${as[*]} $bin/pg_ctl -D $tmp/pg/data -m immediate stop"
psql -X -q "postgresql:///postgres?host=$tmp/pg&user=tarvik" -c "CREATE DATABASE line"
url="postgresql:///line?host=$tmp/pg&user=tarvik"

start=$(now)
"$cli" history --history "$history" push "$url"
end=$(now)
push_s=$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')

psql -X -q "$url" -c "\\copy tarvik_attempts TO '$tmp/rows.tsv'" \
  -c "CREATE TABLE copied (LIKE tarvik_attempts INCLUDING ALL)"
start=$(now)
psql -X -q "$url" -c "\\copy copied FROM '$tmp/rows.tsv'"
end=$(now)
copy_s=$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')
awk -v n="$records" -v p="$push_s" -v c="$copy_s" 'BEGIN {
  printf "push: %.0f records/s; psql \\copy: %.0f records/s; ratio %.2f (target >= 0.5)\n",
         n / p, n / c, c / p }'
