#!/usr/bin/env bash
# Builds the Debian source package the Debian way (dpkg-buildpackage with
# debhelper and CMake) twice, from the committed tree in two different
# folders, and checks that both builds give the very same package, that it is
# lintian-clean, and that debian/changelog and debian/copyright say what the
# build installs. With a .deb made by cpack as its argument, also checks that
# both packages hold the same files. Needs root or sudo (for apt-get).
set -euo pipefail
source "$(dirname "$0")/setup.sh"
zandrel_packages+=(debhelper dpkg-dev lintian)
zandrel_install_missing

fail() { echo "debian source check: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {  # build FOLDER: the package built from a fresh copy of the tree
    mkdir -p "$1/zandrel"
    git -C "$ZANDREL_ROOT" archive HEAD | tar -x -C "$1/zandrel"
    (cd "$1/zandrel" && dpkg-buildpackage -us -uc -b >"$1/build.log" 2>&1) ||
        { tail -30 "$1/build.log"; fail "dpkg-buildpackage failed in $1"; }
}
build "$work/one"
build "$work/two/deeper"
first=("$work"/one/zandrel_*_amd64.deb)
second=("$work"/two/deeper/zandrel_*_amd64.deb)
cmp -s "${first[0]}" "${second[0]}" ||
    fail "two builds differ: $(sha256sum "${first[0]}" "${second[0]}")"

lintian --fail-on error,warning "${first[0]}" || fail "lintian found errors or warnings"

# One version and one copyright: what CMake configures is what debian/ says.
unpacked="$work/unpacked"
dpkg-deb -x "${first[0]}" "$unpacked"
zcat "$unpacked/usr/share/doc/zandrel/changelog.gz" | cmp -s - "$ZANDREL_ROOT/debian/changelog" ||
    fail "debian/changelog is not the changelog the build installs (resources/debian/changelog.in)"
cmp -s "$unpacked/usr/share/doc/zandrel/copyright" "$ZANDREL_ROOT/debian/copyright" ||
    fail "debian/copyright is not the copyright file the build installs"

if [ $# -gt 0 ]; then
    files() { dpkg-deb -c "$1" | awk '$6 != "./" { print $1, $6 }' | sort -k2; }
    diff <(files "${first[0]}") <(files "$1") >"$work/files.diff" ||
        { cat "$work/files.diff"; fail "dpkg-buildpackage and cpack packages hold different files"; }
fi
echo "debian source check: $(basename "${first[0]}") builds the same twice and is" \
    "lintian-clean${1:+, and holds what the cpack package holds}"
