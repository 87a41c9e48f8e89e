#!/usr/bin/env bash
# Installs Quorvex silently into a Wine prefix of its own, starts the installed
# quorvex-cli.exe, uninstalls it, and checks that the prefix is left as it was found.
# Usage: windows_installer_test.sh SETUP.exe VERSION
set -uo pipefail
setup=$1 version=$2
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Wine would copy the Start-menu entry into this machine's own menu: not here.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=C.UTF-8 WINEDLLOVERRIDES=winemenubuilder.exe=d
apps='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex'

# The prefix's files, but for the user's programs folder, Windows' own, which stays once
# made, and the copy of itself the uninstaller runs from, deleted at the next restart.
files() {
    (cd "$WINEPREFIX" && find drive_c ! -path 'drive_c/users/*/AppData/Local/Programs' \
        ! -path 'drive_c/users/*/Temp/~nsu*.tmp*' | sort)
}

grep -qa 'level="asInvoker"' "$setup" || fail "the installer asks for administrator rights"
# The new prefix settles (wineboot goes on after it returns); then one server for the rest.
wineboot -i >/dev/null 2>&1 && wineserver -w && wineserver -p || fail "wineboot failed"
files >"$work/before"
wine "$setup" /S || fail "the silent install failed with status $?"
folder=$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Local/Programs/Quorvex)
printf '%s\n' AppData/Local/Programs/Quorvex{,/LICENSE.txt,/README.txt,/quorvex-cli.exe} \
    AppData/Local/Programs/Quorvex/{quorvex.exe,uninstall.exe} \
    "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quorvex.lnk" >"$work/expected"
files | comm -13 "$work/before" - | sed 's|^drive_c/users/[^/]*/||' | diff "$work/expected" - ||
    fail "the install put other files than these"
wine reg query "$apps" /v UninstallString >/dev/null 2>&1 || fail "no entry in Apps"
[ "$(wine "$folder/quorvex-cli.exe" --version)" = "quorvex-cli $version" ] ||
    fail "the installed quorvex-cli.exe does not start"

wine "$folder/uninstall.exe" /S || fail "the silent uninstall failed with status $?"
# It goes on in a copy of itself, and takes its entry in Apps out last.
for _ in $(seq 100); do wine reg query "$apps" >/dev/null 2>&1 || break; sleep 0.2; done
files | diff "$work/before" - || fail "the uninstall left the files above"
wineserver -k # and with it Wine writes out the registry
grep -il quorvex "$WINEPREFIX"/*.reg && fail "the registry above still names Quorvex"
echo "Windows installer: 1 passed, 0 failed"
