#!/usr/bin/env bash
# Builds the .deb, installs it the way a user would (apt resolves its
# Depends), checks that the installed program starts and that its files are
# in place, then removes it again. Needs root or sudo.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
zandrel_packages+=(dpkg-dev file)  # dpkg-shlibdeps and the ELF test cpack uses
zandrel_install_missing

build="$ZANDREL_ROOT/build-package"
cmake -S "$ZANDREL_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_TESTS=OFF \
      -DZANDREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target zandrel
cd "$build"
rm -f zandrel*.deb
cpack -G DEB >/dev/null
deb=(zandrel*.deb)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
fail() { echo "package check: $*"; exit 1; }

depends=$(dpkg-deb -f "${deb[0]}" Depends)
echo "$depends" | grep -q 'libqt6widgets6' || fail "Depends lacks the Qt libraries: $depends"

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get install -y -qq "./${deb[0]}" >/dev/null
trap '"${sudo[@]}" apt-get remove -y -qq zandrel >/dev/null' EXIT

[ "$(command -v zandrel)" = /usr/bin/zandrel ] || fail "zandrel is not on PATH"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY zandrel --version) || fail "zandrel --version failed"
# The full version, or the About window's "1.0 build #9" form of it.
about="${version%.*} build #${version##*.}"
[[ "$out" == *"$version"* || "$out" == *"$about"* ]] ||
    fail "zandrel --version printed '$out', not $version"
for f in /usr/share/zandrel/Zandrel.html /usr/share/man/man1/zandrel.1 \
         /usr/share/metainfo/io.github.zandrel.Zandrel.metainfo.xml \
         /usr/share/applications/zandrel.desktop \
         /usr/share/icons/hicolor/scalable/apps/zandrel.svg; do
    [ -e "$f" ] || fail "missing after install: $f"
done
echo "package check: ${deb[0]} installs, starts and has its files"
