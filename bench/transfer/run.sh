#!/usr/bin/env bash
# Copy speed and memory of a headless run (`zandrel LIST -r`) side by side
# with cp and rsync, five alternating runs each, medians:
#   (a) one 1 GiB file                      vs cp -r, rsync -a
#   (b) 20,000 files of 4 KiB in 400 folders vs cp -r, rsync -a
#   (c) (b) again with "CopyOnlyIfNewer", nothing changed, vs rsync -a again
# Targets: (a) <= 1.2x cp, (b) <= 1.3x cp, (c) <= 1.0x rsync, peak memory on
# (b) <= 64 MB. Caches cannot be dropped, so the runs alternate and every
# timed run starts after `sync`. Each run of (b) writes into a folder of its
# own, removed only after all of them: ext4 makes a new file slow to create
# right after many were deleted (it passes over recently freed inodes), which
# would measure the clean-up of the run before instead of the copy.
# Usage: bench/transfer/run.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${1:-$repo/build-engine}
runs=${RUNS:-5}

if [ ! -x /usr/bin/time ]; then
    apt-get install -y time >/dev/null
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_TESTS=OFF >/dev/null
fi
if ! cmake --build "$build" --target zandrel -j2 >/dev/null 2>&1; then
    [ -x "$build/zandrel" ] || { echo "cannot build $build/zandrel"; exit 1; }
    echo "note: the build did not finish; measuring the existing $build/zandrel"
fi

work=${2:-$(mktemp -d)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# A copy of the program of its own: its log files go beside it.
mkdir -p "$work/bin"
cp "$build/zandrel" "$work/bin/zandrel"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY

echo "making the data in $work ..."
mkdir -p "$work/a" "$work/b"
head -c $((1 << 30)) /dev/urandom >"$work/a/big.bin"
python3 - "$work/b" <<'PY'
import os, sys
root = sys.argv[1]
chunk = os.urandom(4096 * 50)
for d in range(400):
    folder = os.path.join(root, "d%03d" % d)
    os.mkdir(folder)
    for f in range(50):
        with open(os.path.join(folder, "f%02d.dat" % f), "wb") as out:
            out.write(chunk[f * 4096:(f + 1) * 4096])
PY

list() {  # list FILE SOURCE DESTINATION RULE
    printf 'Copy<%s<%s<Subfolders<CopyFoldersAndFiles<%s<bench<:Specific|Types:*.*\r\n' \
        "$2" "$3" "$4" >"$1"
}
list "$work/a.bak" "$work/a" "$work/out" Overwrite
list "$work/c.bak" "$work/b" "$work/keep-z" CopyOnlyIfNewer

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
# timed NAME COMMAND...: appends microseconds to times_NAME and the peak
# memory in KB to mem_NAME.
declare -A times mem
timed() {
    local name=$1; shift
    sync
    local t0 t1
    t0=$(now)
    /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>"$work/err" || {
        local status=$?
        # zandrel exits 1 when files failed: that would spoil the figures.
        echo "$name failed with status $status:"; cat "$work/err"; exit 1
    }
    t1=$(now)
    times[$name]+="$(( t1 - t0 )) "
    mem[$name]+="$(tail -1 "$work/mem") "
}
fresh() { rm -rf "$work/out"; mkdir -p "$work/out"; }
# rotated N A B C...: the tools in an order that turns with every round, so
# none is always first after the caches or the disk were disturbed.
rotated() {
    local n=$1; shift
    local tools=("$@") k=${#@}
    for j in $(seq 0 $((k - 1))); do echo "${tools[$(( (j + n) % k ))]}"; done
}

# (a): one inode per run, so the destination is simply removed each time.
# One untimed pass each, so every tool meets warm caches.
fresh; cp -r "$work/a" "$work/out/"
fresh; "$work/bin/zandrel" "$work/a.bak" -r >/dev/null
fresh; rsync -a "$work/a/" "$work/out/a/"
a_run() {
    case $1 in
        cp) fresh; timed a-cp cp -r "$work/a" "$work/out/" ;;
        zandrel) fresh; timed a-zandrel "$work/bin/zandrel" "$work/a.bak" -r ;;
        rsync) fresh; timed a-rsync rsync -a "$work/a/" "$work/out/a/" ;;
    esac
}
for i in $(seq "$runs"); do
    for tool in $(rotated "$i" cp zandrel rsync); do a_run "$tool"; done
done
fresh

# (b): a new destination folder for every run.
n=0
next() { n=$((n + 1)); out="$work/out-b/$n"; mkdir -p "$out"; }
cp -r "$work/b" "$work/warm-cp"
rsync -a "$work/b/" "$work/warm-rsync/"
b_run() {
    next
    case $1 in
        cp) timed b-cp cp -r "$work/b" "$out/" ;;
        zandrel) list "$work/b.bak" "$work/b" "$out" Overwrite
                 timed b-zandrel "$work/bin/zandrel" "$work/b.bak" -r ;;
        rsync) timed b-rsync rsync -a "$work/b/" "$out/b/" ;;
    esac
}
for i in $(seq "$runs"); do
    for tool in $(rotated "$i" cp zandrel rsync); do b_run "$tool"; done
done
rm -rf "$work/out-b" "$work/warm-cp" "$work/warm-rsync"

# (c): a copy made once by each tool, then runs where nothing changed.
rm -rf "$work/keep-z" "$work/keep-r"
mkdir -p "$work/keep-z" "$work/keep-r"
"$work/bin/zandrel" "$work/c.bak" -r >/dev/null
rsync -a "$work/b/" "$work/keep-r/"
for i in $(seq "$runs"); do
    for tool in $(rotated "$i" zandrel rsync); do
        case $tool in
            zandrel) timed c-zandrel "$work/bin/zandrel" "$work/c.bak" -r ;;
            rsync) timed c-rsync rsync -a "$work/b/" "$work/keep-r/" ;;
        esac
    done
done
grep -q -- "-->0 files copied....0 errors" "$work/bin/log.txt" ||
    { echo "the no-change run copied files:"; cat "$work/bin/log.txt"; exit 1; }

median() { printf '%s\n' $1 | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '\n%-34s %10s %10s %10s %8s %8s %12s\n' case "zandrel ms" "cp ms" "rsync ms" "z/cp" "z/rsync" "z peak KB"
row() {  # row LABEL CASE HAS_CP
    local z c r
    z=$(median "${times[$2-zandrel]}")
    r=$(median "${times[$2-rsync]}")
    if [ "$3" = yes ]; then c=$(median "${times[$2-cp]}"); else c=""; fi
    printf '%-34s %10s %10s %10s %8s %8s %12s\n' "$1" "$(ms "$z")" \
        "${c:+$(ms "$c")}" "$(ms "$r")" "${c:+$(ratio "$z" "$c")}" "$(ratio "$z" "$r")" \
        "$(median "${mem[$2-zandrel]}")"
}
row "(a) one 1 GiB file" a yes
row "(b) 20,000 x 4 KiB, 400 folders" b yes
row "(c) (b) again, nothing changed" c no
echo
echo "targets: (a) z/cp <= 1.20, (b) z/cp <= 1.30, (c) z/rsync <= 1.00, peak on (b) <= 65536 KB"
for k in a-zandrel a-cp a-rsync b-zandrel b-cp b-rsync c-zandrel c-rsync; do
    echo "  $k: ${times[$k]}(us)"
done
