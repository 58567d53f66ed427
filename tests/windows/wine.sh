# shellcheck shell=bash
# Running the Windows programs under Wine for the tests in this folder: a fresh Wine prefix per
# test (and per network namespace: Wine's server lists the interfaces of the namespace it starts
# in), made before the first program runs so that none pays for it or sees it half made.
#
#   source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"
#   wine_setup WINDOWS_BUILD            # WINE_BUILD=its absolute path; checks Wine is there
#   wine_prefix NAME [CMD-PREFIX...]    # makes prefix NAME, its server started by CMD-PREFIX
#                                       # (e.g. ip netns exec NS); sets WINE_PREFIX_<NAME>
#   wine_run NAME [CMD-PREFIX...] -- PROGRAM.exe ARGS...   # runs a program in that prefix
# Prefixes are removed (and their servers ended) by wine_cleanup, which the caller runs at exit.

WINE_PROGRAM="$(command -v wine || echo /usr/lib/wine/wine64)"
WINE_BUILD=""
_wine_prefixes=()

wine_setup() {
  WINE_BUILD="$(cd "$1" && pwd)"
  [[ -x "$WINE_PROGRAM" ]] || { echo "wine is not installed (scripts/bootstrap)" >&2; exit 77; }
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

wine_cleanup() {
  local prefix
  for prefix in "${_wine_prefixes[@]}"; do
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
  done
}

wine_prefix() {
  local name="$1"
  shift
  local prefix
  prefix="$(mktemp -d "/tmp/tarvik-wine-$name.XXXXXX")"
  _wine_prefixes+=("$prefix")
  printf -v "WINE_PREFIX_$name" '%s' "$prefix"
  WINEPREFIX="$prefix" "$@" "$WINE_PROGRAM" cmd /c exit >/dev/null 2>&1
}

wine_run() {
  local name="$1"
  shift
  local launcher=()
  while [[ $# -gt 0 && "$1" != "--" ]]; do
    launcher+=("$1")
    shift
  done
  shift
  local var="WINE_PREFIX_$name"
  WINEPREFIX="${!var}" "${launcher[@]}" "$WINE_PROGRAM" "$@"
}
