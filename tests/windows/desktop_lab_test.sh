#!/usr/bin/env bash
# tarvik.exe --lab under Wine on an X server, walked through with key and mouse input: Select
# BIN File with the lab's sample image typed into the file-open dialog, Browse Target, the
# device's information, Prepare Upgrade and an upgrade of QV1A2B3C to "Upgrade Finish", the
# board-code mismatch of QV000007 (the same message tarvik-cli gives), About and Exit. Every
# dialog's controls are read back and compared with its template; the pictures of the windows
# are saved in <windows build>/tests/desktop-lab/. With --trace, the frames are written too.
#   bash desktop_lab_test.sh <linux build> <windows build>
set -uo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/wine.sh"
source "$here/desktop.sh"
linux_build="$(cd "$1" && pwd)"
wine_setup "$2"
desktop_setup "$WINE_BUILD/tests/desktop-lab" || exit $?
trap 'desktop_stop; wine_cleanup' EXIT
# The prefix of the other Windows tests when they run together (scripts/windows-test).
if [[ -n "${TARVIK_SHARED_WINEPREFIX:-}" ]]; then
  WINE_PREFIX_desktop="$TARVIK_SHARED_WINEPREFIX"
else
  wine_prefix desktop
fi

image_linux="$linux_build/lab/sample.bin"
[[ -f "$image_linux" ]] || { echo "desktop_lab_test: $image_linux is missing (make build)" >&2; exit 1; }
image="$(WINEPREFIX="$WINE_PREFIX_desktop" winepath -w "$image_linux" 2>/dev/null)"
# The message as the command line gives it for the same device and image (its notes, such as
# the signature left unchecked, begin with its name; the system's own texts do not).
message="$("$linux_build/src/cli/tarvik-cli" --lab --pace 0 upgrade "$image_linux" QV000007 2>&1 >/dev/null |
  grep -v '^tarvik-cli: ' | head -1)"
[[ -n "$message" ]] || { echo "desktop_lab_test: tarvik-cli gave no mismatch message" >&2; exit 1; }

trace="$DESKTOP_OUT/walkthrough.pcap"
rm -f "$trace"
desktop_start desktop -- --lab --trace "$(WINEPREFIX="$WINE_PREFIX_desktop" winepath -w "$trace")"
desktop_walkthrough "$image" QV1A2B3C QV000007 "$message"
# The trace is complete once the program has closed it, on its way out.
start=$SECONDS
while [[ ! -s "$trace" ]] && ((SECONDS - start < 30)); do sleep 0.2; done
[[ -s "$trace" ]] || desktop_fail "--trace wrote no frames"
echo "desktop_lab_test: pictures in $DESKTOP_OUT: $(cd "$DESKTOP_OUT" && ls *.png | tr '\n' ' ')"
exit $DESKTOP_FAILED
