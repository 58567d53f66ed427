# Sourced by the PostgreSQL tests: a server of the test's own from Debian's initdb and pg_ctl,
# run as an unprivileged user (nobody, when the test runs as root) in a temporary folder,
# listening only on a socket in that folder, and gone when the test ends. Gives $tmp (the
# folder), server (pg_ctl on it), psql_as DATABASE SQL, and $options (the server's own).
# With pg_tls=1 set before it is sourced, the server also listens on a free loopback TCP port
# ($port) with TLS on, its certificate (for 127.0.0.1 and localhost) signed by a throw-away CA
# ($tmp/ca.crt); $tmp/other-ca.crt is a second CA that signed nothing of the server's.
# Exits 77 (skipped) saying why when no server can be started.

skip() { echo "SKIP: $*" >&2; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
[[ -n "$bin" && -x "$bin/initdb" && -x "$bin/pg_ctl" ]] ||
  skip "no PostgreSQL server here (Debian's postgresql package)"
command -v psql >/dev/null || skip "no psql (postgresql-client)"
command -v sqlite3 >/dev/null || skip "no sqlite3 (the sqlite3 package), to make records in bulk"

tmp=$(mktemp -d /tmp/tarvik-pg.XXXXXX)
chmod 755 "$tmp"
mkdir "$tmp/pg"
as=()
if [[ $(id -u) -eq 0 ]]; then
  # The server refuses to run as root.
  chown nobody "$tmp/pg"
  if command -v runuser >/dev/null; then
    as=(runuser -u nobody --)
  else
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  fi
fi
server() { "${as[@]}" "$bin/pg_ctl" -D "$tmp/pg/data" -l "$tmp/pg/log" "$@" >/dev/null; }
cleanup() {
  server stop -m immediate 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

"${as[@]}" "$bin/initdb" -D "$tmp/pg/data" -U tarvik -A trust --no-sync >"$tmp/initdb.log" 2>&1 ||
  skip "initdb failed: $(tail -n 1 "$tmp/initdb.log")"
options="-k $tmp/pg -c listen_addresses='' -c fsync=off"
if [[ "${pg_tls:-0}" == 1 ]]; then
  command -v openssl >/dev/null || skip "no openssl to make the test's certificates"
  make_ca() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" -keyout "$tmp/$1.key" \
      -out "$tmp/$1.crt" >/dev/null 2>&1
  }
  make_ca ca "Tarvik test CA" && make_ca other-ca "Another CA" &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$tmp/pg/server.key" \
      -out "$tmp/server.csr" >/dev/null 2>&1 &&
    openssl x509 -req -in "$tmp/server.csr" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.key" \
      -CAcreateserial -days 2 -out "$tmp/pg/server.crt" \
      -extfile <(printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n') >/dev/null 2>&1 ||
    skip "openssl could not make the test's certificates"
  chmod 600 "$tmp/pg/server.key"
  [[ ${#as[@]} -gt 0 ]] && chown nobody "$tmp/pg/server.key" "$tmp/pg/server.crt"
  started=0
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 30000))
    tls_options="$options -c listen_addresses=127.0.0.1 -p $port -c ssl=on"
    tls_options+=" -c ssl_cert_file=$tmp/pg/server.crt -c ssl_key_file=$tmp/pg/server.key"
    if server -w -o "$tls_options" start; then
      options=$tls_options
      started=1
      break
    fi
  done
  [[ $started == 1 ]] || skip "the server did not start with TLS: $(tail -n 2 "$tmp/pg/log")"
else
  server -w -o "$options" start || skip "the server did not start: $(tail -n 2 "$tmp/pg/log")"
fi
psql_as() { psql -X -q -t -A "postgresql:///$1?host=$tmp/pg&user=tarvik${port:+&port=$port}" -c "$2"; }

# more_records HISTORY COUNT TAG: COUNT copies of the history's first-made records (those whose
# id has no tag yet), each with the id record-TAG-i and its times moved by i, queued to push.
more_records() {
  sqlite3 "$1" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2),
      base AS MATERIALIZED (SELECT * FROM attempts WHERE record_id NOT LIKE '%-%-%-%-%-%')
    INSERT INTO attempts (record_id, start_ms, end_ms, station, operator, program_version,
      interface, device, descriptor_before, descriptor_after, file_name, file_size, sha256,
      pace_ms, frames_sent, frames_resent, result, exit_status, pushed)
    SELECT record_id || '-$3-' || i, start_ms + i, end_ms + i, station,
      operator, program_version, interface, device, descriptor_before, descriptor_after,
      file_name, file_size, sha256, pace_ms, frames_sent, frames_resent, result, exit_status, 0
    FROM base, n"
}
