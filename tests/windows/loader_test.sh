#!/usr/bin/env bash
# The Windows programs without a usable wpcap.dll, under Wine: none at all, one that lacks a
# function the programs need, WinPcap's, and an Npcap-like one whose adapters will not open
# (one of them kept for administrators). Each ends with its one message and its status, never
# with a crash. The DLLs are built here from a small C source and put where the programs look
# first, System32\Npcap (and once in the system folder, where the programs look next).
#   bash loader_test.sh <linux build> <windows build>
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_registry.sh"
cc=x86_64-w64-mingw32-gcc-posix
wine_registry_setup "${1:-build}" "${2:-build-windows}" "$cc"
card='{0000BEEF-0000-0000-0000-000000000001}'
wine_registry_cards <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="$card"
"Description"="Test card"
EOF
npcap_folder="$WINEPREFIX/drive_c/windows/system32/Npcap"
mkdir -p "$npcap_folder"

# Every function the programs require, answering as a library that can open nothing. Built
# with -DVERSION="..." for pcap_lib_version's answer, -DLEAVE_OUT_<name> to leave one out,
# -DOPENS to let pcap_create succeed and -DACTIVATE=<status> for pcap_activate's answer.
cat >"$WORK/wpcap.c" <<'EOF'
#include <stddef.h>
#define API __declspec(dllexport)
static char handle;
#ifndef LEAVE_OUT_pcap_lib_version
API const char* pcap_lib_version(void) { return VERSION; }
#endif
#ifndef LEAVE_OUT_pcap_create
API void* pcap_create(const char* source, char* error)
{
#ifdef OPENS
    return &handle;
#else
    const char* text = "test library: no adapter opens here";
    size_t i = 0;
    for (; text[i] != '\0'; ++i) error[i] = text[i];
    error[i] = '\0';
    (void)source;
    return NULL;
#endif
}
#endif
#define FAILING(name) API int name(void) { return -1; }
#define SUCCEEDING(name) API int name(void) { return 0; }
#ifndef LEAVE_OUT_pcap_set_snaplen
SUCCEEDING(pcap_set_snaplen)
#endif
#ifndef LEAVE_OUT_pcap_set_promisc
SUCCEEDING(pcap_set_promisc)
#endif
#ifndef LEAVE_OUT_pcap_set_timeout
SUCCEEDING(pcap_set_timeout)
#endif
#ifndef LEAVE_OUT_pcap_activate
API int pcap_activate(void* pcap) { return ACTIVATE; }
#endif
#ifndef LEAVE_OUT_pcap_close
API void pcap_close(void* pcap) {}
#endif
#ifndef LEAVE_OUT_pcap_next_ex
FAILING(pcap_next_ex)
#endif
#ifndef LEAVE_OUT_pcap_breakloop
API void pcap_breakloop(void* pcap) {}
#endif
#ifndef LEAVE_OUT_pcap_sendpacket
FAILING(pcap_sendpacket)
#endif
#ifndef LEAVE_OUT_pcap_compile
FAILING(pcap_compile)
#endif
#ifndef LEAVE_OUT_pcap_setfilter
FAILING(pcap_setfilter)
#endif
#ifndef LEAVE_OUT_pcap_freecode
API void pcap_freecode(void* program) {}
#endif
#ifndef LEAVE_OUT_pcap_geterr
API const char* pcap_geterr(void* pcap) { return "test library: refused"; }
#endif
#ifndef LEAVE_OUT_pcap_datalink
API int pcap_datalink(void* pcap) { return 1; }
#endif
#ifndef LEAVE_OUT_pcap_statustostr
API const char* pcap_statustostr(int status) { return "test status"; }
#endif
EOF

install_text='install Npcap from https://npcap.com (with "WinPcap API-compatible mode" ticked, and without "Restrict Npcap driver'"'"'s access to Administrators only")'
npcap_text="Npcap is not installed: $install_text"
dll_path='C:\windows\system32\Npcap\wpcap.dll'
winpcap='WinPcap version 4.1.3 (packet.dll version 4.1.0.2980), based on libpcap version 1.0 branch 1_0_rel0b (20091008)'
npcap='Npcap version 1.79, based on libpcap version 1.10.5'
admin_text=' (Npcap was installed for administrators only: run this program as administrator, or install Npcap again without "Restrict Npcap driver'"'"'s access to Administrators only")'

failed=0
# Runs a Windows program (under $overrides); it must end with the status and say exactly the
# lines given on stderr, and nothing on stdout.
expect() {
  local label="$1" want_status="$2" want_err="$3"
  shift 3
  WINEDLLOVERRIDES="$overrides" timeout 60 "$WINE" "$@" >"$WORK/out" 2>"$WORK/err"
  local status=$?
  local err
  err="$(tr -d '\r' <"$WORK/err")"
  if [[ $status -ne $want_status || "$err" != "$want_err" || -s "$WORK/out" ]]; then
    echo "loader_test: $label: status $status (want $want_status), said:" >&2
    cat "$WORK/out" "$WORK/err" >&2
    echo "loader_test: wanted:" >&2
    printf '%s\n' "$want_err" >&2
    failed=1
  else
    echo "loader_test: $label: status $status, one clear message"
  fi
}

# name | the C compiler's flags (none: no DLL at all) | the message
cases=(
  "missing||$npcap_text"
  "no pcap_lib_version|-DLEAVE_OUT_pcap_lib_version|$dll_path has no pcap_lib_version: it is too old or not Npcap; $install_text"
  "no pcap_next_ex|-DLEAVE_OUT_pcap_next_ex|$dll_path has no pcap_next_ex: it is too old or not Npcap; $install_text"
  "no pcap_statustostr|-DLEAVE_OUT_pcap_statustostr|$dll_path has no pcap_statustostr: it is too old or not Npcap; $install_text"
  "WinPcap|-DVERSION='\"$winpcap\"'|WinPcap is installed ($winpcap), which this program cannot use: uninstall it, then $install_text"
  "adapter does not open|-DVERSION='\"$npcap\"'|test library: no adapter opens here"
  "administrators only|-DVERSION='\"$npcap\"' -DOPENS -DACTIVATE=-8|test status: test library: refused$admin_text"
  # Last, as it replaces Wine's own DLL in the system folder: Npcap installed in WinPcap's
  # place only.
  "system folder, no pcap_next_ex|-DLEAVE_OUT_pcap_next_ex|${dll_path/\\Npcap/} has no pcap_next_ex: it is too old or not Npcap; $install_text"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name flags message <<<"$row"
  rm -f "$npcap_folder/wpcap.dll"
  if [[ -n "$flags" ]]; then
    # Only the DLL built here: Wine's own would be taken for any wpcap.dll otherwise.
    overrides="$WINEDLLOVERRIDES;wpcap=n"
    eval "defines=($flags)"
    [[ "$flags" == *VERSION* ]] || defines+=('-DVERSION="Npcap version 1.79"')
    [[ "$flags" == *ACTIVATE* ]] || defines+=(-DACTIVATE=-1)
    folder="$npcap_folder"
    [[ "$name" == "system folder"* ]] && folder="$npcap_folder/.."
    if ! "$cc" -shared -static-libgcc -o "$folder/wpcap.dll" "${defines[@]}" \
      "$WORK/wpcap.c" 2>"$WORK/cc.log"; then
      echo "loader_test: $name: the test DLL did not build:" >&2
      cat "$WORK/cc.log" >&2
      failed=1
      continue
    fi
  else
    overrides="$WINEDLLOVERRIDES;wpcap="
  fi
  expect "$name, tarvik-cli" 31 $'Open Adapter Fail !\n'"$message" "$CLI" -i "$card" browse
  expect "$name, tarvik-target" 1 "tarvik-target: cannot listen on lo: $message" "$TARGET" -i lo
done
exit $failed
