#!/usr/bin/env bash
# Adapter discovery on Wine's real registry, from the REGEDIT4 fixtures the Linux tests read
# (tests/fixtures/registry/), imported with Wine's regedit: no NetworkCards key, the key
# without cards, Hidden cards, cards whose adapter is not there, and the other odd cards of
# nt_odd_cards.reg. tarvik-cli.exe lists what the Linux discovery lists for the same file
# (tests/commands/adapter_discovery_test.cpp) and ends with the same texts and statuses. As
# root, the Linux tarvik-cli in a namespace with no card but lo must answer byte for byte as
# the Windows one does without cards.
#   bash registry_test.sh <linux build> <windows build>
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine_registry.sh"
wine_registry_setup "${1:-build}" "${2:-build-windows}"
fixtures="$here/../fixtures/registry"

failed=0
# Runs a program; it must end with the status and print exactly the lines given (stdout,
# stderr; Windows' line ends aside). A stderr of "~TEXT" only has to begin with TEXT.
expect() {
  local label="$1" want_status="$2" want_out="$3" want_err="$4"
  shift 4
  timeout 60 "$@" >"$WORK/out" 2>"$WORK/err"
  local status=$?
  local out err
  out="$(tr -d '\r' <"$WORK/out")"
  err="$(tr -d '\r' <"$WORK/err")"
  local err_ok=0
  if [[ "$want_err" == "~"* ]]; then
    [[ "$err" == "${want_err#\~}"* ]] && err_ok=1
  else
    [[ "$err" == "$want_err" ]] && err_ok=1
  fi
  if [[ $status -ne $want_status || "$out" != "$want_out" || $err_ok -ne 1 ]]; then
    echo "registry_test: $label: status $status (want $want_status), printed:" >&2
    printf '%s\n' "$out" "$err" >&2
    echo "registry_test: wanted:" >&2
    printf '%s\n' "$want_out" "$want_err" >&2
    failed=1
  else
    echo "registry_test: $label: status $status"
  fi
}

# No NetworkCards key at all (a 9x machine's keys would not be read: the OS is of the NT family).
wine_registry_cards <"$fixtures/no_network_keys.reg"
expect "no key, adapters" 32 "" "Open Registry Fail !" "$WINE" "$CLI" adapters
expect "no key, -i" 32 "" "Open Registry Fail !" "$WINE" "$CLI" -i lo browse

# The key without cards.
wine_registry_cards <"$fixtures/nt_no_cards.reg"
no_card="No LAN Card Detected !"
expect "no card, adapters" 30 "" "$no_card" "$WINE" "$CLI" adapters
expect "no card, -i" 30 "" "$no_card" "$WINE" "$CLI" -i lo browse
expect "no card, --json adapters" 30 '{"error":"No LAN Card Detected !"}' "" \
  "$WINE" "$CLI" --json adapters
if [[ $EUID -eq 0 ]] && command -v ip >/dev/null && [[ -x "$LINUX_CLI" ]]; then
  namespace="tarvik-winreg-$$"
  if ip netns add "$namespace"; then
    for arguments in "adapters" "-i lo browse" "--json adapters"; do
      # shellcheck disable=SC2086
      WINEDLLOVERRIDES="$WINEDLLOVERRIDES" timeout 60 "$WINE" "$CLI" $arguments \
        >"$WORK/windows.out" 2>"$WORK/windows.err"
      windows_status=$?
      # shellcheck disable=SC2086
      ip netns exec "$namespace" "$LINUX_CLI" $arguments >"$WORK/linux.out" 2>"$WORK/linux.err"
      linux_status=$?
      if [[ $windows_status -ne $linux_status ]] ||
        ! cmp -s <(tr -d '\r' <"$WORK/windows.out") "$WORK/linux.out" ||
        ! cmp -s <(tr -d '\r' <"$WORK/windows.err") "$WORK/linux.err"; then
        echo "registry_test: no card, $arguments: Windows (status $windows_status) and Linux" \
          "(status $linux_status) differ:" >&2
        cat "$WORK/windows.out" "$WORK/windows.err" "$WORK/linux.out" "$WORK/linux.err" >&2
        failed=1
      else
        echo "registry_test: no card, $arguments: as on Linux (status $linux_status)"
      fi
    done
    ip netns del "$namespace"
  fi
else
  echo "registry_test: no card: not compared with Linux (needs root, ip and the Linux build)"
fi

# Cards that are all hidden.
wine_registry_cards <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\1]
"ServiceName"="{5EB8E1A0-0000-4000-8000-000000000001}"
"Description"="Hidden"
"Hidden"=dword:00000001
EOF
expect "hidden cards only, adapters" 30 "" "$no_card" "$WINE" "$CLI" adapters

# Two cards whose adapters are not there, and a hidden one.
wine_registry_cards <"$fixtures/nt_two_cards.reg"
expect "two cards, adapters" 0 '0  3Com EtherLink XL 10/100 PCI NIC (3C905-TX)  \Device\El90x1
1  Intel(R) PRO/100+ PCI Adapter  \Device\E100B1' "" "$WINE" "$CLI" adapters
expect "two cards, the first opened" 31 "" "~Open Adapter Fail !"$'\n' "$WINE" "$CLI" browse
expect "two cards, -i the hidden one" 37 "" "tarvik-cli: no adapter NdisWan1; the adapters are:
  0  3Com EtherLink XL 10/100 PCI NIC (3C905-TX)  (\Device\El90x1)
  1  Intel(R) PRO/100+ PCI Adapter  (\Device\E100B1)" "$WINE" "$CLI" -i NdisWan1 browse

# The odd cards.
wine_registry_cards <"$fixtures/nt_odd_cards.reg"
guid() { echo "{5EB8E1A0-0000-4000-8000-$1}"; }
odd_list="  0  A card that is not there  (\\Device\\$(guid 00000000DEAD))
  1  Shown, its Hidden text too long to read  (\\Device\\$(guid 000000000004))
  2  No service name  (\\Device\\)
  3  Under the longest name read  (\\Device\\$(guid 000000000006))"
odd_adapters="$(sed -E 's/^  //; s/  \((.*)\)$/  \1/' <<<"$odd_list")"
expect "odd cards, adapters" 0 "$odd_adapters" "" "$WINE" "$CLI" adapters
expect "odd cards, -i a card not there" 31 "" "~Open Adapter Fail !"$'\n' \
  "$WINE" "$CLI" -i "$(guid 00000000DEAD)" device QV000001
expect "odd cards, -i the shown one" 31 "" "~Open Adapter Fail !"$'\n' \
  "$WINE" "$CLI" -i "\\Device\\$(guid 000000000004)" browse
for hidden in 000000000002 000000000003 000000000007 000000000008; do
  expect "odd cards, -i $hidden" 37 "" "tarvik-cli: no adapter $(guid $hidden); the adapters are:
$odd_list" "$WINE" "$CLI" -i "$(guid $hidden)" browse
done

# A description the real registry holds in UTF-16 is shown in UTF-8.
LC_ALL=C.UTF-8 "$WINE" reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\1' \
  /v Description /d "Realtek® Gigabit — Ü" /f >/dev/null 2>&1
expect "a description not in ASCII" 0 "${odd_adapters/A card that is not there/Realtek® Gigabit — Ü}" \
  "" "$WINE" "$CLI" adapters
exit $failed
