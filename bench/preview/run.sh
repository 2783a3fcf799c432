#!/usr/bin/env bash
# A preview of 100,000 small files (0 to 8 KiB) in 1,000 folders against the
# Copy run that follows it, headless: each round previews a list into a new
# destination, then runs it. Prints the medians and the ratio preview / run.
# Target: the preview takes at most half as long as the run.
# Usage: bench/preview/run.sh [BUILD_DIR] [WORK_DIR]     RUNS=3 FILES=100000 ACTION=Copy|Move
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
runs=${RUNS:-3}
files=${FILES:-100000}
action=${ACTION:-Copy}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target zandrel -j2 >/dev/null

work=${2:-$(mktemp -d /var/tmp/zandrel-preview.XXXXXX)}
mkdir -p "$work/bin"
trap 'ionice -c3 rm -rf "$work"' EXIT
cp "$build/zandrel" "$work/bin/zandrel"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY

echo "making $files files in 1,000 folders in $work/master ..."
python3 - "$work/master" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(14)
blob = os.urandom(8192)
per = count // 1000
for d in range(1000):
    folder = os.path.join(root, "d%03d" % d)
    os.makedirs(folder)
    for f in range(per):
        with open(os.path.join(folder, "f%03d.dat" % f), "wb") as out:
            out.write(blob[:rng.randint(0, 8192)])
PY

now() { echo "${EPOCHREALTIME/./}"; }
timed() {  # timed COMMAND... : prints microseconds
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>"$work/err" || [ $? -le 1 ] || { cat "$work/err" >&2; exit 1; }
    t1=$(now)
    echo $((t1 - t0))
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

previews=() runs_=()
for i in $(seq 1 "$runs"); do
    source=$work/master
    if [ "$action" = Move ]; then
        cp -a "$work/master" "$work/src-$i"
        source=$work/src-$i
    fi
    printf '%s<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*\r\n' \
        "$action" "$source" "$work/dst-$i" >"$work/list-$i.bak"
    sync
    p=$(timed "$work/bin/zandrel" "$work/list-$i.bak" -n)
    r=$(timed "$work/bin/zandrel" "$work/list-$i.bak" -r)
    echo "round $i: preview $((p / 1000)) ms, run $((r / 1000)) ms"
    previews+=("$p") runs_+=("$r")
done
mp=$(median "${previews[@]}")
mr=$(median "${runs_[@]}")
echo "median preview $((mp / 1000)) ms, run $((mr / 1000)) ms, ratio $(python3 -c "print(f'{$mp / $mr:.2f}')") (target <= 0.50)"
