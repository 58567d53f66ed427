#!/usr/bin/env bash
# The Windows build's operator panel under Wine: tarvik-cli.exe station --panel on the lab serves
# the page and the station's state over the loopback (read by curl from Linux), refuses what
# would change anything, and refuses an address beyond the loopback without a token.
#   bash panel_test.sh <linux build> <windows build>
set -uo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/wine.sh"
linux_build="$(cd "$1" && pwd)"
wine_setup "$2"
command -v curl >/dev/null || { echo "SKIP: no curl" >&2; exit 77; }
scratch="$(mktemp -d /tmp/tarvik-panel-test.XXXXXX)"
trap 'wine_cleanup; rm -rf "$scratch"' EXIT
wine_prefix panel

image="$linux_build/lab/sample.bin"
cli="$WINE_BUILD/src/cli/tarvik-cli.exe"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

wine_run panel -- "$cli" --lab --pace 5 station "$image" --history none --panel "$port" \
  --stop-after 10 >"$scratch/out" 2>"$scratch/err" &
station=$!
state=""
for _ in $(seq 1 300); do
  state=$(curl -s "http://127.0.0.1:$port/state" || true)
  [[ "$state" == *'"passed":2'* ]] && break
  sleep 0.1
done
[[ "$state" == *'"kind":"station"'* && "$state" == *'"passed":2'* ]] ||
  fail "the state of the Windows station reads: ${state:0:300}"
[[ $(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/") == 200 ]] || fail "the page"
[[ $(curl -s "http://127.0.0.1:$port/panel.js") == *"textContent"* ]] || fail "the page's script"
[[ $(curl -s -o /dev/null -w '%{http_code}' -X POST "http://127.0.0.1:$port/state") == 405 ]] ||
  fail "a POST is not refused"
events=$(curl -s -m 2 "http://127.0.0.1:$port/events" || true)
[[ "$events" == *"event: state"* ]] || fail "the event stream: ${events:0:200}"
wait "$station" || fail "the station ended with $?: $(tail -n 3 "$scratch/err")"

wine_run panel -- "$cli" --lab station "$image" --history none --panel "0.0.0.0:$port" \
  --stop-after 1 >"$scratch/out" 2>"$scratch/err"
status=$?
[[ $status == 2 ]] && grep -q -- "--panel-token" "$scratch/err" ||
  fail "a bind beyond the loopback without a token ended with $status: $(cat "$scratch/err")"

((failed == 0)) && echo "panel_test passed"
exit "$failed"
