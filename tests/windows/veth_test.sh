#!/usr/bin/env bash
# The Windows programs over a real link, under Wine, on Wine's wpcap.dll (which forwards to
# libpcap): namespaces A and B joined by veth pairs, each namespace with a Wine prefix whose
# server started there, so that the registry's NetworkCards lists that namespace's interfaces.
#   1. tarvik-cli.exe adapters lists the veth end by its description, \Device\{GUID} name and
#      friendly name; -i takes the name;
#   2. tarvik-cli.exe browses both frame types and upgrades a Linux tarvik-target (96 KiB,
#      --pace 0, --record, --trace): "Upgrade Finish", the device's memory equals the image,
#      the record's result and the trace read back by tshark with the dissector;
#   3. a typed-only device through --frame-type typed; the board-code mismatch exits 13;
#   4. --all upgrades the two fitting devices and skips the third;
#   5. Ctrl-C stops tarvik-cli.exe between frames with status 130, the device not reset;
#   6. a Linux tarvik-cli upgrades tarvik-target.exe under Wine, which stops cleanly on SIGINT;
#   7. tarvik.exe on Wine's capture DLL, walked through with key and mouse input on an X server:
#      tva0 chosen among the detected cards, the image's information, Browse Target, an
#      upgrade of the fitting device to "Upgrade Finish", the mismatch message, About, Exit
#      (tests/windows/desktop.sh; pictures in <windows build>/tests/desktop-veth/). Skipped,
#      and said so, without Xvfb and xdotool.
#   bash veth_test.sh <linux build> <windows build>
set -euo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/../e2e/netns.sh"
source "$here/wine.sh"
source "$here/desktop.sh"
windows_build="$2"
e2e_setup "$1"
wine_setup "$windows_build"
e2e_on_exit wine_cleanup

e2e_program CLI tarvik-cli
e2e_program TARGET tarvik-target
e2e_program MKIMAGE tarvik-mkimage
CLI_EXE="$WINE_BUILD/src/cli/tarvik-cli.exe"
TARGET_EXE="$WINE_BUILD/src/device_daemon/tarvik-target.exe"
[[ -f "$CLI_EXE" && -f "$TARGET_EXE" ]] || e2e_fail "the Windows programs are not built (make windows)"

# A second link for tarvik-target.exe, and a third for a device that answers typed frames only
# (a run starts with untyped frames: beside devices that answer those, browse never tries the
# typed ones).
e2e_add_pair tva1 02:54:56:00:01:0a tvb1 02:5a:17:00:01:0b
e2e_add_pair tva2 02:54:56:00:02:0a tvb2 02:5a:17:00:00:07

IMAGE="$E2E_TMP/image.bin"
IMAGE_BYTES=$((96 * 1024))
SEGMENT=0x2340
DUMP="$E2E_TMP/fitting.mem"
"$MKIMAGE" --size "$IMAGE_BYTES" --code-segment 2340 --seed 42 "$IMAGE" >/dev/null

# The prefixes are made after every interface is there: Wine's server lists them as it starts.
wine_prefix a ip netns exec "$E2E_NS_A"
wine_prefix b ip netns exec "$E2E_NS_B"
cli_exe() { wine_run a ip netns exec "$E2E_NS_A" -- "$CLI_EXE" "$@"; }

e2e_spawn_b fitting "$TARGET" -i "$E2E_IF_B" --board 001122334455 --dump "$DUMP"
FITTING_PID=$E2E_PID
e2e_spawn_b typed "$TARGET" -i tvb2 --variant typed --board 001122334455
e2e_spawn_b other "$TARGET" -i "$E2E_IF_B" --mac 02:5a:17:00:00:66 --board 001122334466
e2e_spawn_b another "$TARGET" -i "$E2E_IF_B" --mac 02:5a:17:00:00:0c --board 001122334455
for name in fitting typed other another; do
  e2e_wait_for_line "$E2E_TMP/$name.err" "ready"
done

# --- 1. adapters ---
cli_exe adapters | tr -d '\r' >"$E2E_TMP/adapters.out"
grep -E "^[0-9]+  $E2E_IF_A  \\\\Device\\\\\\{[0-9A-Fa-f-]+\\}  \"$E2E_IF_A\"\$" "$E2E_TMP/adapters.out" >/dev/null ||
  { cat "$E2E_TMP/adapters.out" >&2; e2e_fail "adapters does not list $E2E_IF_A with its {GUID} and friendly name"; }
GUID_NAME=$(grep " $E2E_IF_A " "$E2E_TMP/adapters.out" | awk '{print $3}')

# --- 2. browse, then an upgrade with its record and trace ---
cli_exe -i "$E2E_IF_A" browse | tr -d '\r' >"$E2E_TMP/browse.out"
printf '%s\n' QV00000B QV00000C QV000066 >"$E2E_TMP/browse.expected"
e2e_expect_same "$E2E_TMP/browse.expected" "$E2E_TMP/browse.out" "browse did not list the devices of tva0"
cli_exe -i tva2 --frame-type typed browse | tr -d '\r' >"$E2E_TMP/browse_typed.out"
echo QV000007 >"$E2E_TMP/browse_typed.expected"
e2e_expect_same "$E2E_TMP/browse_typed.expected" "$E2E_TMP/browse_typed.out" \
  "the typed browse did not find the typed-only device"
cli_exe -i "$GUID_NAME" --pace 0 --progress plain --trace "$E2E_TMP/upgrade.pcap" \
  upgrade "$IMAGE" QV00000B --record "$E2E_TMP/record.jsonl" 2>"$E2E_TMP/upgrade.err" >/dev/null ||
  { cat "$E2E_TMP/upgrade.err" >&2; e2e_fail "the upgrade through \\Device\\{GUID} failed"; }
tr -d '\r' <"$E2E_TMP/upgrade.err" | grep -q "^Upgrade Finish" || e2e_fail "the upgrade did not end with Upgrade Finish"
[[ $(e2e_json_field Result "$E2E_TMP/record.jsonl") == "Upgrade Finish" ]] ||
  e2e_fail "the record does not hold the result"
[[ $(e2e_json_field Sha256 "$E2E_TMP/record.jsonl") == "$(sha256sum "$IMAGE" | cut -d' ' -f1)" ]] ||
  e2e_fail "the record's Sha256 (hashed by Windows' CNG) is not the image's"
frames=$(tshark -X lua_script:"$here/../../wireshark/tarvik.lua" -r "$E2E_TMP/upgrade.pcap" \
  -Y 'tarvik.opcode == 2' 2>/dev/null | wc -l)
(( frames >= 2 * IMAGE_BYTES / 512 )) ||
  e2e_fail "the trace holds $frames write frames and their replies, not $((2 * IMAGE_BYTES / 512))"

# --- 3. frame types and the mismatch ---
cli_exe -i tva2 --frame-type typed --pace 0 upgrade "$IMAGE" QV000007 >/dev/null 2>&1 ||
  e2e_fail "the typed-only device's upgrade failed"
status=0
cli_exe -i "$E2E_IF_A" upgrade "$IMAGE" QV000066 >/dev/null 2>"$E2E_TMP/mismatch.err" || status=$?
[[ $status -eq 13 ]] || e2e_fail "the mismatch exited $status, not 13"
tr -d '\r' <"$E2E_TMP/mismatch.err" | grep -qx "Hardware Type Mismatch !" ||
  e2e_fail "no \"Hardware Type Mismatch !\""

# --- 4. --all: the two fitting devices upgraded at once, the third skipped ---
status=0
cli_exe -i "$E2E_IF_A" --pace 0 --json upgrade "$IMAGE" --all | tr -d '\r' >"$E2E_TMP/all.jsonl" ||
  status=$?
[[ $status -eq 0 ]] || { cat "$E2E_TMP/all.jsonl" >&2; e2e_fail "--all exited $status"; }
[[ $(e2e_json_field result "$E2E_TMP/all.jsonl" | sort | uniq -c | tr -s ' ') == \
  " 1 Hardware Type Mismatch !"$'\n'" 2 Upgrade Finish" ]] ||
  { cat "$E2E_TMP/all.jsonl" >&2; e2e_fail "--all did not upgrade two devices and skip the third"; }

# --- 7. tarvik.exe, walked through as a user would (before the fitting device stops below) ---
if desktop_setup "$WINE_BUILD/tests/desktop-veth"; then
  e2e_on_exit desktop_stop
  desktop_start a ip netns exec "$E2E_NS_A" --
  # Three cards in A: the choice comes first, before the main window.
  if desktop_wait "Detected LAN Cards:" 60; then
    desktop_check 142
    card="$(desktop_row_text "Detected LAN Cards:" 1046 "$E2E_IF_A")"
    desktop_click_row "Detected LAN Cards:" 1046 "$card"
    desktop_expect_item "Detected LAN Cards:" 1048 "$card"
    desktop_shot "Detected LAN Cards:" lan-cards
    desktop_keys Return
  fi
  message="$(grep -v "^tarvik-cli: " "$E2E_TMP/mismatch.err" | head -1 | tr -d '\r')"
  desktop_walkthrough "$(WINEPREFIX="$WINE_PREFIX_a" winepath -w "$IMAGE" 2>/dev/null)" \
    QV00000B QV000066 "$message"
  [[ $DESKTOP_FAILED -eq 0 ]] || e2e_fail "tarvik.exe's walk-through over $E2E_IF_A failed (above)"
else
  e2e_log "tarvik.exe's walk-through skipped: no X server tools (scripts/bootstrap installs them)"
fi

# --- Ctrl-C (SIGINT, which Wine hands the console program as Ctrl-C) stops it between frames ---
e2e_spawn_a interrupted env WINEPREFIX="$WINE_PREFIX_a" "$WINE_PROGRAM" "$CLI_EXE" -i "$E2E_IF_A" \
  --progress plain upgrade "$IMAGE" QV00000B
INTERRUPTED=$E2E_PID
e2e_wait_for_line "$E2E_TMP/interrupted.err" "^Upgrade\.\.\. 10 %" 30
resets_before=$(grep -c RESET "$E2E_TMP/fitting.out")
kill -INT "$INTERRUPTED"
status=0
e2e_wait_job "$INTERRUPTED" 10 || status=$?
[[ $status -eq 130 ]] || e2e_fail "an interrupted upgrade exited $status, not 130"
[[ $(grep -c RESET "$E2E_TMP/fitting.out") -eq $resets_before ]] ||
  e2e_fail "the interrupted upgrade still reset the device"

# --- the device's memory against the image ---
kill -INT "$FITTING_PID"
e2e_wait_job "$FITTING_PID" 10 >/dev/null || e2e_fail "tarvik-target did not end cleanly"
dd if="$DUMP" of="$E2E_TMP/written.bin" bs=16 skip=$((SEGMENT)) count=$((IMAGE_BYTES / 16)) status=none
cmp "$IMAGE" "$E2E_TMP/written.bin" || e2e_fail "the device's memory differs from the image"

# --- 6. the Linux command line against tarvik-target.exe ---
e2e_spawn_b windows_target env WINEPREFIX="$WINE_PREFIX_b" "$WINE_PROGRAM" "$TARGET_EXE" \
  -i tvb1 --mac 02:5a:17:00:02:0b --dump "Z:$E2E_TMP/windows.mem"
WINDOWS_TARGET=$E2E_PID
e2e_wait_for_line "$E2E_TMP/windows_target.err" "ready" 30
e2e_in_a "$CLI" -i tva1 --pace 0 upgrade "$IMAGE" QV00020B >/dev/null 2>"$E2E_TMP/to_windows.err" ||
  { cat "$E2E_TMP/to_windows.err" >&2; e2e_fail "the upgrade of tarvik-target.exe failed"; }
kill -INT "$WINDOWS_TARGET"
e2e_wait_job "$WINDOWS_TARGET" 20 >/dev/null || e2e_fail "tarvik-target.exe did not end cleanly on SIGINT"
dd if="$E2E_TMP/windows.mem" of="$E2E_TMP/windows_written.bin" bs=16 skip=$((SEGMENT)) \
  count=$((IMAGE_BYTES / 16)) status=none
cmp "$IMAGE" "$E2E_TMP/windows_written.bin" || e2e_fail "tarvik-target.exe's memory differs from the image"

e2e_pass "adapters by name and {GUID}, browse of both types, upgrades with record and trace, --all, the mismatch, Ctrl-C, tarvik-target.exe upgraded from Linux, and tarvik.exe walked through"
