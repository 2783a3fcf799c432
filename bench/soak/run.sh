#!/usr/bin/env bash
# No-loss soak, outside ./test: a headless Move of 100,000 files (0 to 8 MiB,
# about 2 GB, nested folders, names with blanks, ";" and non-ASCII letters)
# checked against a SHA-256 manifest taken before, with its peak memory; and a
# Copy of a real tree compared with diff -r below the rebuilt structure.
#
#   bench/soak/run.sh [FILES]     SOAK_DIR (default /var/tmp/zandrel-soak),
#                                 REAL_TREE (default /usr/include)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${BUILD:-$ROOT/build-rel}"
FILES="${1:-100000}"
SOAK_DIR="${SOAK_DIR:-/var/tmp/zandrel-soak}"
REAL_TREE="${REAL_TREE:-/usr/include}"
MEMORY_LIMIT_KB=$((64 * 1024))

command -v /usr/bin/time >/dev/null || { apt-get update -qq && apt-get install -y -qq time; }
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target zandrel >/dev/null
BIN="$BUILD/zandrel"

rm -rf "$SOAK_DIR"
mkdir -p "$SOAK_DIR"
SRC="$SOAK_DIR/src"
DST="$SOAK_DIR/dst"

# A Listing line: action, source, destination, sub-folders, structure, rule.
list_line() {
    printf '%s<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<%s<:Specific|Types:*.*\r\n' \
        "$1" "$2" "$3" "$4"
}

# Headless: no display; the program writes log.txt beside itself.
run_headless() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/time -v -o "$2" \
        "$BIN" "$1" -r >"$3" 2>&1
}

peak_kb() { awk -F': ' '/Maximum resident set size/ {print $2}' "$1"; }
elapsed() { awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$1"; }

echo "== making $FILES files in $SRC"
python3 "$ROOT/bench/soak/soak_tree.py" make "$SRC" "$SOAK_DIR/manifest" "$FILES"
BYTES=$(awk -F'\t' '{s += $2} END {printf "%d", s}' "$SOAK_DIR/manifest")

echo "== Move $SRC -> $DST"
list_line Move "$SRC" "$DST" "soak" >"$SOAK_DIR/move.bak"
status=0
run_headless "$SOAK_DIR/move.bak" "$SOAK_DIR/move.time" "$SOAK_DIR/move.out" || status=$?
tail -n 2 "$SOAK_DIR/move.out"
MOVE_PEAK=$(peak_kb "$SOAK_DIR/move.time")
MOVE_TIME=$(elapsed "$SOAK_DIR/move.time")

echo "== checking against the manifest"
verify=0
python3 "$ROOT/bench/soak/soak_tree.py" verify "$SRC" "$DST" "$SOAK_DIR/manifest" || verify=$?

echo "== Copy $REAL_TREE -> $SOAK_DIR/real"
list_line Copy "$REAL_TREE" "$SOAK_DIR/real" "real tree" >"$SOAK_DIR/real.bak"
real_status=0
run_headless "$SOAK_DIR/real.bak" "$SOAK_DIR/real.time" "$SOAK_DIR/real.out" || real_status=$?
tail -n 1 "$SOAK_DIR/real.out"
# The structure below "/" and the first folder level: /usr/include -> include.
REBUILT="$SOAK_DIR/real/${REAL_TREE#/*/}"
diff -r "$REAL_TREE" "$REBUILT" >"$SOAK_DIR/real.diff" 2>&1 || true
# By design the walk never goes through a link to a folder, and folders are
# made only on the way to a file: such entries are only in the source.
# Anything else is a difference.
unexplained=0
while IFS= read -r line; do
    if [[ "$line" =~ ^Only\ in\ (.*):\ (.*)$ ]] && [[ "${BASH_REMATCH[1]}" == "$REAL_TREE"* ]]; then
        entry="${BASH_REMATCH[1]}/${BASH_REMATCH[2]}"
        if [ -L "$entry" ] && [ -d "$entry" ]; then continue; fi
        if [ -d "$entry" ] && [ -z "$(find "$entry" \( -type f -o -xtype f \) -print -quit)" ]; then
            continue
        fi
    fi
    echo "diff: $line"
    unexplained=$((unexplained + 1))
done <"$SOAK_DIR/real.diff"
explained=$(grep -c '^Only in' "$SOAK_DIR/real.diff" || true)
folder_links=$(find "$REAL_TREE" -type l -xtype d | wc -l)

echo
echo "soak: $FILES files, $BYTES bytes moved in $MOVE_TIME, exit status $status," \
    "peak memory $((MOVE_PEAK / 1024)) MiB (limit $((MEMORY_LIMIT_KB / 1024)) MiB)," \
    "manifest check $([ $verify -eq 0 ] && echo passed || echo FAILED)"
echo "real tree: $REAL_TREE copied in $(elapsed "$SOAK_DIR/real.time"), exit status $real_status," \
    "peak memory $(($(peak_kb "$SOAK_DIR/real.time") / 1024)) MiB," \
    "diff -r: $unexplained unexplained differences" \
    "($((explained - unexplained)) entries only in the source: $folder_links links to folders are not followed, folders without files are not made)"

failed=0
[ "$status" -eq 0 ] && [ "$verify" -eq 0 ] && [ "$MOVE_PEAK" -lt "$MEMORY_LIMIT_KB" ] || failed=1
[ "$real_status" -eq 0 ] && [ "$unexplained" -eq 0 ] || failed=1
[ "${KEEP:-0}" = 1 ] || rm -rf "$SOAK_DIR"
exit "$failed"
