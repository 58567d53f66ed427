# shellcheck shell=bash
# Reads a trace back through the repository's Wireshark dissector with tshark.
#
#   source tests/trace/decode.sh
#   trace_require_tshark SCRATCH_DIR     # exits 77 (skipped), saying why, without tshark
#   trace_decode FILE FIELD...           # one line per frame: the fields, tab-separated
#   trace_frame_count FILE               # frames in the file, decoded or not
#
# tshark runs with a scratch HOME, so that no personal profile or plugin takes part, and its
# warning about running as root is dropped; any other word on its stderr (a Lua error, a file
# cut short) fails the caller.

TRACE_DISSECTOR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../wireshark" && pwd)/tarvik.lua"

trace_require_tshark() {
  if ! command -v tshark >/dev/null 2>&1; then
    echo "SKIPPED: tshark is not installed (Debian package tshark; scripts/bootstrap installs it)" >&2
    exit 77
  fi
  TRACE_HOME="$1/tshark-home"
  mkdir -p "$TRACE_HOME"
}

_trace_tshark() {
  local status=0
  HOME="$TRACE_HOME" XDG_CONFIG_HOME="$TRACE_HOME" tshark -n "$@" 2>"$TRACE_HOME/tshark.err" ||
    status=$?
  if grep -v 'Running as user "root"' "$TRACE_HOME/tshark.err" | grep -q .; then
    cat "$TRACE_HOME/tshark.err" >&2
    status=1
  fi
  return "$status"
}

trace_decode() {
  local file=$1
  shift
  local fields=()
  for field in "$@"; do fields+=(-e "$field"); done
  _trace_tshark -r "$file" -X lua_script:"$TRACE_DISSECTOR" -T fields -E separator=/t "${fields[@]}"
}

trace_frame_count() {
  _trace_tshark -r "$1" -T fields -e frame.number | wc -l
}
