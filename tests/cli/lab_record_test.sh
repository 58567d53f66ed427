#!/usr/bin/env bash
# The same device upgraded alone and among others on the built-in lab, each with --record: its
# two lines count the same frames, since both runs go through one per-device flow.
#   usage: lab_record_test.sh TARVIK_CLI IMAGE
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/netns.sh"
CLI=$1
IMAGE=$2
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT

fail() {
  echo "lab_record_test: $*" >&2
  exit 1
}

"$CLI" --lab --pace 0 --progress plain upgrade "$IMAGE" QV1A2B3C --record "$DIR/alone.jsonl" \
  >/dev/null 2>"$DIR/alone.err" || fail "the upgrade alone exited $?: $(cat "$DIR/alone.err")"
# QV000007 has another board code: the batch ends with 19, QV1A2B3C's own line with 0.
status=0
"$CLI" --lab --pace 0 --progress plain upgrade "$IMAGE" QV1A2B3C QV000007 \
  --record "$DIR/batch.jsonl" >/dev/null 2>&1 || status=$?
[[ $status -eq 19 ]] || fail "the batch exited $status, not 19"

field() {
  grep -F '"DeviceName":"QV1A2B3C"' "$1" | e2e_json_field "$2" || true
}
for name in FramesSent FramesResent FileSize Result ExitStatus; do
  alone=$(field "$DIR/alone.jsonl" "$name")
  batch=$(field "$DIR/batch.jsonl" "$name")
  [[ -n $alone && $alone == "$batch" ]] || fail "alone $alone, in a batch $batch"
done
[[ $(field "$DIR/alone.jsonl" Result) == "Upgrade Finish" ]] ||
  fail "the upgrade alone did not finish"
echo "lab_record_test: one record, alone or in a batch: $(field "$DIR/alone.jsonl" FramesSent)"
