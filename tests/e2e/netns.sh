# shellcheck shell=bash
# End-to-end test harness: two network namespaces joined by one veth pair, removed again on
# every way out (normal end, failure, Ctrl-C, SIGTERM from CTest's timeout).
#
# A test is a script tests/e2e/NAME_e2e.sh; CTest runs it as `bash NAME_e2e.sh <build dir>`
# (test e2e_NAME, label e2e). It starts like this:
#
#   set -euo pipefail
#   source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
#   e2e_setup "$@"
#   e2e_program CLI tarvik-cli              # CLI=path of the built program, or fail
#   e2e_spawn_b target "$TARGET" -i "$E2E_IF_B" ...   # background, in namespace B
#   e2e_wait_for_line "$E2E_TMP/target.out" '^ready'  # its output is in $E2E_TMP/NAME.out
#   e2e_in_a "$CLI" -i "$E2E_IF_A" browse >"$E2E_TMP/browse.out" || e2e_fail "browse failed"
#   e2e_pass "what was shown"
#
# Variables (after e2e_setup):
#   E2E_NS_A, E2E_NS_B    the namespaces (unique per run)
#   E2E_IF_A, E2E_IF_B    the veth ends in them: tva0 and tvb0, up, no IPv6, no addresses
#   E2E_MAC_A, E2E_MAC_B  their addresses (02:54:56:00:00:0a, 02:5a:17:00:00:0b); set them
#                         before sourcing to choose others
#   E2E_BUILD             the build directory (absolute)
#   E2E_TMP               a scratch directory, removed at the end (its *.out and *.err files
#                         are printed when the test fails)
# Functions:
#   e2e_in_a / e2e_in_b CMD...          run in namespace A / B, in the foreground
#   e2e_spawn_a / e2e_spawn_b NAME CMD...  start in the background; output in
#                                       $E2E_TMP/NAME.out and .err, pid in E2E_PID; killed at
#                                       the end if still running
#   e2e_wait_job PID [SECONDS]          its exit status (fails the test after the timeout)
#   e2e_wait_for_line FILE [REGEX] [SECONDS]   wait until FILE has a matching line
#   e2e_program VAR NAME                set VAR to the built program NAME, or fail
#   e2e_add_pair IF_A MAC_A IF_B MAC_B  another veth pair between A and B, up
#   e2e_json_field FIELD [FILE...]      the value(s) of a field of the programs' JSON output
#   e2e_expect_same EXPECTED ACTUAL MESSAGE    diff two files, fail with MESSAGE if they differ
#   e2e_on_exit "SHELL COMMAND"         extra clean-up, run before the namespaces go
#   e2e_pass [TEXT] / e2e_fail TEXT / e2e_skip TEXT   end with 0 / 1 / 77
#
# Devices behind a switch: namespace B then stands for a managed switch (vlan_switch, with the
# trunk E2E_IF_B to A and one access port per device), and each device has a namespace of its
# own joined to B by a veth pair:
#   e2e_add_device N MAC [IF_A]         namespace $(e2e_device_ns N) holding tvd0 (address MAC),
#                                       joined to the access port tvsN in B; both ends up.
#                                       With IF_A, joined to A directly by IF_A instead (a
#                                       station adapter of its own, no switch)
#   e2e_device_ns N                     that namespace's name
#   e2e_spawn_d N NAME CMD...           start in the background in it, as e2e_spawn_a does
#   e2e_start_switch SWITCH ACCESS:VID...   start the switch program in B on E2E_IF_B and wait
#                                       until it is ready; its pid is in E2E_SWITCH_PID, its
#                                       counts (after e2e_stop_switch) in $E2E_TMP/switch.out
#   e2e_stop_switch                     end it with SIGTERM and wait for its counts
#   e2e_count_from FILE MAC             how many frames of the pcap FILE come from MAC
#
# Without root, or where network namespaces or veth links cannot be made, the script exits
# with 77 (CTest counts that as skipped) and says why. Only the two namespaces (and the
# device namespaces a test asks for) and the veth pairs are created; a pair is made inside them
# and deleting a namespace deletes its end, so no other interface or address on the machine is
# touched.

E2E_SKIP=77

# The two ends get fixed, locally administered addresses so tests can predict them; B's lies
# in the vendor block 02-5A-17 that devices use, so a device emulated there gets a "QV" name.
: "${E2E_MAC_A:=02:54:56:00:00:0a}"
: "${E2E_MAC_B:=02:5a:17:00:00:0b}"
E2E_IF_A=tva0
E2E_IF_B=tvb0
E2E_NS_A="tarvik-e2e-$$-a"
E2E_NS_B="tarvik-e2e-$$-b"
E2E_BUILD=""
E2E_TMP=""
E2E_NAME="$(basename "${0%.sh}")"

_e2e_pids=()
_e2e_cleanups=()
_e2e_made_a=0
_e2e_made_b=0
_e2e_device_namespaces=()

e2e_log() { echo "[$E2E_NAME] $*" >&2; }

e2e_skip() {
  e2e_log "SKIPPED: $*"
  exit "$E2E_SKIP"
}

e2e_fail() {
  e2e_log "FAILED: $*"
  exit 1
}

e2e_pass() {
  e2e_log "passed${1:+: $1}"
  exit 0
}

# Runs a shell command when the script ends, before the namespaces are removed.
e2e_on_exit() { _e2e_cleanups+=("$1"); }

_e2e_teardown() {
  local status=$?
  trap - EXIT INT TERM
  local cmd pid
  for cmd in "${_e2e_cleanups[@]}"; do
    eval "$cmd" >/dev/null 2>&1 || true
  done
  for pid in "${_e2e_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  # Give them a moment to end cleanly (the shell reaps them meanwhile); those that do not
  # are killed with the namespaces below.
  local i
  for ((i = 0; i < 40; i++)); do
    _e2e_any_alive || break
    sleep 0.05
  done
  # Anything else still running inside our namespaces was started by this script.
  local ns
  for ns in "$E2E_NS_A" "$E2E_NS_B" "${_e2e_device_namespaces[@]}"; do
    if ip netns pids "$ns" >/dev/null 2>&1; then
      for pid in $(ip netns pids "$ns" 2>/dev/null); do
        kill -KILL "$pid" 2>/dev/null || true
      done
    fi
  done
  for ns in "${_e2e_device_namespaces[@]}"; do
    ip netns delete "$ns" 2>/dev/null || true
  done
  ((_e2e_made_a)) && ip netns delete "$E2E_NS_A" 2>/dev/null
  ((_e2e_made_b)) && ip netns delete "$E2E_NS_B" 2>/dev/null
  if [[ -n "$E2E_TMP" && -d "$E2E_TMP" ]]; then
    if ((status != 0 && status != E2E_SKIP)); then
      _e2e_dump_logs
    fi
    rm -rf "$E2E_TMP"
  fi
  exit "$status"
}

_e2e_any_alive() {
  local pid
  for pid in "${_e2e_pids[@]}"; do
    kill -0 "$pid" 2>/dev/null && return 0
  done
  return 1
}

_e2e_dump_logs() {
  local f
  for f in "$E2E_TMP"/*.out "$E2E_TMP"/*.err; do
    [[ -s "$f" ]] || continue
    echo "----- $(basename "$f")" >&2
    head -c 20000 "$f" >&2
  done
}

# Checks the build directory and the privileges, then makes the namespaces and the link.
# Sets E2E_BUILD and E2E_TMP (a scratch directory removed at the end).
e2e_setup() {
  E2E_BUILD="${1:-}"
  [[ -n "$E2E_BUILD" && -d "$E2E_BUILD" ]] ||
    e2e_fail "usage: bash $0 <build directory>"
  E2E_BUILD="$(cd "$E2E_BUILD" && pwd)"

  trap _e2e_teardown EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # Under `set -e`, say which command ended the script.
  if [[ $- == *e* ]]; then
    trap 'e2e_log "FAILED: \"$BASH_COMMAND\" (line $LINENO) exited with $?"' ERR
  fi

  [[ $(id -u) -eq 0 ]] ||
    e2e_skip "needs root (network namespaces, veth links and raw sockets need CAP_SYS_ADMIN, CAP_NET_ADMIN and CAP_NET_RAW)"
  command -v ip >/dev/null 2>&1 || e2e_skip "the ip command (iproute2) is not installed"

  E2E_TMP="$(mktemp -d "${TMPDIR:-/tmp}/tarvik-e2e.XXXXXX")" || e2e_fail "no scratch directory"

  _e2e_remove_stale

  local why
  why=$(ip netns add "$E2E_NS_A" 2>&1) || e2e_skip "cannot create a network namespace: $why"
  _e2e_made_a=1
  why=$(ip netns add "$E2E_NS_B" 2>&1) || e2e_skip "cannot create a network namespace: $why"
  _e2e_made_b=1

  local ns
  for ns in "$E2E_NS_A" "$E2E_NS_B"; do
    ip -n "$ns" link set lo up || e2e_fail "cannot bring up lo in $ns"
  done
  e2e_add_pair "$E2E_IF_A" "$E2E_MAC_A" "$E2E_IF_B" "$E2E_MAC_B"
  e2e_log "namespaces $E2E_NS_A ($E2E_IF_A $E2E_MAC_A) and $E2E_NS_B ($E2E_IF_B $E2E_MAC_B)"
}

# Joins the two namespaces by a veth pair: IF_A with address MAC_A in A, IF_B with MAC_B in B,
# both up with their carrier, without IPv6. e2e_setup makes the first pair with it; a test
# that needs a second link makes one more:
#   e2e_add_pair tva1 02:54:56:00:01:0a tvb1 02:5a:17:00:01:0b
e2e_add_pair() {
  _e2e_link "$E2E_NS_A" "$1" "$2" "$E2E_NS_B" "$3" "$4"
}

# A veth pair between two namespaces: NS_A's end IF_A, NS_B's end IF_B, each with the address
# given (an empty one: the kernel's choice), both up with their carrier, without IPv6.
_e2e_link() {
  local ns_a="$1" if_a="$2" mac_a="$3" ns_b="$4" if_b="$5" mac_b="$6" why
  local -a address_a=() address_b=()
  [[ -z "$mac_a" ]] || address_a=(address "$mac_a")
  [[ -z "$mac_b" ]] || address_b=(address "$mac_b")
  # Both ends are made directly inside their namespaces: nothing appears in ours.
  why=$(ip link add "$if_a" netns "$ns_a" "${address_a[@]}" type veth \
          peer name "$if_b" netns "$ns_b" "${address_b[@]}" 2>&1) ||
    e2e_skip "cannot create a veth pair: $why"

  local pair ns ifname
  for pair in "$ns_a:$if_a" "$ns_b:$if_b"; do
    ns="${pair%%:*}"
    ifname="${pair##*:}"
    # No IPv6: its router solicitations and neighbour discovery would be the only other
    # traffic on the link, and tests want to see exactly their own frames.
    ip netns exec "$ns" sysctl -qw "net.ipv6.conf.$ifname.disable_ipv6=1" 2>/dev/null || true
    ip -n "$ns" link set "$ifname" up || e2e_fail "cannot bring up $ifname in $ns"
  done
  e2e_wait_link "$ns_a" "$if_a"
  e2e_wait_link "$ns_b" "$if_b"
}

# A run killed outright (CTest's timeout sends SIGKILL) cannot clean up; its namespaces carry
# its pid, so the next run removes those whose script is gone (with the device namespaces
# tarvik-e2e-PID-dN that a test makes besides A and B).
_e2e_remove_stale() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    [[ "$ns" =~ ^tarvik-e2e-([0-9]+)-(a|b|d[0-9]+)$ ]] || continue
    pid="${BASH_REMATCH[1]}"
    kill -0 "$pid" 2>/dev/null && continue
    e2e_log "removing $ns, left behind by an earlier run"
    ip netns delete "$ns" 2>/dev/null || true
  done
}

# Waits until the interface reports its carrier (a veth end is up once both ends are).
e2e_wait_link() {
  local ns="$1" ifname="$2" i
  for ((i = 0; i < 100; i++)); do
    [[ "$(ip netns exec "$ns" cat "/sys/class/net/$ifname/operstate" 2>/dev/null)" == up ]] &&
      return 0
    sleep 0.05
  done
  e2e_fail "$ifname in $ns did not come up"
}

# Runs a command in namespace A or B in the foreground.
e2e_in_a() { ip netns exec "$E2E_NS_A" "$@"; }
e2e_in_b() { ip netns exec "$E2E_NS_B" "$@"; }

# Starts a command in the background in namespace A or B. Its output goes to
# $E2E_TMP/NAME.out and NAME.err; its pid is in E2E_PID (and in $E2E_TMP/NAME.pid). The job is
# killed at the end of the script if it is still running.
e2e_spawn_a() { _e2e_spawn "$E2E_NS_A" "$@"; }
e2e_spawn_b() { _e2e_spawn "$E2E_NS_B" "$@"; }

_e2e_spawn() {
  local ns="$1" name="$2"
  shift 2
  ip netns exec "$ns" "$@" >"$E2E_TMP/$name.out" 2>"$E2E_TMP/$name.err" &
  E2E_PID=$!
  _e2e_pids+=("$E2E_PID")
  echo "$E2E_PID" >"$E2E_TMP/$name.pid"
}

# Waits for a background job and returns its exit status; fails the test after the timeout
# (seconds, default 30).
e2e_wait_job() {
  local pid="$1" timeout="${2:-30}" i
  for ((i = 0; i < timeout * 20; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      return $?
    fi
    sleep 0.05
  done
  e2e_fail "job $pid still running after ${timeout}s"
}

# Waits until FILE holds a line matching the regular expression (default: any line), for at
# most TIMEOUT seconds (default 10). Use it to wait for a helper's "ready" line.
e2e_wait_for_line() {
  local file="$1" pattern="${2:-.}" timeout="${3:-10}" i
  for ((i = 0; i < timeout * 20; i++)); do
    grep -qE -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  e2e_fail "no line matching '$pattern' in $(basename "$file") after ${timeout}s"
}

# Sets the variable VAR to the path of the program NAME built in the build directory; fails
# when it was not built. (A variable, not output: a failure must end the script itself.)
#   e2e_program PROBE binding_probe
e2e_program() {
  local var="$1" name="$2" found
  found=$(find "$E2E_BUILD" -type f -name "$name" -perm -u+x -not -path '*/CMakeFiles/*' \
            2>/dev/null | head -n 1)
  [[ -n "$found" ]] || e2e_fail "$name is not built in $E2E_BUILD (build it first)"
  printf -v "$var" '%s' "$found"
}

# Prints the value of FIELD in JSON text (the FILEs, or stdin), one line per occurrence: a
# string without its quotes (escapes as written), anything else as it stands. The programs
# print their results indented ("Field": 1) and their records compact ("Field":1); this reads
# both. It reads flat fields, not arrays or objects; like grep, it fails when there is none.
#   e2e_json_field FramesSent "$E2E_TMP/upgrade.json"
e2e_json_field() {
  local field="$1" found
  shift
  found=$(grep -ohE "\"$field\": *(\"([^\"\\]|\\\\.)*\"|[^],}[:space:]]+)" "$@") || return 1
  sed -E "s/^\"$field\": *//; s/^\"(.*)\"\$/\1/" <<<"$found"
}

# Compares two files; on a difference prints both and fails with the message.
e2e_expect_same() {
  local expected="$1" actual="$2" what="$3"
  if ! diff -u "$expected" "$actual" >"$E2E_TMP/diff.txt" 2>&1; then
    cat "$E2E_TMP/diff.txt" >&2
    e2e_fail "$what"
  fi
}

# --- Devices behind a switch ---

# The namespace of device N. Its name carries the script's pid, as A's and B's do, so that a
# later run removes it when this one was killed outright.
e2e_device_ns() { echo "tarvik-e2e-$$-d$1"; }

# Makes device N's namespace and joins it to the switch (B): tvd0 there, with address MAC (every
# device may have the same one, each on a segment of its own), and the access port tvsN in B;
# or, given IF_A, to namespace A by that interface.
e2e_add_device() {
  local n="$1" mac="$2" if_a="${3:-}" ns why
  ns=$(e2e_device_ns "$n")
  why=$(ip netns add "$ns" 2>&1) || e2e_skip "cannot create a network namespace: $why"
  _e2e_device_namespaces+=("$ns")
  ip -n "$ns" link set lo up || e2e_fail "cannot bring up lo in $ns"
  if [[ -n "$if_a" ]]; then
    _e2e_link "$E2E_NS_A" "$if_a" "" "$ns" tvd0 "$mac"
  else
    _e2e_link "$E2E_NS_B" "tvs$n" "" "$ns" tvd0 "$mac"
  fi
}

# Starts a command in the background in device N's namespace (output and pid as e2e_spawn_a).
e2e_spawn_d() {
  local n="$1"
  shift
  _e2e_spawn "$(e2e_device_ns "$n")" "$@"
}

# Starts the switch program in B with the trunk E2E_IF_B and the access ports given
# (tvsN:VID ...), and waits until it is ready.
e2e_start_switch() {
  local program="$1"
  shift
  _e2e_spawn "$E2E_NS_B" switch "$program" "$E2E_IF_B" "$@"
  E2E_SWITCH_PID=$E2E_PID
  e2e_wait_for_line "$E2E_TMP/switch.out" '^ready$'
}

# Ends the switch; its counts are in $E2E_TMP/switch.out once this returns.
e2e_stop_switch() {
  kill -TERM "$E2E_SWITCH_PID"
  e2e_wait_job "$E2E_SWITCH_PID" 10 || e2e_fail "the switch did not end cleanly on SIGTERM"
}

# The source address of every frame in a pcap file, one per line, as 12 hex digits. One od
# reads the whole file: the traces of a station's run hold thousands of frames.
e2e_pcap_sources() {
  od -An -v -tu1 "$1" | awk '
    { for (i = 1; i <= NF; i++) bytes[n++] = $i }
    END {
      for (at = 24; at + 16 + 12 <= n; at += 16 + len) {
        len = bytes[at + 8] + 256 * (bytes[at + 9] + 256 * (bytes[at + 10] + 256 * bytes[at + 11]))
        source = ""
        for (i = 6; i < 12; i++) source = source sprintf("%02x", bytes[at + 16 + i])
        print source
      }
    }'
}

# How many frames of the pcap FILE come from MAC (aa:bb:cc:dd:ee:ff).
e2e_count_from() {
  e2e_pcap_sources "$1" | grep -cx "$(tr -d : <<<"$2")" || true
}
