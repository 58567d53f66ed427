#!/usr/bin/env bash
# Bays on Windows, under Wine: the station's namespace A holds two veth adapters, each the only
# link to a namespace of its own (tva0 to B, tva1 to device namespace 1), and behind each a Linux
# tarvik-target with the same address. tarvik-cli.exe names one bay by the adapter's friendly
# name and the other by its {GUID}:
#   1. station --bay ... --stop-after: each device flashed exactly once, under its own bay
#      (records, events), its memory holding the image;
#   2. upgrade --all --bay ...: the same again, one attempt per bay;
#   3. VLAN tagging by Tarvik on an adapter whose driver takes the tags off (tva0's class
#      subkey, written with `wine reg add`, holds *PriorityVLANTag=3): `-i tva0.12` is refused
#      with "Open Adapter Fail !" (status 31) and the one line that says why and what to do, as
#      is a bay on it, and doctor gives that line for such a bay; with the value 0 the same
#      name browses the one device behind VLAN 12 (B then runs the test's switch: tvb0 its
#      trunk, one access port of VLAN 12).
# About 40 s.
#   bash bays_test.sh <linux build> <windows build>
set -euo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/../e2e/netns.sh"
source "$here/wine.sh"
windows_build="$2"
e2e_setup "$1"
wine_setup "$windows_build"
e2e_on_exit wine_cleanup

e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
e2e_program SWITCH vlan_switch
CLI_EXE="$WINE_BUILD/src/cli/tarvik-cli.exe"
[[ -f "$CLI_EXE" ]] || e2e_fail "tarvik-cli.exe is not built (make windows)"

DEVICE_MAC=02:5a:17:00:04:01
DEVICE=QV000401
VLAN_MAC=02:5a:17:00:0c:01
IMAGE_BYTES=$((16 * 1024))
SEGMENT=0x2340
CLASS_KEY='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e972-e325-11ce-bfc1-08002be10318}\0099'
e2e_add_device 1 "" tva1
"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 73 "$E2E_TMP/image.bin" >/dev/null

# Made after both adapters are there. The server that made the prefix lists no card: the next
# one, started in A once it has gone, lists A's as it starts.
wine_prefix a ip netns exec "$E2E_NS_A"
WINEPREFIX="$WINE_PREFIX_a" wineserver -w
cli_exe() { wine_run a ip netns exec "$E2E_NS_A" -- "$CLI_EXE" "$@"; }
guid_of() {
  grep -E "^[0-9]+  $1  \\\\Device\\\\\\{[0-9A-Fa-f-]+\\}  \"$1\"\$" "$E2E_TMP/adapters.out" |
    awk '{print substr($3, 9)}'
}
cli_exe adapters | tr -d '\r' >"$E2E_TMP/adapters.out"
GUID0=$(guid_of tva0 || true)
GUID1=$(guid_of tva1 || true)
[[ -n "$GUID0" && -n "$GUID1" ]] ||
  { cat "$E2E_TMP/adapters.out" >&2; e2e_fail "adapters does not list tva0 and tva1 with their {GUID}"; }
BAYS=(--bay "left=tva0" --bay "right=$GUID1")

# The two devices, one per bay, with one address; their memory is written out when they end.
start_devices() {
  e2e_spawn_b left "$TARGET" -i "$E2E_IF_B" --mac "$DEVICE_MAC" --board 001122334455 \
    --dump "$E2E_TMP/left-$1.mem"
  e2e_spawn_d 1 right "$TARGET" -i tvd0 --mac "$DEVICE_MAC" --board 001122334455 \
    --dump "$E2E_TMP/right-$1.mem"
  e2e_wait_for_line "$E2E_TMP/left.err" "ready"
  e2e_wait_for_line "$E2E_TMP/right.err" "ready"
}
# Ends both devices; each was reset exactly once, and holds the image.
check_devices() {
  local bay
  for bay in left right; do
    kill -INT "$(cat "$E2E_TMP/$bay.pid")"
    e2e_wait_job "$(cat "$E2E_TMP/$bay.pid")" 10 >/dev/null || e2e_fail "$1: the $bay device did not end cleanly"
    [[ $(grep -c RESET "$E2E_TMP/$bay.out") -eq 1 ]] ||
      e2e_fail "$1: the $bay device was reset $(grep -c RESET "$E2E_TMP/$bay.out") times, not once"
    dd if="$E2E_TMP/$bay-$1.mem" of="$E2E_TMP/$bay-$1.bin" bs=16 skip=$((SEGMENT)) \
      count=$((IMAGE_BYTES / 16)) status=none
    cmp -s "$E2E_TMP/image.bin" "$E2E_TMP/$bay-$1.bin" ||
      e2e_fail "$1: the $bay device's memory differs from the image"
  done
}
# Each bay's one attempt in the records (JSON lines, "Bay" and "Result" among the fields).
check_records() {
  local bay results
  [[ $(grep -c . "$2") -eq 2 ]] || e2e_fail "$1 made $(grep -c . "$2") attempts, not 2"
  for bay in left right; do
    results=$(grep -E "\"Bay\": *\"$bay\"" "$2" | e2e_json_field Result) ||
      e2e_fail "$1 made no attempt in bay $bay"
    [[ "$results" == "Upgrade Finish" ]] || e2e_fail "$1's attempt in bay $bay ended with \"$results\""
    [[ $(grep -E "\"Bay\": *\"$bay\"" "$2" | e2e_json_field DeviceName) == "$DEVICE" ]] ||
      e2e_fail "$1's attempt in bay $bay was not on $DEVICE"
  done
}

# --- 1. the station ---
start_devices station
status=0
cli_exe --pace 0 station "$E2E_TMP/image.bin" "${BAYS[@]}" --probe-interval 1 --stop-after 4 \
  --history none --record "$E2E_TMP/station.jsonl" --events >"$E2E_TMP/events.out" \
  2>"$E2E_TMP/station.err" || status=$?
[[ $status -eq 0 ]] || e2e_fail "the station exited $status: $(tail -n 3 "$E2E_TMP/station.err")"
check_records station "$E2E_TMP/station.jsonl"
for bay in left right; do
  [[ $(grep -cF "\"bay\":\"$bay\",\"event\":\"started\"" "$E2E_TMP/events.out") -eq 1 &&
     $(grep -F "\"bay\":\"$bay\",\"event\":\"finished\"" "$E2E_TMP/events.out" |
       grep -c '"result":"Upgrade Finish"') -eq 1 ]] ||
    e2e_fail "the station's events do not show one attempt in bay $bay"
done
check_devices station

# --- 2. upgrade --all over the same bays ---
start_devices all
status=0
cli_exe --pace 0 --json upgrade "$E2E_TMP/image.bin" --all "${BAYS[@]}" 2>"$E2E_TMP/all.err" |
  tr -d '\r' >"$E2E_TMP/all.json" || status=$?
[[ $status -eq 0 ]] || { cat "$E2E_TMP/all.json" >&2; e2e_fail "upgrade --all over the bays exited $status"; }
[[ $(e2e_json_field Bay "$E2E_TMP/all.json" | sort | paste -sd ' ') == "left right" &&
   $(e2e_json_field result "$E2E_TMP/all.json" | sort -u) == "Upgrade Finish" ]] ||
  { cat "$E2E_TMP/all.json" >&2; e2e_fail "upgrade --all did not upgrade one device in each bay"; }
check_devices all

# --- 3. tagging refused where the adapter's driver takes the tags off ---
# B becomes a switch: tvb0 its trunk, VLAN 12 its access port to device namespace 2.
e2e_add_device 2 "$VLAN_MAC"
e2e_start_switch "$SWITCH" tvs2:12
e2e_spawn_d 2 vlan "$TARGET" -i tvd0 --board 001122334455
e2e_wait_for_line "$E2E_TMP/vlan.err" "ready"
class() { WINEPREFIX="$WINE_PREFIX_a" "$WINE_PROGRAM" reg add "$CLASS_KEY" "$@" /f >/dev/null 2>&1; }
class /v NetCfgInstanceId /t REG_SZ /d "$GUID0" || e2e_fail "wine reg add failed"
class /v '*PriorityVLANTag' /t REG_SZ /d 3 || e2e_fail "wine reg add failed"
REFUSAL="adapter \"tva0\" cannot carry VLAN 12 tagged by Tarvik: its driver takes the VLAN tags off the frames it receives (\"Priority & VLAN\" is on); turn \"Priority & VLAN\" off in the adapter's advanced properties, or give each bay an adapter of its own"
status=0
cli_exe -i tva0.12 browse >/dev/null 2>"$E2E_TMP/refused.err" || status=$?
[[ $status -eq 31 ]] || e2e_fail "tagging on an adapter that takes tags off exited $status, not 31"
printf '%s\n' "Open Adapter Fail !" "$REFUSAL" >"$E2E_TMP/refused.expected"
tr -d '\r' <"$E2E_TMP/refused.err" >"$E2E_TMP/refused.out"
e2e_expect_same "$E2E_TMP/refused.expected" "$E2E_TMP/refused.out" \
  "tagging on an adapter that takes tags off was not refused in its one line"
status=0
cli_exe --pace 0 station "$E2E_TMP/image.bin" --bay "plain=tva1" --bay "tagged=tva0.12" \
  --stop-after 1 --history none 2>"$E2E_TMP/refused_bay.err" >/dev/null || status=$?
[[ $status -eq 31 ]] || e2e_fail "a station with a bay on that adapter's VLAN exited $status, not 31"
tr -d '\r' <"$E2E_TMP/refused_bay.err" | grep -qxF "$REFUSAL" ||
  e2e_fail "the station did not say why bay tagged could not be opened"
# By its {GUID}: doctor finds a bay among the listed adapters by that name alone.
cli_exe doctor --bay "tagged=$GUID0.12" 2>&1 | tr -d '\r' >"$E2E_TMP/doctor.out" || true
grep -qF "fail  the adapter could not be opened: $REFUSAL" "$E2E_TMP/doctor.out" ||
  e2e_fail "doctor did not say why the bay on that adapter's VLAN could not be opened"

class /v '*PriorityVLANTag' /t REG_SZ /d 0 || e2e_fail "wine reg add failed"
cli_exe -i tva0.12 browse 2>"$E2E_TMP/tagged.err" | tr -d '\r' >"$E2E_TMP/tagged.out" ||
  e2e_fail "browse on VLAN 12 of tva0 failed: $(tr -d '\r' <"$E2E_TMP/tagged.err")"
echo QV000C01 >"$E2E_TMP/tagged.expected"
e2e_expect_same "$E2E_TMP/tagged.expected" "$E2E_TMP/tagged.out" \
  "browse on VLAN 12 of tva0 did not find the device behind the switch's VLAN 12 port"

e2e_pass "two bays on two adapters (friendly name and {GUID}), one device address: the station and upgrade --all flashed each device once under its bay; tagging refused in one line on an adapter whose driver takes the tags off, and done with it off"
