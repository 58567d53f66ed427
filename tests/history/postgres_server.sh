# Sourced by the PostgreSQL tests: a server of the test's own from Debian's initdb and pg_ctl,
# run as an unprivileged user (nobody, when the test runs as root) in a temporary folder,
# listening only on a socket in that folder, and gone when the test ends. Gives $tmp (the
# folder), server (pg_ctl on it), psql_as DATABASE SQL, and $options (the server's own).
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
server -w -o "$options" start || skip "the server did not start: $(tail -n 2 "$tmp/pg/log")"
psql_as() { psql -X -q -t -A "postgresql:///$1?host=$tmp/pg&user=tarvik" -c "$2"; }
