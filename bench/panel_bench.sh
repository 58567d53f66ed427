#!/usr/bin/env bash
# The operator panel's cost to a station and its speed from event to tile (bench/panel_bench.py).
# usage: bash bench/panel_bench.sh BUILD_DIR [RUNS]
set -uo pipefail
build="$1"
exec /usr/bin/python3 "$(dirname "$0")/panel_bench.py" "$build/src/cli/tarvik-cli" \
  "$build/lab/sample.bin" "${2:-5}"
