#!/usr/bin/env bash
# Installs into a temporary prefix and checks the Linux layout: the program in
# bin, its guide, manual page, AppStream data, desktop entry and icon under share.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
metainfo=share/metainfo/io.github.zandrel.Zandrel.metainfo.xml
for f in bin/zandrel share/zandrel/Zandrel.html share/man/man1/zandrel.1 "$metainfo" \
         share/applications/zandrel.desktop share/icons/hicolor/scalable/apps/zandrel.svg; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
[ ! -e "$prefix/bin/Zandrel.html" ] || { echo "the guide belongs under share, not bin"; exit 1; }
grep -q '^Exec=zandrel' "$prefix/share/applications/zandrel.desktop"
grep -q '^Icon=zandrel' "$prefix/share/applications/zandrel.desktop"
grep -q 'id="contents"' "$prefix/share/zandrel/Zandrel.html"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
grep -q "<release version=\"$version\"" "$prefix/$metainfo"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/$metainfo" >/dev/null
fi
echo "install layout: 1 passed, 0 failed"
