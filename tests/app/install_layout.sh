#!/usr/bin/env bash
# Installs into a temporary prefix and checks that the desktop finds Zandrel.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/zandrel bin/Zandrel.html share/applications/zandrel.desktop \
         share/icons/hicolor/scalable/apps/zandrel.svg; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q '^Exec=zandrel' "$prefix/share/applications/zandrel.desktop"
grep -q '^Icon=zandrel' "$prefix/share/applications/zandrel.desktop"
grep -q 'id="contents"' "$prefix/bin/Zandrel.html"
echo "install layout: 1 passed, 0 failed"
