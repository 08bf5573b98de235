#!/usr/bin/env bash
# The Windows installer and zip made by CPack from the build tree, and the installer run under
# Wine as an administrator runs it silently (/S): the programs and the licence land in
# Program Files, the Start menu gets the console's entry "M-Bus 测试工具", the installed
# `mbus.exe --version` runs, and the uninstaller (also silent) takes all of it away again.
#
#   installer_test.sh <session folder> <CPackConfig.cmake> <version>
set -euo pipefail
session=${1:?session folder}
config=${2:?CPackConfig.cmake}
version=${3:?version}
# shellcheck source=/dev/null
source "$session/env"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# until_within <seconds> <command...>: runs the command every 0.2 s until it succeeds.
until_within() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

cpack --config "$config" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "cpack"
}
setup=$work/mbus-console-$version-win64-setup.exe
zip=$work/mbus-console-$version-win64.zip
[ -s "$setup" ] || fail "no installer $setup"
cmake -E tar tf "$zip" >"$work/zip.list" || fail "no zip $zip"
for file in mbus-console.exe mbus.exe LICENSE.txt; do
    grep -qx "mbus-console-$version-win64/$file" "$work/zip.list" || fail "$file is not in the zip"
done

drive_c=$WINEPREFIX/drive_c
folder=$drive_c/Program\ Files/mbus-console
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\mbus-console'
entry() { find "$drive_c" -path '*Start Menu/Programs/M-Bus 测试工具/M-Bus 测试工具.lnk' | head -1; }
wine "$setup" /S </dev/null >"$work/setup.log" 2>&1 || fail "the installer failed"

for file in mbus-console.exe mbus.exe LICENSE.txt Uninstall.exe; do
    [ -s "$folder/$file" ] || fail "$file was not installed"
done
link=$(entry)
[ -n "$link" ] || fail "no Start-menu entry"
strings -el "$link" | grep -q 'mbus-console\.exe$' || fail "the Start-menu entry does not start the console"
wine reg query "$uninstall_key" /v DisplayName >/dev/null 2>&1 || fail "not listed as installed"
wine "$folder/mbus.exe" --version </dev/null >"$work/version.out" 2>&1 || fail "mbus.exe --version"
grep -q "$version" "$work/version.out" || fail "mbus.exe --version printed $(cat "$work/version.out")"

# The uninstaller copies itself to a temporary folder and goes on from there: its removal ends
# after the started program does.
wine "$folder/Uninstall.exe" /S </dev/null >"$work/uninstall.log" 2>&1 || fail "the uninstaller failed"
gone() { [ ! -e "$folder" ] && [ -z "$(entry)" ]; }
until_within 60 gone || fail "the uninstaller left $(ls "$folder" 2>/dev/null) $(entry)"
! wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "still listed as installed"
echo "installer: installed, ran mbus.exe $version, uninstalled"
