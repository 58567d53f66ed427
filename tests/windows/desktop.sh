# shellcheck shell=bash
# Driving tarvik.exe under Wine on an X server, with key and mouse input from xdotool, for the
# desktop tests in this folder. The program runs in a Wine virtual desktop (one X window at
# the screen's origin, in which Wine draws every window with its frame and caption), so the
# Win32 screen coordinates that tarvik-window-texts.exe reads back are the X server's, for
# both clicks and screenshots. Windows take their time to come up under Wine: every wait
# polls for the window, within a bound, and never just sleeps.
#
#   source "$(dirname "${BASH_SOURCE[0]}")/desktop.sh"   # after wine.sh
#   desktop_setup OUT_DIR            # an X server (DISPLAY's, or an own Xvfb), the tools;
#                                    # status 77 when Xvfb or xdotool is missing
#   desktop_start PREFIX [LAUNCHER...] -- ARGS...   # tarvik.exe ARGS in the background
#   desktop_walkthrough IMAGE FIT MISMATCH MESSAGE  # the walk-through (see below)
#   desktop_stop                     # ends the program and the X server it started
# Failures are counted in DESKTOP_FAILED; screenshots go to OUT_DIR.

DESKTOP_FAILED=0
DESKTOP_OUT=""
DESKTOP_PID=""
DESKTOP_PREFIX=""
DESKTOP_LAUNCHER=()
_desktop_xvfb=""
_desktop_tmp=""
DESKTOP_NAME="tarvik-test"
DESKTOP_SIZE="1024x768"

desktop_fail() {
  echo "desktop: $*" >&2
  DESKTOP_FAILED=1
}

desktop_setup() {
  DESKTOP_OUT="$1"
  mkdir -p "$DESKTOP_OUT"
  local tool
  for tool in xdotool import Xvfb; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/bootstrap)" >&2; return 77; }
  done
  _desktop_tmp="$(mktemp -d /tmp/tarvik-desktop.XXXXXX)"
  if [[ -z "${DISPLAY:-}" ]]; then
    local fd_file="$_desktop_tmp/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
    _desktop_xvfb=$!
    local i
    for ((i = 0; i < 100; i++)); do
      [[ -s "$fd_file" ]] && break
      sleep 0.1
    done
    [[ -s "$fd_file" ]] || { echo "desktop: Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -1 "$fd_file")"
  fi
  DESKTOP_TEXTS="$WINE_BUILD/tests/tarvik-window-texts.exe"
  DESKTOP_EXE="$WINE_BUILD/src/desktop/win32/tarvik.exe"
  [[ -f "$DESKTOP_EXE" && -f "$DESKTOP_TEXTS" ]] || { echo "desktop: tarvik.exe is not built (make windows)" >&2; return 1; }
}

desktop_stop() {
  # The program runs under the launcher's children: the prefix's server ends them all (and
  # only the prefix's own processes).
  if [[ -n "$DESKTOP_PREFIX" ]]; then
    WINEPREFIX="$(_desktop_prefix)" wineserver -k >/dev/null 2>&1
  fi
  if [[ -n "$DESKTOP_PID" ]]; then
    wait "$DESKTOP_PID" 2>/dev/null
  fi
  DESKTOP_PID=""
  if [[ -n "$_desktop_xvfb" ]]; then
    kill "$_desktop_xvfb" 2>/dev/null
    wait "$_desktop_xvfb" 2>/dev/null
    _desktop_xvfb=""
  fi
  [[ -n "$_desktop_tmp" ]] && rm -rf "$_desktop_tmp"
}

# desktop_start PREFIX-NAME [LAUNCHER...] -- ARGS...
desktop_start() {
  DESKTOP_PREFIX="$1"
  shift
  DESKTOP_LAUNCHER=()
  while [[ $# -gt 0 && "$1" != "--" ]]; do
    DESKTOP_LAUNCHER+=("$1")
    shift
  done
  shift
  wine_run "$DESKTOP_PREFIX" "${DESKTOP_LAUNCHER[@]}" -- explorer "/desktop=$DESKTOP_NAME,$DESKTOP_SIZE" \
    "$DESKTOP_EXE" "$@" >"$DESKTOP_OUT/tarvik.log" 2>&1 &
  DESKTOP_PID=$!
}

# Runs the reader in the program's desktop; its lines (without CR) in $_desktop_tmp/texts.
# Bounded: a reader that starts while Wine is still making the desktop can hang.
_desktop_read() {
  timeout 20 env WINEPREFIX="$(_desktop_prefix)" "${DESKTOP_LAUNCHER[@]}" "$WINE_PROGRAM" \
    explorer "/desktop=$DESKTOP_NAME" "$DESKTOP_TEXTS" "$@" 2>/dev/null | tr -d '\r' >"$_desktop_tmp/texts" ||
    true
}

_desktop_prefix() {
  local var="WINE_PREFIX_$DESKTOP_PREFIX"
  echo "${!var}"
}

# desktop_texts TITLE: the window's lines, or status 1 when it is not shown. (The functions
# below also serve scripts that run with set -e: what may fail is tested, never left bare.)
desktop_texts() {
  _desktop_read show "$1"
  grep -q '^window' "$_desktop_tmp/texts" || return 1
  cat "$_desktop_tmp/texts"
}

# desktop_wait TITLE [SECONDS]: until the window is shown: first on the X server (Wine makes
# an X window of each shown window), then for the program.
desktop_wait() {
  local title="$1" bound="${2:-60}" start=$SECONDS
  while ((SECONDS - start < bound)); do
    if xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1; then
      desktop_texts "$title" >/dev/null && return 0
    fi
    sleep 0.2
  done
  desktop_fail "\"$title\" did not come up within $bound s"
  return 1
}

desktop_wait_gone() {
  local title="$1" start=$SECONDS
  while ((SECONDS - start < 30)); do
    desktop_texts "$title" >/dev/null || return 0
    sleep 0.2
  done
  desktop_fail "\"$title\" did not close"
  return 1
}

# desktop_item TITLE ID: the control's text.
desktop_item() {
  { desktop_texts "$1" || true; } | awk -F'\t' -v id="$2" '$1 == "control" && $2 == id { print $4; exit }'
}

# desktop_expect_item TITLE ID TEXT
desktop_expect_item() {
  local shown
  shown="$(desktop_item "$1" "$2")"
  [[ "$shown" == "$3" ]] || desktop_fail "\"$1\" item $2 shows \"$shown\", not \"$3\""
}

# desktop_check TEMPLATE-ID: the shown window's controls against the template.
desktop_check() {
  _desktop_read check "$1"
  grep -q 'as the template has them' "$_desktop_tmp/texts" || desktop_fail "template $1: $(cat "$_desktop_tmp/texts")"
}

_desktop_rect() {
  { desktop_texts "$1" || true; } | awk -F'\t' -v id="$2" '
    id == "" && $1 == "window" { print $4; exit }
    id != "" && $1 == "control" && $2 == id { print $5; exit }'
}

# desktop_click TITLE ID: a left click in the middle of the control.
desktop_click() {
  local rect
  rect="$(_desktop_rect "$1" "$2")"
  [[ -n "$rect" ]] || { desktop_fail "\"$1\" has no control $2 to click"; return 1; }
  read -r left top right bottom <<<"$rect"
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}

# desktop_row_text TITLE LIST-ID PATTERN: the text of the list's first row that matches.
desktop_row_text() {
  { desktop_texts "$1" || true; } | awk -F'\t' -v id="$2" -v pattern="$3" '$1 == "row" && $2 == id && $4 ~ pattern { print $4; exit }'
}

# desktop_click_row TITLE LIST-ID TEXT: a left click on the list's row of that text.
desktop_click_row() {
  local texts row height rect
  texts="$(desktop_texts "$1" || true)"
  row="$(awk -F'\t' -v id="$2" -v text="$3" '$1 == "row" && $2 == id && $4 == text { print $3; exit }' <<<"$texts")"
  height="$(awk -F'\t' -v id="$2" '$1 == "row" && $2 == id { print $5; exit }' <<<"$texts")"
  rect="$(awk -F'\t' -v id="$2" '$1 == "control" && $2 == id { print $5; exit }' <<<"$texts")"
  [[ -n "$row" && -n "$height" && -n "$rect" ]] || { desktop_fail "\"$1\" lists no \"$3\""; return 1; }
  read -r left top right bottom <<<"$rect"
  xdotool mousemove $((left + 12)) $((top + 2 + row * height + height / 2)) click 1
}

# desktop_shot TITLE NAME: the window, frame and caption included, as NAME.png.
desktop_shot() {
  local rect
  rect="$(_desktop_rect "$1" "")"
  [[ -n "$rect" ]] || { desktop_fail "no \"$1\" to take a picture of"; return 1; }
  read -r left top right bottom <<<"$rect"
  ((left < 0)) && left=0
  ((top < 0)) && top=0
  # Drawn a moment after it is shown: the picture waits for the window's own paint.
  sleep 0.3
  import -silent -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
    -colors 64 "$DESKTOP_OUT/$2.png" || desktop_fail "cannot take $2.png"
}

desktop_keys() {
  xdotool key --delay 60 "$@"
}

# desktop_status TITLE: the text of the window's status-bar message pane.
desktop_status() {
  { desktop_texts "$1" || true; } | awk -F'\t' '$1 == "control" && $3 == "msctls_statusbar32" { print $4; exit }'
}

# desktop_wait_status TITLE TEXT: until the message pane says TEXT.
desktop_wait_status() {
  local start=$SECONDS shown=""
  while ((SECONDS - start < 15)); do
    shown="$(desktop_status "$1")"
    [[ "$shown" == "$2" ]] && return 0
    sleep 0.2
  done
  desktop_fail "the message pane of \"$1\" says \"$shown\", not \"$2\""
  return 1
}

# desktop_hover_button TITLE INDEX: the pointer over the toolbar's button INDEX (from 0).
desktop_hover_button() {
  local rect
  rect="$({ desktop_texts "$1" || true; } | awk -F'\t' -v n="$2" '$1 == "button" && $2 == n { print $3; exit }')"
  [[ -n "$rect" ]] || { desktop_fail "\"$1\" has no toolbar button $2"; return 1; }
  read -r left top right bottom <<<"$rect"
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2))
}

# desktop_hover_away TITLE: the pointer over the middle of the window, away from its bars.
desktop_hover_away() {
  local rect
  rect="$(_desktop_rect "$1" "")"
  read -r left top right bottom <<<"$rect"
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2))
}

# desktop_fly_by: the main window's message pane, flat (no border), shows the prompt of the
# toolbar button under the pointer and of the highlighted menu item, and "Ready" after each.
desktop_fly_by() {
  { desktop_texts "$MAIN_TITLE" || true; } | awk -F'\t' '$1 == "pane" && $2 == 0 { print $3 }' |
    grep -qx '0x0100' || desktop_fail "the message pane is not drawn without a border"
  desktop_hover_button "$MAIN_TITLE" 1 || return 1
  desktop_wait_status "$MAIN_TITLE" "Browse Targets on Network"
  desktop_hover_button "$MAIN_TITLE" 2 || return 1
  desktop_wait_status "$MAIN_TITLE" "Prepare for Upgrade"
  desktop_hover_away "$MAIN_TITLE"
  desktop_wait_status "$MAIN_TITLE" "Ready"
  desktop_keys alt+f
  desktop_wait_status "$MAIN_TITLE" "Select Firmware BIN File for Upgrade"
  desktop_keys Down
  desktop_wait_status "$MAIN_TITLE" "Quit the application"
  desktop_keys Escape Escape
  desktop_wait_status "$MAIN_TITLE" "Ready"
}

MAIN_TITLE="Upgrade Utility - Tarvik"

# desktop_walkthrough IMAGE FIT MISMATCH MESSAGE
# With the main window up: the fly-by prompts; Select BIN File (IMAGE typed into the file-open dialog, a Windows
# path), its information; Browse Target, FIT clicked, its information; Prepare Upgrade and an
# upgrade to "Upgrade Finish"; the same with MISMATCH, which ends in MESSAGE; About; Exit.
desktop_walkthrough() {
  local image="$1" fit="$2" mismatch="$3" message="$4"
  desktop_wait "$MAIN_TITLE" || return 1
  desktop_texts "$MAIN_TITLE" | grep -q $'control\t0\tmsctls_statusbar32\tReady' ||
    desktop_fail "the status bar does not say Ready"
  desktop_shot "$MAIN_TITLE" main-window
  desktop_fly_by

  # Select BIN File, by its accelerator.
  desktop_keys ctrl+o
  desktop_wait "Open" || return 1
  desktop_shot "Open" file-open
  xdotool type --delay 10 "$image"
  desktop_keys Return
  desktop_wait "File Information" || return 1
  desktop_check 134
  desktop_expect_item "File Information" 1033 "$image"
  desktop_shot "File Information" file-information
  desktop_keys Return
  desktop_wait_gone "File Information"

  # Browse Target, from the menu by its keys; the device clicked with the mouse.
  desktop_keys alt+b t
  desktop_wait "Browsed Devices on Network" 90 || return 1
  desktop_check 141
  desktop_click_row "Browsed Devices on Network" 1046 "$fit"
  desktop_expect_item "Browsed Devices on Network" 1048 "$fit"
  desktop_shot "Browsed Devices on Network" browse
  desktop_keys Return
  desktop_wait "Device Information" 60 || return 1
  desktop_check 135
  desktop_expect_item "Device Information" 1042 "$fit"
  desktop_shot "Device Information" device-information
  desktop_keys Return
  desktop_wait_gone "Browsed Devices on Network"

  # Prepare Upgrade and the upgrade, the button clicked with the mouse.
  desktop_keys alt+u p
  desktop_wait "Prepare For Upgrade" || return 1
  desktop_check 130
  desktop_expect_item "Prepare For Upgrade" 1013 "$fit"
  desktop_expect_item "Prepare For Upgrade" 1014 "$image"
  desktop_shot "Prepare For Upgrade" prepare
  desktop_click "Prepare For Upgrade" 32770
  desktop_wait "Upgrade Process" 60 || return 1
  local start=$SECONDS status=""
  while ((SECONDS - start < 180)); do
    status="$(desktop_item "Upgrade Process" 1004)"
    [[ "$status" == "Upgrade Finish" ]] && break
    sleep 0.5
  done
  [[ "$status" == "Upgrade Finish" ]] || desktop_fail "the upgrade ended at \"$status\""
  desktop_check 133
  desktop_expect_item "Upgrade Process" 1005 "100 %"
  desktop_shot "Upgrade Process" progress
  desktop_shot "$MAIN_TITLE" upgrade-finish
  desktop_click "Upgrade Process" 1001
  desktop_wait_gone "Upgrade Process"
  desktop_keys Escape
  desktop_wait_gone "Prepare For Upgrade"

  # The mismatching device: the message, captioned Tarvik.
  desktop_keys alt+b t
  desktop_wait "Browsed Devices on Network" 90 || return 1
  desktop_click_row "Browsed Devices on Network" 1046 "$mismatch"
  desktop_keys Return
  desktop_wait "Device Information" 60 || return 1
  desktop_keys Return
  desktop_wait_gone "Browsed Devices on Network"
  desktop_keys alt+u p
  desktop_wait "Prepare For Upgrade" || return 1
  desktop_click "Prepare For Upgrade" 32770
  desktop_wait "Tarvik" 60 || return 1
  desktop_texts "Tarvik" | awk -F'\t' '$1 == "control" { print $4 }' | grep -qxF "$message" ||
    desktop_fail "the message box does not say \"$message\": $(desktop_texts Tarvik)"
  desktop_texts "Tarvik" | awk -F'\t' '$1 == "control" && $3 == "Button" { print $4 }' | tr '\n' ' ' |
    grep -qx 'OK ' || desktop_fail "the message box has other buttons than OK"
  desktop_shot "Tarvik" mismatch
  desktop_keys Return
  desktop_wait_gone "Tarvik"
  desktop_keys Escape
  desktop_wait_gone "Prepare For Upgrade"

  # About, and Exit.
  desktop_keys alt+h a
  desktop_wait "About Tarvik" || return 1
  desktop_check 100
  desktop_shot "About Tarvik" about
  desktop_keys Return
  desktop_wait_gone "About Tarvik"
  desktop_keys alt+f x
  desktop_wait_gone "$MAIN_TITLE"
  return 0
}
