#!/usr/bin/env bash
# The Debian package on this machine, as a user would meet it: lintian finds no error or warning; apt
# installs it; a fresh user in the group tarvik upgrades an emulated device over a veth pair
# without sudo, and both programs hold no capability once their interface is open; a user
# outside the group cannot run the programs; the manual page, the desktop entry and the
# dissector are where their tools look; purging the package leaves none of its files, no
# owner override and no group behind.
#
#   bash tests/package/package_test.sh <build directory>    (after `make package`; as root)
#
# It installs into the running system, so it refuses to start where a package or group named
# tarvik exists already, and on every way out it purges the package and deletes the users it
# made. Without root, or where it would touch a tarvik it did not install, it says so and
# exits 77 (skipped), as the end-to-end tests do.
set -euo pipefail
HERE="$(dirname "${BASH_SOURCE[0]}")"
source "$HERE/../e2e/netns.sh"
E2E_NAME=package_test

[[ $(id -u) -eq 0 ]] || e2e_skip "needs root (it installs the package)"
BUILD="$(cd "${1:?usage: package_test.sh <build directory>}" && pwd)"
shopt -s nullglob
debs=("$BUILD"/tarvik_*_amd64.deb)
[[ ${#debs[@]} -eq 1 ]] || e2e_fail "no single tarvik_*_amd64.deb in $BUILD"
DEB="${debs[0]}"
# make package writes the checksums of what it built beside it.
(cd "$BUILD" && sha256sum --quiet -c SHA256SUMS) || e2e_fail "SHA256SUMS does not hold the package's sum"
if dpkg-query -W -f='${Status}' tarvik 2>/dev/null | grep -q installed; then
  e2e_skip "a tarvik package is installed here already; not touching it"
fi
if getent group tarvik >/dev/null; then
  e2e_skip "a group tarvik exists here already; not touching it"
fi

MEMBER="tvkpkg$$m"
OUTSIDER="tvkpkg$$o"
_installed=0
_made_users=()
package_cleanup() {
  local user pid
  for user in "${_made_users[@]}"; do
    # userdel refuses while the user runs a program; every one of them was started here.
    for pid in $(pgrep -u "$user"); do
      kill "$pid" 2>/dev/null || true
    done
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      pgrep -u "$user" >/dev/null || break
      sleep 0.2
    done
    userdel "$user" >/dev/null 2>&1 || e2e_log "could not delete the user $user"
  done
  if ((_installed)); then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvik >/dev/null 2>&1 || true
  fi
}
e2e_setup "$BUILD"
e2e_on_exit package_cleanup
chmod 755 "$E2E_TMP"

# --- lintian: no error, no warning (what else it says is printed) ---
lintian --fail-on error,warning --tag-display-limit 0 "$DEB" >"$E2E_TMP/lintian.out" 2>&1 || {
  cat "$E2E_TMP/lintian.out" >&2
  e2e_fail "lintian reports an error or a warning"
}
e2e_log "lintian: $(grep -c "^[EWIPX]: " "$E2E_TMP/lintian.out" || true) tag(s)"
sed 's/^/  /' "$E2E_TMP/lintian.out" >&2

# --- install ---
_installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$DEB" >"$E2E_TMP/apt.out" 2>&1 ||
  e2e_fail "apt-get install $DEB failed"
dpkg-query -L tarvik >"$E2E_TMP/files.list"
for program in tarvik tarvik-cli tarvik-target; do
  [[ "$(stat -c '%U:%G %a' "/usr/bin/$program")" == "root:tarvik 750" ]] ||
    e2e_fail "/usr/bin/$program is $(stat -c '%U:%G %a' "/usr/bin/$program"), not root:tarvik 750"
  getcap "/usr/bin/$program" | grep -q "cap_net_raw=ep" || e2e_fail "/usr/bin/$program lacks cap_net_raw"
done
[[ "$(stat -c '%a' /usr/bin/tarvik-mkimage)" == 755 ]] || e2e_fail "tarvik-mkimage is not 755"
[[ "$(tarvik-cli --version | head -n 1)" == "tarvik-cli $(dpkg-query -W -f='${Version}' tarvik)" ]] ||
  e2e_fail "tarvik-cli --version does not give the package's version"
man -w tarvik-cli >/dev/null || e2e_fail "man does not find tarvik-cli(1)"
desktop-file-validate /usr/share/applications/tarvik.desktop || e2e_fail "the desktop entry is invalid"
[[ -s /usr/share/icons/hicolor/48x48/apps/tarvik.png ]] || e2e_fail "no 48x48 icon"
tshark -G plugins 2>/dev/null | grep -q "tarvik.lua" || e2e_fail "tshark does not load the dissector"

useradd --no-create-home --shell /usr/sbin/nologin --groups tarvik "$MEMBER"
_made_users+=("$MEMBER")
useradd --no-create-home --shell /usr/sbin/nologin "$OUTSIDER"
_made_users+=("$OUTSIDER")

# Every thread of a running program: no capability permitted, effective, inheritable or
# ambient.
expect_no_capability() {
  local pid="$1" what="$2" task field
  for task in /proc/"$pid"/task/*; do
    for field in CapInh CapPrm CapEff CapAmb; do
      grep -q "^$field:[[:space:]]*0*$" "$task/status" ||
        e2e_fail "$what still holds $(grep "^$field:" "$task/status") in thread ${task##*/}"
    done
  done
}

install -d -o "$MEMBER" "$E2E_TMP/member"
IMAGE="$E2E_TMP/member/image.bin"
runuser -u "$MEMBER" -- tarvik-mkimage --size 65536 --code-segment 2340 --seed 7 "$IMAGE" >/dev/null

# --- a member: the device in B and the command line in A, both run as the member ---
e2e_spawn_b target runuser -u "$MEMBER" -- tarvik-target -i "$E2E_IF_B" --board 001122334455
e2e_wait_for_line "$E2E_TMP/target.err" "ready"
target_pid=$(pgrep -u "$MEMBER" -x tarvik-target) || e2e_fail "tarvik-target is not running as $MEMBER"
expect_no_capability "$target_pid" tarvik-target

e2e_spawn_a upgrade runuser -u "$MEMBER" -- \
  tarvik-cli -i "$E2E_IF_A" --progress plain upgrade "$IMAGE" QV00000B
upgrade_job=$E2E_PID
e2e_wait_for_line "$E2E_TMP/upgrade.err" "[0-9]+/65536"
cli_pid=$(pgrep -u "$MEMBER" -x tarvik-cli) || e2e_fail "tarvik-cli is not running as $MEMBER"
expect_no_capability "$cli_pid" tarvik-cli
status=0
e2e_wait_job "$upgrade_job" 60 || status=$?
[[ $status -eq 0 ]] || e2e_fail "the member's upgrade exited $status"
grep -q "^Upgrade Finish" "$E2E_TMP/upgrade.err" || e2e_fail "the member's upgrade did not finish"

# The desktop program opens its interface before the toolkit starts threads of its own: none
# of them may hold a capability either.
e2e_spawn_a desktop runuser -u "$MEMBER" -- env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$E2E_TMP/member" tarvik
desktop_pid=""
for _ in $(seq 50); do
  desktop_pid=$(pgrep -u "$MEMBER" -x tarvik) && [[ $(ls /proc/"$desktop_pid"/task | wc -l) -gt 1 ]] && break
  sleep 0.1
done
[[ -n "$desktop_pid" ]] || e2e_fail "tarvik is not running as $MEMBER"
sleep 1
expect_no_capability "$desktop_pid" tarvik
kill "$desktop_pid"

# --- a user outside the group: the file mode refuses ---
status=0
e2e_in_a runuser -u "$OUTSIDER" -- tarvik-cli -i "$E2E_IF_A" browse \
  >/dev/null 2>"$E2E_TMP/outsider.err" || status=$?
[[ $status -ne 0 ]] || e2e_fail "a user outside the group ran tarvik-cli"
grep -qi "permission denied" "$E2E_TMP/outsider.err" || e2e_fail "no \"Permission denied\" for the outsider"

# --- purge: nothing of the package is left ---
kill "$target_pid" 2>/dev/null || true
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvik >"$E2E_TMP/purge.out" 2>&1 ||
  e2e_fail "apt-get purge tarvik failed"
_installed=0
while read -r path; do
  # Folders such as /usr/bin belong to others too; one no package owns is a leftover.
  if [[ -d "$path" ]]; then
    dpkg-query -S "$path" >/dev/null 2>&1 || [[ -n "$(ls -A "$path")" ]] ||
      e2e_fail "the empty folder $path is left after the purge"
    continue
  fi
  [[ ! -e "$path" ]] || e2e_fail "$path is left after the purge"
done <"$E2E_TMP/files.list"
! getent group tarvik >/dev/null || e2e_fail "the group tarvik is left after the purge"
! dpkg-statoverride --list | grep -q "/usr/bin/tarvik" || e2e_fail "an owner override is left"

e2e_pass "installed, used by a member over veth without capabilities, refused to others, purged"
