#!/usr/bin/env bash
# Builds Zandrel for 64-bit Windows on Debian and runs its tests under Wine: installs what is
# missing, takes Qt for mingw-w64 from a cache folder (unpacked from a prebuilt archive, or
# built there once by build-qt.sh), cross-compiles zandrel.exe, zandrel.com and the tests into
# build-win/ with the runtime DLLs and Qt's plugins beside them, and runs ctest there, each test
# under Wine in a throwaway Windows 10 prefix; then makes the installer and the portable zip
# (package.sh) and installs, runs and uninstalls that installer there (test-installer.sh).
# usage: scripts/windows/test.sh [ctest arguments, e.g. -R Paths]
#   ZANDREL_WIN_BUILD   the build folder (default build-win/ in the repository)
#   ZANDREL_WIN_CACHE   the cache folder for Qt (default $XDG_CACHE_HOME/zandrel-win when
#                       XDG_CACHE_HOME is set, otherwise cache/ in the build folder)
#   ZANDREL_QT_ARCHIVE  the prebuilt Qt (default ../shared/toolchains/qt6-mingw64-6.4.2.tar.xz
#                       beside the repository's root)
# The set-up and the build print on standard error; ctest on standard output.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZANDREL_WIN_BUILD:-$root/build-win}
if [ -n "${ZANDREL_WIN_CACHE:-}" ]; then
    cache=$ZANDREL_WIN_CACHE
elif [ -n "${XDG_CACHE_HOME:-}" ]; then
    cache=$XDG_CACHE_HOME/zandrel-win
else
    cache=$build/cache
fi
archive=${ZANDREL_QT_ARCHIVE:-$root/../shared/toolchains/qt6-mingw64-6.4.2.tar.xz}
qt=$cache/qt6-mingw

# Each step says how long it took, so that a slow one shows.
timed() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name" >&2
    "$@"
    echo "== $name: $((SECONDS - start)) s" >&2
}

# The project's own installer, with this build's packages: the posix-threads compilers
# (std::thread, std::mutex), Wine, the host Qt whose tools (moc, rcc, uic) a cross build of
# Qt 6 uses, GoogleTest's source and the xxHash header; Wine's own fonts (Tahoma, Marlett),
# which Wine's "MS Shell Dlg" stands for; NSIS for the installer.
source "$root/scripts/setup.sh"
zandrel_packages=(mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
                  cmake ninja-build qt6-base-dev qt6-base-dev-tools googletest libxxhash-dev
                  xz-utils fonts-wine nsis)

provide_qt() {
    [ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] && return 0
    mkdir -p "$cache"
    if [ -f "$archive" ]; then
        echo "Unpacking $archive into $cache" >&2
        tar -xJf "$archive" -C "$cache"
    else
        echo "No Qt for mingw-w64 in $cache and no $archive: building it (about an hour)" >&2
        "$here/build-qt.sh" "$qt" "$cache/qt-build" >&2
    fi
    [ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] || { echo "no Qt in $qt" >&2; exit 1; }
}

# Qt's wrapper loads its toolchain, which loads ours (the one it was built with may lie
# elsewhere). Tests run through wine-run.sh.
configure() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    "$qt/bin/qt-cmake" -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/mingw-posix.cmake" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$here/wine-run.sh" \
        -DZANDREL_BUILD_TESTS=ON -DZANDREL_BUILD_BENCH=OFF -DZANDREL_WERROR=ON "${launcher[@]}" >&2
}

build() {
    cmake --build "$build" --parallel "$(nproc)" >&2
}

# A fresh prefix for every run: nothing a run leaves there meets the next. No Mono or Gecko
# (mscoree, mshtml): they would ask to be downloaded. Qt 6 needs Windows 10.
prefix=
make_prefix() {
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-wine.XXXXXX")
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot --init >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
    # Without them Qt's "MS Shell Dlg" comes out in a serif face of other metrics.
    cp /usr/share/wine/fonts/tahoma*.ttf /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
    # The registry reaches the prefix's files when its server ends; then one server stays for
    # the whole run, instead of one started for each test.
    wineserver --wait
    wineserver --persistent
    # Wine's own services start with the first program and stay with the server. Started here
    # they hold none of ctest's pipes, which ctest would wait on until its time-out.
    wine cmd /c exit </dev/null >/dev/null 2>&1
}
remove_prefix() {
    [ -n "$prefix" ] || return 0
    wineserver --kill 2>/dev/null || true
    # Debian's Wine keeps the server's socket in a folder of its own, named in the prefix.
    local sockets
    sockets=$(cat "$prefix/wineserver" 2>/dev/null || true)
    case $sockets in wine-?*) rm -rf "${TMPDIR:-/tmp}/$sockets" ;; esac
    rm -rf "$prefix"
}
trap remove_prefix EXIT

run_tests() {
    cd "$build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@"
}

timed "packages" zandrel_install_missing
timed "Qt for mingw-w64" provide_qt
timed "configure" configure
timed "build" build
timed "Wine prefix" make_prefix
timed "tests" run_tests "$@"
# The installer and the zip from this build, then the installer as a user runs it.
timed "installer and zip" "$here/package.sh" "$build" >"$build/package.list"
timed "installer under Wine" "$here/test-installer.sh" "$(head -n 1 "$build/package.list")"
