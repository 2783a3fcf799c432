#!/usr/bin/env bash
# Builds the Qt 6 that the Windows build links against: Core, Gui, Widgets, Test, the windows,
# offscreen and minimal platform plugins and the Windows styles, for x86_64 Windows with
# Debian's mingw-w64 compilers (posix threads), from Debian's own qt6-base source package.
# A Qt 6 cross build takes its tools (moc, rcc, uic) from a host Qt of the same version:
# Debian's, in /usr. About an hour on two cores; test.sh runs it once, when its cache holds no
# Qt and no prebuilt archive is at hand.
# usage: scripts/windows/build-qt.sh PREFIX [WORKDIR]     (as root, or through sudo)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PREFIX [WORKDIR]" >&2; exit 2; }
prefix=$(realpath -m "$1")
work=$(realpath -m "${2:-$(mktemp -d)}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

# The source package comes from the archive already configured, as deb-src.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        "${sudo[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends mingw-w64 g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix cmake ninja-build dpkg-dev qt6-base-dev qt6-base-dev-tools >/dev/null

mkdir -p "$work"
cd "$work"
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
if [ -z "$src" ]; then
    apt-get source -qq qt6-base >/dev/null
    src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
fi
# Only what the program and its tests use: no OpenGL, ICU, D-Bus, SQL, network, XML, concurrent
# or printing; the image and font libraries Qt bundles, since mingw-w64 has none of its own.
mkdir -p build
cd build
"$src/configure" -prefix "$prefix" -release -shared -qt-host-path /usr -xplatform win32-g++ \
    -device-option CROSS_COMPILE=x86_64-w64-mingw32- -nomake tests -nomake examples -no-opengl \
    -no-icu -no-dbus -no-pkg-config -no-zstd -no-openssl -qt-zlib -qt-pcre -qt-libpng \
    -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-doubleconversion -no-feature-sql \
    -no-feature-network -no-feature-xml -no-feature-concurrent -no-feature-printsupport \
    -no-feature-tabletevent -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/mingw-posix.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
nice cmake --build . --parallel "$(nproc)"
cmake --install . --prefix "$prefix"
x86_64-w64-mingw32-strip --strip-unneeded "$prefix"/bin/*.dll "$prefix"/plugins/*/*.dll
echo "Qt for mingw-w64 in $prefix"
