#!/usr/bin/env bash
# What checking a signature costs: reading and verifying a 64 MiB image (what `info` costs with
# a key beyond what it costs without) against b2sum of the same file (the floor: one pass of
# BLAKE2b over it), and a pace-0 upgrade of a 1 MiB image on
# the lab with a signature against one without. Prints each ratio; asserts nothing.
#   bash bench/signature_bench.sh <build dir>     (needs Debian's minisign)
set -uo pipefail
build="$(cd "${1:-build}" && pwd)"
cli="$build/src/cli/tarvik-cli"
mkimage="$build/tools/tarvik-mkimage"
verify="$build/tests/image/tarvik_minisign_verify"
command -v minisign >/dev/null || { echo "signature bench: no minisign" >&2; exit 77; }
tmp=$(mktemp -d /tmp/tarvik-sigbench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state"

minisign -G -W -p k.pub -s k.sec >/dev/null
"$mkimage" --size $((64 << 20)) --seed 5 big.bin >/dev/null
minisign -S -s k.sec -m big.bin >/dev/null
"$mkimage" --size $((1 << 20)) --seed 6 --fw-version 0102 one.bin >/dev/null
minisign -S -s k.sec -m one.bin >/dev/null
cat big.bin >/dev/null  # both sides read it from the page cache

# best MS COMMAND...: the fastest of five runs, in milliseconds.
best() {
  local fastest="" run start end
  for run in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "signature bench: $* failed" >&2; exit 1; }
    end=$(date +%s%N)
    run=$(((end - start) / 1000000))
    [[ -z "$fastest" || $run -lt $fastest ]] && fastest=$run
  done
  echo "$fastest"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

b2=$(best b2sum big.bin)
checked=$(best "$verify" k.pub big.bin.minisig big.bin)
info_on=$(best "$cli" --lab info big.bin --key k.pub)
info_off=$(best "$cli" --lab info big.bin --signatures off)
# The run's own check is what info costs with the key beyond what it costs without.
check=$((info_on - info_off))
echo "64 MiB: b2sum $b2 ms; info with the key $info_on ms, without $info_off ms: the check $check ms; the stand-alone verifier $checked ms"
echo "check / b2sum: $(ratio "$check" "$b2") (target <= 1.25)"

upgrade() { "$cli" --lab --pace 0 --progress plain upgrade one.bin QV1A2B3C --history none "$@"; }
signed=$(best upgrade --key k.pub)
plain=$(best upgrade --signatures off)
echo "1 MiB pace-0 upgrade: signed $signed ms, unsigned $plain ms"
echo "signed / unsigned upgrade: $(ratio "$signed" "$plain") (target <= 1.02)"
