#!/usr/bin/env bash
# The Windows build of tarvik-cli on the built-in lab under Wine answers as the Linux build
# does, byte for byte on stdout and stderr (line ends and elapsed times aside), with the same
# exit statuses:
# browse, the image's information block (text and --json), check, an upgrade to "Upgrade
# Finish", the board-code mismatch, and an unknown device name; a short station run; signed
# images (a verified upgrade and info, an unsigned image and another board's refused).
#   bash lab_test.sh <linux build> <windows build>
set -uo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
source "$here/wine.sh"
linux_build="$(cd "$1" && pwd)"
wine_setup "$2"
trap wine_cleanup EXIT
wine_prefix lab

image="$linux_build/lab/sample.bin"
linux_cli="$linux_build/src/cli/tarvik-cli"
windows_cli="$WINE_BUILD/src/cli/tarvik-cli.exe"
scratch="$(mktemp -d /tmp/tarvik-lab-test.XXXXXX)"
trap 'wine_cleanup; rm -rf "$scratch"' EXIT

failed=0
compare() {
  # Both at once: browsing and a device that never answers take their time on the lab's clock.
  "$linux_cli" "$@" >"$scratch/linux.out" 2>"$scratch/linux.err" &
  local linux_job=$!
  wine_run lab -- "$windows_cli" "$@" >"$scratch/windows.out" 2>"$scratch/windows.err"
  local windows_status=$?
  wait "$linux_job"
  local linux_status=$?
  # The elapsed times are the wall clock's, which no two runs share.
  local stream system
  for stream in out err; do
    for system in linux windows; do
      mv "$scratch/$system.$stream" "$scratch/$system.raw.$stream"
      tr -d '\r' <"$scratch/$system.raw.$stream" |
        sed -E 's/[0-9]{2}:[0-9]{2} elapsed/MM:SS elapsed/' >"$scratch/$system.$stream"
      rm -f "$scratch/$system.raw.$stream"
    done
  done
  if [[ $linux_status -ne $windows_status ]]; then
    echo "lab_test: $*: exit $windows_status on Windows, $linux_status on Linux" >&2
    failed=1
  fi
  for stream in out err; do
    if ! diff -u "$scratch/linux.$stream" "$scratch/windows.$stream" >&2; then
      echo "lab_test: $*: std$stream differs (above: Linux -, Windows +)" >&2
      failed=1
    fi
  done
}

compare --lab browse
compare --lab info "$image"
compare --lab --json info "$image"
compare --lab check "$image" QV1A2B3C
compare --lab --pace 0 --progress plain upgrade "$image" QV1A2B3C
compare --lab --pace 0 --progress plain upgrade "$image" QV000007
compare --lab device QV0000FF

# A station for two seconds, a device plugged in after one: the runs end in an order the clock
# decides, so only the closing line is compared with what the lab holds.
wine_run lab -- "$windows_cli" --lab --pace 0 station "$image" --probe-interval 0.5 \
  --lab-plug QV000101@1 --stop-after 2 >"$scratch/station.out" 2>"$scratch/station.err"
status=$?
if [[ $status -ne 0 ]] ||
   [[ $(tr -d '\r' <"$scratch/station.out" | tail -n 1) != \
      "station: passed 3, failed 0, skipped 1, in progress 0, - devices/h" ]]; then
  echo "lab_test: the station on the lab ended with $status:" >&2
  cat "$scratch/station.out" "$scratch/station.err" >&2
  failed=1
fi

# A file name no ANSI code page spells, written by each build's tarvik-mkimage and read by
# each build's tarvik-cli: the same bytes, and the same information block.
name="Bild-äß-ημ-画像"
"$linux_build/tools/tarvik-mkimage" --sample "$scratch/$name-linux.bin" >/dev/null
wine_run lab -- "$WINE_BUILD/tools/tarvik-mkimage.exe" --sample "$scratch/$name-windows.bin" >/dev/null
if ! cmp "$scratch/$name-linux.bin" "$scratch/$name-windows.bin"; then
  echo "lab_test: tarvik-mkimage.exe did not write the sample image to $name-windows.bin" >&2
  failed=1
fi
compare --lab info "$scratch/$name-linux.bin"

# Signed images, with a key and signatures of minisign's: the same verdicts and texts.
if command -v minisign >/dev/null; then
  minisign -G -W -p "$scratch/k.pub" -s "$scratch/k.sec" >/dev/null
  cp "$image" "$scratch/signed.bin"
  minisign -S -s "$scratch/k.sec" -m "$scratch/signed.bin" -t "tarvik boards=001122334455" >/dev/null
  cp "$image" "$scratch/elsewhere.bin"
  minisign -S -s "$scratch/k.sec" -m "$scratch/elsewhere.bin" -t "tarvik boards=AABBCCDDEEFF" >/dev/null
  compare --lab --pace 0 --progress plain upgrade "$scratch/signed.bin" QV1A2B3C --key "$scratch/k.pub"
  compare --lab info "$scratch/signed.bin" --key "$scratch/k.pub"
  compare --lab --json info "$scratch/signed.bin" --key "$scratch/k.pub"
  compare --lab --pace 0 --progress plain upgrade "$image" QV1A2B3C --key "$scratch/k.pub"
  compare --lab --pace 0 check "$scratch/elsewhere.bin" QV1A2B3C --key "$scratch/k.pub"
fi
exit $failed
