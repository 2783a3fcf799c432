#!/usr/bin/env bash
# Builds the .deb for /usr as a Debian package is built (Release, hardened),
# checks it with lintian (any error or warning fails), checks the hardening of
# the program, installs it the way a user would (apt resolves its Depends),
# checks that the installed program starts and that its files are in place,
# then removes it again. Needs root or sudo.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
# dpkg-shlibdeps, the ELF test cpack uses, lintian, readelf.
zandrel_packages+=(dpkg-dev file lintian binutils)
zandrel_install_missing

build="$ZANDREL_ROOT/build-package"
cmake -S "$ZANDREL_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DZANDREL_HARDENING=ON -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
rm -f zandrel*.deb
cpack -G DEB >/dev/null
deb=(zandrel*.deb)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
fail() { echo "package check: $*"; exit 1; }

depends=$(dpkg-deb -f "${deb[0]}" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"

# Errors and warnings fail; information tags are shown but pass.
lintian --fail-on error,warning --display-info "${deb[0]}" ||
    fail "lintian found errors or warnings in ${deb[0]}"

# The hardening, read from the program itself.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "${deb[0]}" "$unpacked"
program="$unpacked/usr/bin/zandrel"
# Read whole before grep, which would stop reading early (pipefail).
header=$(readelf -h "$program")
segments=$(readelf -lW "$program")
dynamic=$(readelf -dW "$program")
symbols=$(readelf -sW --dyn-syms "$program")
grep -q 'Type:.*DYN' <<<"$header" || fail "the program is not position-independent"
grep -q 'GNU_RELRO' <<<"$segments" || fail "the program has no RELRO segment"
grep -q 'BIND_NOW' <<<"$dynamic" || fail "the program's RELRO is not full (no BIND_NOW)"
grep -q '__stack_chk_fail' <<<"$symbols" || fail "the program has no stack protector"
grep -q '__[a-z]*_chk@' <<<"$symbols" || fail "the program calls no fortified functions"
# Its texts, in 8 and in 16 bits (Qt's string literals).
texts=$(strings -a "$program"; strings -a -e l "$program")
grep -q '^/usr/share/zandrel$' <<<"$texts" || fail "the program does not look in /usr/share/zandrel"
if grep -q '^/usr/local/share' <<<"$texts"; then fail "the program has /usr/local/share compiled in"; fi
rm -rf "$unpacked"
trap - EXIT

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get install -y -qq "./${deb[0]}" >/dev/null
trap '"${sudo[@]}" apt-get remove -y -qq zandrel >/dev/null' EXIT

[ "$(command -v zandrel)" = /usr/bin/zandrel ] || fail "zandrel is not on PATH"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY zandrel --version) || fail "zandrel --version failed"
# The full version, or the About window's "1.0 build #9" form of it.
about="${version%.*} build #${version##*.}"
[[ "$out" == *"$version"* || "$out" == *"$about"* ]] ||
    fail "zandrel --version printed '$out', not $version"
for f in /usr/share/zandrel/Zandrel.html /usr/share/man/man1/zandrel.1.gz \
         /usr/share/doc/zandrel/copyright /usr/share/doc/zandrel/changelog.gz \
         /usr/share/metainfo/io.github.zandrel.Zandrel.metainfo.xml \
         /usr/share/applications/zandrel.desktop \
         /usr/share/icons/hicolor/scalable/apps/zandrel.svg; do
    [ -e "$f" ] || fail "missing after install: $f"
done
# The manual page's footer names this version.
grep -q "^\.TH ZANDREL 1 \"[0-9-]*\" \"Zandrel $version\"" <<<"$(zcat /usr/share/man/man1/zandrel.1.gz)" ||
    fail "the manual page's footer lacks the date or version $version"
echo "package check: ${deb[0]} is lintian-clean, hardened, installs, starts and has its files"
