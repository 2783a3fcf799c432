#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from a cross build
# (scripts/windows/test.sh makes one): installs the build into a staging
# folder, strips the programs and DLLs (the payload shrinks to about half),
# and builds zandrel-VERSION-setup.exe with NSIS and zandrel-VERSION-win64.zip.
# usage: scripts/windows/package.sh [build folder (default build-win/)] [output folder
#        (default package/ in the build folder)]
# Prints the two files' paths on standard output, everything else on standard error.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build-win}" && pwd)
out=${2:-$build/package}

source "$root/scripts/setup.sh"
zandrel_packages=(nsis binutils-mingw-w64-x86-64 cmake)
zandrel_install_missing

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "no configured build in $build" >&2; exit 1; }
name=zandrel-$version-win64
stage=$out/stage
rm -rf "$stage" && mkdir -p "$stage"
cmake --install "$build" --prefix "$stage/root" >&2
# The Windows layout puts everything in the program's folder (bin/ of the prefix).
mv "$stage/root/bin" "$stage/$name"
rm -rf "$stage/root"
payload=$stage/$name
find "$payload" -type f \( -name '*.exe' -o -name '*.com' -o -name '*.dll' \) \
    -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

# One Delete per file and one RMDir per folder, the deepest first, for the uninstaller.
files=$stage/files.nsh
(
    cd "$payload"
    find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|    RMDir "$INSTDIR\\&"|'
) >"$files"
size_kb=$(du -sk "$payload" | cut -f1)

mkdir -p "$out"
setup=$out/zandrel-$version-setup.exe
zip=$out/$name.zip
rm -f "$setup" "$zip"
makensis -V2 -DVERSION="$version" -DPAYLOAD="$payload" -DFILES="$files" -DOUTFILE="$setup" \
    -DSIZE_KB="$size_kb" "$root/packaging/windows/zandrel.nsi" >&2
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "$setup"
echo "$zip"
