#!/usr/bin/env bash
# The Windows package: builds it, checks the zip's contents, then in a fresh Wine prefix
# installs it silently, runs tarvik-cli from the install folder, installs it again with the
# PATH entry and uninstalls it silently, checking that the user's PATH and the prefix's files
# and uninstall key are as before; then the PATH entry put into and taken out of other PATHs.
# Needs no root. Run as:
#   bash tests/windows/package_test.sh <linux build> <windows build>
set -euo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
linux_build="$(cd "${1:-build}" && pwd)"
windows_build="$(cd "${2:-build-windows}" && pwd)"
wine_program="$(command -v wine || echo /usr/lib/wine/wine64)"

fail() {
  echo "package_test: $*" >&2
  exit 1
}

cmake --build "$windows_build" --target windows-package >/dev/null ||
  fail "make windows-package failed"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows_build/CMakeCache.txt")"
name="tarvik-$version-windows-x64"
zip="$windows_build/$name.zip"
setup="$windows_build/$name-setup.exe"
[[ -s "$zip" && -s "$setup" ]] || fail "no $zip or $setup"

# The zip: one folder with exactly the programs, the README's Windows section, the dissector and
# the libraries' licences.
expected="$(printf '%s\n' "$name/" "$name/README-Windows.txt" "$name/tarvik-cli.exe" \
  "$name/tarvik-mkimage.exe" "$name/tarvik-target.exe" "$name/tarvik.exe" "$name/tarvik.lua")"
for licence in LICENSE LICENSE.txt LICENSE.md COPYING; do
  if [[ -f "$source_dir/$licence" ]]; then
    expected="$(printf '%s\n' "$expected" "$name/LICENSE.txt")"
    break
  fi
done
# The libraries' licences, when the build links them.
deps="$(sed -n 's/^TARVIK_WINDOWS_DEPS:PATH=//p' "$windows_build/CMakeCache.txt")"
if [[ -n "$deps" ]]; then
  expected="$(printf '%s\n' "$expected" "$name/licenses/" "$name/licenses/cpp-httplib.txt" \
    "$name/licenses/libpq.txt" \
    "$name/licenses/libsodium.txt" "$name/licenses/openssl.txt" "$name/licenses/sqlite3.txt")"
fi
expected="$(LC_ALL=C sort <<<"$expected")"
listing="$(unzip -Z1 "$zip" | LC_ALL=C sort)"
[[ "$listing" == "$expected" ]] || fail "the zip holds"$'\n'"$listing"$'\n'"not"$'\n'"$expected"
readme="$(unzip -p "$zip" "$name/README-Windows.txt" | tr -d '\r')"
for words in "Tarvik $version on Windows" "https://npcap.com" "WinPcap API-compatible Mode" \
  "Messages only Windows shows" "Npcap is not installed"; do
  [[ "$readme" == *"$words"* ]] || fail "README-Windows.txt does not say \"$words\""
done
# Code blocks indented, their fences and the headings' marks gone.
[[ "$readme" == *$'\n    make windows-package'* && "$readme" != *$'\nsh\n'* &&
  "$readme" != *'`'* && "$readme" != *'## '* ]] || fail "README-Windows.txt is not plain text"

prefix="$(mktemp -d /tmp/tarvik-package-wine.XXXXXX)"
cleanup() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
# No desktop menu entries for the shortcuts (winemenubuilder), no Mono or Gecko prompts.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
wine() { "$wine_program" "$@"; }
"$wine_program" cmd /c exit >/dev/null 2>&1
wineserver -w

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvik'
# The user's PATH, "-" when there is none.
user_path() {
  local value
  value="$(wine reg query 'HKCU\Environment' /v Path 2>/dev/null)" || { echo -; return; }
  tr -d '\r' <<<"$value" | sed -n 's/^ *Path *REG_[A-Z_]*SZ *//p'
}
set_user_path() {
  if [[ "$1" == - ]]; then
    wine reg delete 'HKCU\Environment' /v Path /f >/dev/null 2>&1 || true
  else
    wine reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$1" /f >/dev/null
  fi
}
# Every file of the prefix but the temporary ones and the registry's own.
files() { (cd "$prefix/drive_c" && find . -path '*/Temp' -prune -o -print | sort); }
set_user_path 'C:\Tools;C:\Other'
before="$(files)"

wine "$setup" /S || fail "the silent install failed (status $?)"
wineserver -w
install="$prefix/drive_c/Program Files/Tarvik"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvik"
for file in "$install"/{tarvik.exe,tarvik-cli.exe,tarvik-target.exe,tarvik-mkimage.exe,README-Windows.txt,tarvik.lua,uninstall.exe} \
  "$menu/Tarvik.lnk" "$menu/Tarvik command line.lnk" "$menu/README for Windows.lnk"; do
  [[ -s "$file" ]] || fail "not installed: ${file#"$prefix/"}"
done
cmp -s "$install/tarvik-cli.exe" <(unzip -p "$zip" "$name/tarvik-cli.exe") ||
  fail "the installed tarvik-cli.exe is not the zip's"
wine reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 ||
  fail "no uninstaller in Add/Remove Programs"
[[ "$(user_path)" == 'C:\Tools;C:\Other' ]] || fail "the PATH changed unasked: $(user_path)"

# The installed program, from its folder, shows what the Linux build shows.
cp "$linux_build/lab/sample.bin" "$install/"
got="$(cd "$install" && wine tarvik-cli.exe --lab info sample.bin | tr -d '\r')" ||
  fail "tarvik-cli.exe --lab info failed in the install folder"
rm "$install/sample.bin"
want="$(cd "$linux_build/lab" && "$linux_build/src/cli/tarvik-cli" --lab info sample.bin)"
[[ "$got" == "$want" ]] || fail "tarvik-cli.exe --lab info printed"$'\n'"$got"$'\n'"not"$'\n'"$want"

# Again over the installed one, with the folder put on the user's PATH.
wine "$setup" /S /PATH || fail "the silent install with /PATH failed (status $?)"
wineserver -w
[[ "$(user_path)" == 'C:\Tools;C:\Other;C:\Program Files\Tarvik' ]] ||
  fail "the PATH after /PATH is $(user_path)"

# The uninstaller copies itself away and runs from there; wineserver -w waits for that copy.
wine "$install/uninstall.exe" /S || fail "the silent uninstall failed (status $?)"
wineserver -w
left="$(diff <(echo "$before") <(files) || true)"
[[ -z "$left" ]] || fail "the uninstall left (or took) files:"$'\n'"$left"
! wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall key is left"
[[ "$(user_path)" == 'C:\Tools;C:\Other' ]] || fail "the PATH after the uninstall is $(user_path)"

# The PATH entry again, from other PATHs: before the install with /PATH, after it, and after
# the uninstall. An entry of the folder already there (in any case, with a trailing backslash)
# is not doubled, and empty entries go.
while IFS='|' read -r start installed uninstalled; do
  set_user_path "$start"
  wine "$setup" /S /PATH || fail "the silent install with /PATH failed (status $?)"
  wineserver -w
  [[ "$(user_path)" == "$installed" ]] || fail "the PATH $start became $(user_path), not $installed"
  wine "$install/uninstall.exe" /S || fail "the silent uninstall failed (status $?)"
  wineserver -w
  [[ "$(user_path)" == "$uninstalled" ]] ||
    fail "the PATH $installed became $(user_path) at the uninstall, not $uninstalled"
done <<'ROWS'
-|C:\Program Files\Tarvik|-
C:\Tools;c:\program files\tarvik\;;C:\Other|C:\Tools;C:\Other;C:\Program Files\Tarvik|C:\Tools;C:\Other
ROWS
echo "package_test: $(stat -c %s "$zip") bytes zipped, $(stat -c %s "$setup") bytes of installer;" \
  "installed, run, installed with the PATH entry and uninstalled under Wine"
