#!/usr/bin/env bash
# Runs a Windows program under Wine where ctest or a build would run a native
# one (CMAKE_CROSSCOMPILING_EMULATOR). The prefix is the caller's WINEPREFIX,
# set up for Windows 10 (test.sh makes a throwaway one). The exit status is
# the program's.
set -uo pipefail
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-run.sh: WINEPREFIX must name a prepared Wine prefix (scripts/windows/test.sh makes one)" >&2
    exit 125
fi
# Qt's offscreen screen is 800 by 800 unless told; a Windows desktop is
# larger, and the window, laid out in Wine's fonts, is wider than 800.
if [ "${QT_QPA_PLATFORM:-}" = offscreen ]; then
    screen="${TMPDIR:-/tmp}/zandrel-wine-screen.json"
    # Written whole and then named: tests start side by side.
    [ -f "$screen" ] || { printf '%s\n' '{ "screens": [ { "name": "wine", "x": 0, "y": 0,' \
        '"width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }' \
        >"$screen.$$" && mv -f "$screen.$$" "$screen"; }
    # A path from the root of Wine's current drive: a drive's colon would end
    # the platform's argument.
    export QT_QPA_PLATFORM="offscreen:configfile=$screen"
fi
# Wine keeps the QT_* variables from Windows programs, so that a Qt of the
# host does not steer them; WINEQT_X reaches the program as QT_X.
for name in $(compgen -e); do
    case $name in QT_*) export "WINE$name=${!name}" ;; esac
done
export WINEDEBUG=${WINEDEBUG:--all}
# Windows ends lines in CR LF; without the CR, GoogleTest's list of tests and
# the output ctest shows read as on Linux.
# Rarely, under load, Wine ends a program before it has run at all: no
# output, a failure. Every program run here writes before it can fail (a
# test its header), so that case alone is said and started once more.
said=$(mktemp "${TMPDIR:-/tmp}/zandrel-wine-run.XXXXXX")
trap 'rm -f "$said"' EXIT
for attempt in 1 2; do
    wine "$@" | sed -u 's/\r$//' | tee "$said"
    status=${PIPESTATUS[0]}
    if [ "$status" = 0 ] || [ -s "$said" ] || [ "$attempt" = 2 ]; then
        break
    fi
    echo "wine-run.sh: $1 ended with status $status before writing anything; started once more" >&2
done
# Now and then Wine's own process dies by SIGSEGV as a program ends, after a
# test has written that it passed (seen about once in a thousand starts,
# under load). A fault of the program itself ends it with a Windows status,
# never a signal, so the test's own verdict stands; said on stderr.
if [ "$status" = 139 ] && grep -q '^\[  PASSED  \]' "$said" && ! grep -q '^\[  FAILED  \]' "$said"; then
    echo "wine-run.sh: Wine crashed (SIGSEGV) after $1 had passed; its result stands" >&2
    status=0
fi
exit "$status"
