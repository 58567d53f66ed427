# A fresh Wine prefix whose registry holds only the network cards a test imports. Sourced by
# tests/windows/*_test.sh, which are called as: bash SCRIPT <linux build> <windows build>.
#
# Wine's ndis.sys writes the cards of the namespace its server starts in under NetworkCards,
# some time after the server starts; it is kept from loading here, so that the registry holds
# the test's cards and nothing else, whenever it is read.

# Skips (77) without Wine or the tools named; makes the prefix; sets WINE, WINEPREFIX, WORK
# (a folder removed at the end), CLI and TARGET (the Windows programs), LINUX_CLI.
wine_registry_setup() {
  local linux_build="$1" windows_build="$2"
  shift 2
  WINE="$(command -v wine || echo /usr/lib/wine/wine64)"
  local tool
  for tool in "$WINE" wineserver "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "$(basename "$0" .sh): skipped: $tool is not installed" >&2
      exit 77
    fi
  done
  windows_build="$(cd "$windows_build" && pwd)"
  linux_build="$(cd "$linux_build" 2>/dev/null && pwd)"
  CLI="$windows_build/src/cli/tarvik-cli.exe"
  TARGET="$windows_build/src/device_daemon/tarvik-target.exe"
  LINUX_CLI="$linux_build/src/cli/tarvik-cli"
  WORK="$(mktemp -d /tmp/tarvik-wine-registry.XXXXXX)"
  export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;ndis.sys="
  trap wine_registry_cleanup EXIT
  "$WINE" cmd /c exit >/dev/null 2>&1
}

wine_registry_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}

# Replaces the network cards with those of the REGEDIT4 text on stdin (none: no NetworkCards
# key at all).
wine_registry_cards() {
  local key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards'
  "$WINE" reg delete "$key" /f >/dev/null 2>&1
  cat >"$WORK/cards.reg"
  if [[ -s "$WORK/cards.reg" ]]; then
    "$WINE" regedit "$WORK/cards.reg" >/dev/null 2>&1
  fi
}
