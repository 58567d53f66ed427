#!/usr/bin/env bash
# tarvik-cli doctor in namespace A against prepared interfaces, each case one veth pair (or
# its A end in a bridge), with stand-in nmcli and networkctl first on the PATH:
#   1. tva0: a device in B that answers typed frames only: the typed probe lists it with its
#      reply time and doctor says to pass --frame-type typed; NetworkManager and
#      systemd-networkd (the stand-ins) manage it: warns with the commands; exit 0;
#   2. tva1 down: "down" fails, exit 24;
#   3. tva2 whose peer is down: "no carrier" fails, exit 24;
#   4. tva3 a port of a bridge with spanning tree on: while the port listens it fails; once
#      it forwards it warns (forward delay 2 s here), exit 0;
#   5. tva4 with MTU 1280: a warn, exit 0;
#   6. tva5 with a tarvik-target of A on it: the other raw socket is named, exit 0;
#   7. a copy of the binary without capabilities run as nobody, outside every group: no raw
#      network access, the socket does not open, exit 24;
#   8. without -i, --json: one object per check, a probe object for every adapter opened.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
e2e_setup "$@"

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
# doctor keeps each interface's carrier count in the user's state folder: the test's own.
export XDG_STATE_HOME="$E2E_TMP/state"

# Stand-ins for the network managers' tools, whatever this machine has installed.
STANDIN="$E2E_TMP/bin"
mkdir -p "$STANDIN"
cat >"$STANDIN/nmcli" <<'SCRIPT'
#!/bin/sh
[ "$*" = "-t -f DEVICE,STATE device" ] || exit 2
printf 'lo:unmanaged\ntva0:connected\ntva4:unmanaged\n'
SCRIPT
cat >"$STANDIN/networkctl" <<'SCRIPT'
#!/bin/sh
[ "$1" = list ] || exit 2
printf '  1 lo   loopback carrier  unmanaged\n  2 tva0 ether    routable configured\n'
SCRIPT
chmod 755 "$STANDIN" "$STANDIN/nmcli" "$STANDIN/networkctl"
export PATH="$STANDIN:$PATH"

# doctor NAME ARGS...: runs doctor in A; its output in $E2E_TMP/NAME.out, its status in STATUS.
doctor() {
  local name="$1"
  shift
  STATUS=0
  e2e_in_a "$CLI" "$@" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" || STATUS=$?
}
# expect_line NAME REGEX: the output of run NAME has a line matching REGEX.
expect_line() {
  grep -qE -- "$2" "$E2E_TMP/$1.out" || {
    cat "$E2E_TMP/$1.out" >&2
    e2e_fail "$1: no line matching '$2'"
  }
}
expect_status() {
  [[ $STATUS -eq $2 ]] || {
    cat "$E2E_TMP/$1.out" >&2
    e2e_fail "$1: doctor exited $STATUS, not $2"
  }
}

# The bridge first: its port's forward delay runs while the other cases run.
e2e_add_pair tva3 02:54:56:00:03:0a tvb3 02:5a:17:00:03:0b
e2e_in_a ip link add tvbr0 type bridge stp_state 1 forward_delay 200
e2e_in_a ip link set tva3 master tvbr0
e2e_in_a ip link set tvbr0 up
doctor bridge_listening -i tva3 doctor
expect_line bridge_listening '^tva3 +fail +port of bridge tvbr0, (listening|learning): the bridge drops its frames now +-> +wait 4 s after the link comes up, or turn spanning tree off: sudo ip link set tvbr0 type bridge stp_state 0$'
expect_status bridge_listening 24

# --- 1. a device that answers typed frames only; managed by both stand-ins ---
e2e_spawn_b typed "$TARGET" -i "$E2E_IF_B" --variant typed
e2e_wait_for_line "$E2E_TMP/typed.err" "ready"
doctor typed_only -i tva0 doctor
expect_line typed_only '^- +pass +running as root$'
expect_line typed_only '^tva0 +pass +carrier$'
expect_line typed_only '^tva0 +pass +untyped probe: no answer$'
expect_line typed_only '^tva0 +pass +typed probe: 1 device: QV00000B in [0-9]+ ms$'
expect_line typed_only '^tva0 +warn +QV00000B answers typed frames only +-> +pass --frame-type typed \(or auto\) to talk to it$'
expect_line typed_only '^tva0 +warn +managed by NetworkManager \(connected\): .* +-> +sudo nmcli device set tva0 managed no   \(until reboot'
expect_line typed_only '^tva0 +warn +managed by systemd-networkd \(configured\): .* -> .*Unmanaged=yes.*networkctl reload'
expect_line typed_only '^tva0 +pass +raw socket open, kernel socket filter loaded$'
expect_line typed_only '^tva0 +pass +no other program has a raw socket on it$'
expect_line typed_only '^tva0 +pass +carrier changes: first check here, [0-9]+ since the interface was made; recorded$'
expect_status typed_only 0

# --- 2. down ---
e2e_add_pair tva1 02:54:56:00:01:0a tvb1 02:5a:17:00:01:0b
e2e_in_a ip link set tva1 down
doctor down -i tva1 doctor
expect_line down '^tva1 +fail +down \(administratively\) +-> +sudo ip link set tva1 up$'
grep -q 'probe' "$E2E_TMP/down.out" && e2e_fail "down: an interface that is down was probed"
expect_status down 24

# --- 3. no carrier: the peer is down ---
e2e_add_pair tva2 02:54:56:00:02:0a tvb2 02:5a:17:00:02:0b
e2e_in_b ip link set tvb2 down
doctor carrier -i tva2 doctor
expect_line carrier '^tva2 +fail +no carrier \(lowerlayerdown\): no link to anything +-> +plug the cable in'
expect_status carrier 24

# --- 5. a small MTU; NetworkManager leaves it alone ---
e2e_add_pair tva4 02:54:56:00:04:0a tvb4 02:5a:17:00:04:0b
e2e_in_a ip link set tva4 mtu 1280
doctor mtu -i tva4 doctor
expect_line mtu "^tva4 +warn +MTU 1280, below Ethernet's 1500 +-> +sudo ip link set tva4 mtu 1500"
expect_line mtu '^tva4 +pass +NetworkManager leaves it alone \(unmanaged\)$'
expect_line mtu '^tva4 +pass +systemd-networkd not running, or it does not list tva4$'
expect_status mtu 0

# --- 6. another program's raw socket on the interface ---
e2e_add_pair tva5 02:54:56:00:05:0a tvb5 02:5a:17:00:05:0b
e2e_spawn_a holder "$TARGET" -i tva5
HOLDER_PID=$E2E_PID
e2e_wait_for_line "$E2E_TMP/holder.err" "ready"
doctor raw -i tva5 doctor
expect_line raw "^tva5 +warn +1 other raw socket on it: tarvik-target \(pid $HOLDER_PID\) +-> +a second loader"
expect_status raw 0

# --- 7. no privilege: a copy without capabilities, run as nobody outside every group ---
chmod 755 "$E2E_TMP"
cp "$CLI" "$E2E_TMP/tarvik-cli"
chmod 755 "$E2E_TMP/tarvik-cli"
STATUS=0
e2e_in_a setpriv --reuid=nobody --regid=nogroup --clear-groups "$E2E_TMP/tarvik-cli" -i tva0 doctor \
  >"$E2E_TMP/unprivileged.out" 2>"$E2E_TMP/unprivileged.err" || STATUS=$?
expect_line unprivileged "^- +fail +no raw network access: neither root nor cap_net_raw +-> +run with sudo, or grant the binary the right: sudo setcap cap_net_raw\+ep $E2E_TMP/tarvik-cli"
expect_line unprivileged '^tva0 +fail +the raw socket could not be opened +-> +see the privilege line; `tarvik-cli explain 31`$'
expect_status unprivileged 24

# --- 4 again: the bridge port forwards now, spanning tree still on ---
for ((i = 0; i < 100; i++)); do
  [[ $(e2e_in_a cat /sys/class/net/tva3/brport/state) == 3 ]] && break
  sleep 0.1
done
doctor bridge -i tva3 doctor
expect_line bridge '^tva3 +warn +port of bridge tvbr0 with spanning tree on: after every link change the port listens and learns for 4 s and drops the frames meanwhile +-> +sudo ip link set tvbr0 type bridge stp_state 0'
expect_status bridge 0

# --- 8. every adapter, as JSON ---
doctor all --json doctor
for ifname in tva0 tva2 tva3 tva4 tva5; do
  expect_line all "^\{\"interface\":\"$ifname\",\"opened\":true,\"answers\":"
done
expect_line all '^\{"interface":"tva0","opened":true,"answers":\[\{"device":"QV00000B","asked":"typed","answered":"typed","ms":[0-9]+\}\]\}$'
expect_line all '^\{"interface":"tva2","check":"carrier","result":"fail","detail":"no carrier \(lowerlayerdown\): no link to anything","advice":"plug'
expect_line all '^\{"interface":"","check":"privilege","result":"pass","detail":"running as root","advice":""\}$'
grep -q '"interface":"tva1"' "$E2E_TMP/all.out" && e2e_fail "doctor without -i examined tva1, which is down"
expect_status all 24

e2e_pass "down, no carrier, STP bridge, MTU, another raw socket, no privilege, typed-only device, managers"
