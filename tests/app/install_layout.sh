#!/usr/bin/env bash
# Installs into a temporary prefix and checks the Linux layout: the program in
# bin, its guide, compressed manual page, AppStream data, desktop entry, icon,
# copyright file and changelog under share.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
metainfo=share/metainfo/io.github.zandrel.Zandrel.metainfo.xml
for f in bin/zandrel share/zandrel/Zandrel.html share/man/man1/zandrel.1.gz "$metainfo" \
         share/applications/zandrel.desktop share/icons/hicolor/scalable/apps/zandrel.svg \
         share/doc/zandrel/copyright share/doc/zandrel/changelog.gz; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
[ ! -e "$prefix/bin/Zandrel.html" ] || { echo "the guide belongs under share, not bin"; exit 1; }
grep -q '^Exec=zandrel' "$prefix/share/applications/zandrel.desktop"
grep -q '^Icon=zandrel' "$prefix/share/applications/zandrel.desktop"
grep -q '^Keywords=.' "$prefix/share/applications/zandrel.desktop"
grep -q 'id="contents"' "$prefix/share/zandrel/Zandrel.html"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
grep -q "<release version=\"$version\"" "$prefix/$metainfo"
grep -q "<project_license>MIT</project_license>" "$prefix/$metainfo"
# The manual page's footer: its date and this version; the changelog's top entry: this version.
gzip -t "$prefix/share/man/man1/zandrel.1.gz" "$prefix/share/doc/zandrel/changelog.gz"
grep -q "^\.TH ZANDREL 1 \"[0-9]*-[0-9]*-[0-9]*\" \"Zandrel $version\"" \
    <<<"$(gzip -dc "$prefix/share/man/man1/zandrel.1.gz")"
grep -q "^zandrel ($version) " <<<"$(gzip -dc "$prefix/share/doc/zandrel/changelog.gz")"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$prefix/share/doc/zandrel/copyright"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/$metainfo" >/dev/null
fi
echo "install layout: 1 passed, 0 failed"
