#!/usr/bin/env bash
# Many small files, headless, side by side with the usual tools, medians of
# alternating runs (the order of the tools turns every round):
#   Copy of 100,000 files (0 to 8 KiB) in 1,000 folders  vs cp -r
#   Move of the same tree                                vs rsync -a --remove-source-files
# Targets: Copy <= 1.0x cp -r (stretch 0.8x), Move <= 1.0x rsync. Every run
# gets a destination of its own, and every Move a source of its own, copied
# from the master tree before the clock starts (SOURCES=links makes hard links
# instead: faster to prepare, but then a Move frees no inode, and ext4's slow
# search past recently freed inodes, which real moves meet, never shows).
# Nothing is deleted before the end: deleting a million files takes minutes.
# Usage: bench/smallfiles/run.sh [BUILD_DIR] [WORK_DIR]
#        RUNS=5 FILES=100000 PHASES="copy move" SOURCES=copy|links
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
runs=${RUNS:-5}
files=${FILES:-100000}
phases=${PHASES:-copy move}
sources=${SOURCES:-copy}

command -v rsync >/dev/null || apt-get install -y -qq rsync >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -qq time >/dev/null
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target zandrel -j2 >/dev/null

work=${2:-$(mktemp -d /var/tmp/zandrel-small.XXXXXX)}
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
        size = rng.randint(0, 8192)
        with open(os.path.join(folder, "f%03d.dat" % f), "wb") as out:
            out.write(blob[:size])
PY

now() { echo "${EPOCHREALTIME/./}"; }
declare -A times
timed() {  # timed NAME COMMAND...
    local name=$1; shift
    sync
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>"$work/err" || { echo "$name failed:"; cat "$work/err"; exit 1; }
    t1=$(now)
    times[$name]+="$((t1 - t0)) "
}
list() {  # list ACTION SOURCE DESTINATION
    printf '%s<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*\r\n' \
        "$1" "$2" "$3" >"$work/l.bak"
}
rotated() {
    local n=$1; shift
    local tools=("$@") k=$#
    for j in $(seq 0 $((k - 1))); do echo "${tools[$(((j + n) % k))]}"; done
}

median() { printf '%s\n' $1 | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The disk has slow spells of seconds (new files right after many were
# deleted, by us or by anyone else), so beside the ratio of the medians the
# median of each round's own ratio is printed: the two tools of one round run
# back to back and mostly meet the same spell.
row() {  # row LABEL ZANDREL REFERENCE REF_NAME
    local z r p
    z=$(median "${times[$2]}"); r=$(median "${times[$3]}")
    p=$(median "$(paste <(printf '%s\n' ${times[$2]}) <(printf '%s\n' ${times[$3]}) |
        awk '{ printf "%.4f\n", $1 / $2 }')")
    awk -v n="$1" -v z="$z" -v r="$r" -v t="$4" -v p="$p" \
        'BEGIN { printf "%-40s %10.0f %10.0f %-30s %6.2f %6.2f\n", n, z / 1000, r / 1000, t, z / r, p }'
}
printf '\n%-40s %10s %10s %-30s %6s %6s\n' case "zandrel ms" "ref ms" reference ratio paired

# Copy: the master tree is only read.
if [[ $phases == *copy* ]]; then
cp -r "$work/master" "$work/warm"  # one untimed pass, so both meet warm caches

for i in $(seq "$runs"); do
    for tool in $(rotated "$i" cp zandrel); do
        out="$work/copy-$tool-$i"; mkdir -p "$out"
        case $tool in
            cp) timed copy-cp cp -r "$work/master" "$out/" ;;
            zandrel) list Copy "$work/master" "$out"; timed copy-zandrel "$work/bin/zandrel" "$work/l.bak" -r ;;
        esac
    done
done

row "Copy $files files, 1,000 folders" copy-zandrel copy-cp "cp -r"
fi

# Move: each run moves a tree of its own.
if [[ $phases == *move* ]]; then
for i in $(seq "$runs"); do
    for tool in $(rotated "$i" rsync zandrel); do
        src="$work/move-src-$tool-$i"; out="$work/move-out-$tool-$i"
        if [ "$sources" = links ]; then cp -al "$work/master" "$src"; else cp -r "$work/master" "$src"; fi
        mkdir -p "$out"
        case $tool in
            rsync) timed move-rsync rsync -a --remove-source-files "$src/" "$out/" ;;
            zandrel) list Move "$src" "$out"; timed move-zandrel "$work/bin/zandrel" "$work/l.bak" -r ;;
        esac
    done
done

row "Move $files files, 1,000 folders ($sources)" move-zandrel move-rsync "rsync -a --remove-source-files"
fi
echo "targets: Copy <= 1.00 (stretch 0.80), Move <= 1.00"
for k in "${!times[@]}"; do echo "  $k: ${times[$k]}(us)"; done | sort
