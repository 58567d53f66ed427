#!/usr/bin/env bash
# tarvik.exe --lab --key FILE under Wine, with a key and signatures made by Debian's minisign:
# once the signed sample image is chosen, the status bar names its signer; signed by a key not
# trusted, Upgrade is one message box captioned Tarvik with the refusal's text, and no upgrade
# starts. Skips (77) without minisign.
#   bash desktop_signed_test.sh <linux build> <windows build>
set -uo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/wine.sh"
source "$here/desktop.sh"
command -v minisign >/dev/null || { echo "SKIP: no minisign (Debian's minisign)" >&2; exit 77; }
linux_build="$(cd "$1" && pwd)"
wine_setup "$2"
desktop_setup "$WINE_BUILD/tests/desktop-signed" || exit $?
keys="$(mktemp -d /tmp/tarvik-desktop-keys.XXXXXX)"
trap 'desktop_stop; wine_cleanup; rm -rf "$keys"' EXIT
if [[ -n "${TARVIK_SHARED_WINEPREFIX:-}" ]]; then
  WINE_PREFIX_desktop="$TARVIK_SHARED_WINEPREFIX"
else
  wine_prefix desktop
fi
windows_path() { WINEPREFIX="$WINE_PREFIX_desktop" winepath -w "$1" 2>/dev/null; }

[[ -f "$linux_build/lab/sample.bin" ]] || { echo "desktop_signed_test: no lab sample (make build)" >&2; exit 1; }
cp "$linux_build/lab/sample.bin" "$keys/fw.bin"
minisign -G -W -p "$keys/release.pub" -s "$keys/release.sec" >/dev/null
minisign -G -W -p "$keys/other.pub" -s "$keys/other.sec" >/dev/null
minisign -S -s "$keys/release.sec" -m "$keys/fw.bin" -t "tarvik boards=001122334455" >/dev/null
# As the status bar shows it: 16 digits (minisign leaves out leading zeros).
key_id="$(sed -n '1s/.*minisign public key //p' "$keys/release.pub" | awk '{ printf "%16s", $0 }' | tr ' ' 0)"
image="$(windows_path "$keys/fw.bin")"

desktop_start desktop -- --lab --key "$(windows_path "$keys/release.pub")"
desktop_wait "$MAIN_TITLE" || exit 1
desktop_wait_status "$MAIN_TITLE" "Ready"

# The signed image: its signer in the status bar, while its information is up and after.
desktop_keys ctrl+o
desktop_wait "Open" || exit 1
xdotool type --delay 10 "$image"
desktop_keys Return
desktop_wait "File Information" || exit 1
desktop_wait_status "$MAIN_TITLE" "Signed by $key_id"
desktop_keys Return
desktop_wait_gone "File Information"
desktop_wait_status "$MAIN_TITLE" "Signed by $key_id"
desktop_shot "$MAIN_TITLE" signed-by

# The device, then the same file signed again by a key not trusted: refused at Upgrade.
desktop_keys alt+b t
desktop_wait "Browsed Devices on Network" 90 || exit 1
desktop_click_row "Browsed Devices on Network" 1046 QV1A2B3C
desktop_keys Return
desktop_wait "Device Information" 60 || exit 1
desktop_keys Return
desktop_wait_gone "Browsed Devices on Network"
minisign -S -s "$keys/other.sec" -m "$keys/fw.bin" >/dev/null
desktop_keys alt+u p
desktop_wait "Prepare For Upgrade" || exit 1
desktop_click "Prepare For Upgrade" 32770
desktop_wait "Tarvik" 60 || exit 1
desktop_texts "Tarvik" | awk -F'\t' '$1 == "control" { print $4 }' | grep -qxF "Untrusted Signature !" ||
  desktop_fail "the message box does not say \"Untrusted Signature !\": $(desktop_texts Tarvik)"
desktop_shot "Tarvik" untrusted
desktop_keys Return
desktop_wait_gone "Tarvik"
desktop_texts "Upgrade Process" >/dev/null 2>&1 && desktop_fail "an upgrade started"
desktop_keys Escape
desktop_wait_gone "Prepare For Upgrade"
desktop_keys alt+f x
desktop_wait_gone "$MAIN_TITLE"
exit $DESKTOP_FAILED
