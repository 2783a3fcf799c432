#!/usr/bin/env bash
# Installs the Windows installer silently under Wine, runs a list with the
# installed program as a user would, and uninstalls silently: checks the files,
# the Start-menu entry, the Add/Remove Programs key, the copies and the logs
# in %LOCALAPPDATA%, and that the uninstaller leaves nothing of its own.
# usage: scripts/windows/test-installer.sh SETUP.exe   (in the caller's WINEPREFIX)
set -euo pipefail
setup=$1
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] ||
    { echo "WINEPREFIX must name a prepared Wine prefix" >&2; exit 125; }
export WINEDEBUG=${WINEDEBUG:--all}
c=$WINEPREFIX/drive_c
program="$c/Program Files/Zandrel"
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zandrel"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zandrel'
passes=0 failures=0
check() {  # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passes=$((passes + 1))
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
has_key() { wine reg query "$key" /v DisplayName </dev/null >/dev/null 2>&1; }

wine "$setup" /S </dev/null
check "installed the program and its runtime" test -f "$program/zandrel.exe" -a -f "$program/zandrel.com" \
    -a -f "$program/Qt6Widgets.dll" -a -f "$program/platforms/qwindows.dll" -a -f "$program/Zandrel.html"
check "Start-menu entry" test -f "$menu/Zandrel.lnk"
check "Add/Remove Programs entry" has_key

# A list with a name beyond ASCII, a source below a drive's root, run by the
# installed windows program (no display here: it runs headless).
work="$c/zandrel-installer-test"
rm -rf "$work" && mkdir -p "$work/src/sub"
printf 'one\n' >"$work/src/a.txt"
printf 'two\n' >"$work/src/sub/b.txt"
printf 'Copy<C:\\zandrel-installer-test\\src<C:\\zandrel-installer-test\\dst<Subfolders<CopyFoldersAndFiles<Overwrite<t<:Specific|Types:*.*\r\n' \
    >"$work/liste é.bak"
status=0
wine "$program/zandrel.exe" 'C:\zandrel-installer-test\liste é.bak' -r </dev/null >"$work/out.txt" 2>&1 || status=$?
check "a run by the installed program ends with 0 (got $status)" test "$status" = 0
check "the run copied the files" cmp -s "$work/src/sub/b.txt" "$work/dst/src/sub/b.txt"
log=$(find "$c/users" -path '*/AppData/Local/Zandrel/Zandrel/log.txt' 2>/dev/null | head -1)
check "the log is in %LOCALAPPDATA%" test -n "$log"
check "the log names the folders with \\" grep -q 'C:\\zandrel-installer-test\\src---->Copy---->C:\\zandrel-installer-test\\dst' "$log"

# The uninstaller copies itself away and returns at once; it is done when its key is gone.
wine "$program/uninstall.exe" /S </dev/null
for _ in $(seq 60); do
    has_key || [ -e "$program" ] || break
    sleep 1
done
check "uninstalled the Add/Remove Programs entry" test "$(has_key && echo yes)" != yes
check "uninstalled the program's folder" test ! -e "$program"
check "uninstalled the Start-menu entry" test ! -e "$menu"
rm -rf "$work"
echo "installer: $passes passed, $failures failed"
[ "$failures" = 0 ]
