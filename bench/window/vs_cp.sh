#!/usr/bin/env bash
# A command-line run with a display (the real window under Xvfb) side by side
# with the same run headless and with cp -r, alternating runs (the order of the
# tools turns every round), medians:
#   (a) one 1 GiB file, (b) 20,000 files of 4 KiB in 400 folders,
#   (c) a Listing whose source folder is empty: what the window itself costs.
# Targets: (a) at most 1.5x cp -r; (b) at most 1.3x cp -r; (c) the window at
# most 50 ms longer than headless. Every run writes into a folder of its own,
# removed only after all runs (ext4 is slow to create files right after many
# were deleted).
# Usage: bench/window/vs_cp.sh [BUILD_DIR] [WORK_DIR]   RUNS=5 LOADS="a b c"
#        ZANDREL=path/to/zandrel measures that program instead of BUILD_DIR's
#        (for a before-and-after comparison).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
runs=${RUNS:-5}
loads=${LOADS:-a b c}
command -v Xvfb >/dev/null || apt-get install -y -qq xvfb >/dev/null
[ -n "${ZANDREL:-}" ] || cmake --build "$build" --target zandrel -j2 >/dev/null

work=${2:-$(mktemp -d)}
mkdir -p "$work/bin"
cp "${ZANDREL:-$build/zandrel}" "$work/bin/zandrel"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

mkdir -p "$work/a" "$work/b" "$work/c"
[[ $loads == *a* ]] && head -c $((1 << 30)) /dev/urandom >"$work/a/big.bin"
if [[ $loads == *b* ]]; then
    for d in $(seq -w 0 399); do
        mkdir "$work/b/d$d"
        # f00.dat to f49.dat, one process pair per folder instead of one per file.
        head -c $((50 * 4096)) /dev/urandom |
            split -b 4096 -d -a 2 --additional-suffix=.dat - "$work/b/d$d/f"
    done
fi

now() { echo "${EPOCHREALTIME/./}"; }
median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
rotated() {
    local n=$1; shift
    local tools=("$@") k=$#
    for j in $(seq 0 $((k - 1))); do echo "${tools[$(((j + n) % k))]}"; done
}
declare -A times
for load in $loads; do
    for i in $(seq 1 "$runs"); do
        for tool in $(rotated "$i" cp window headless); do
            out="$work/out-$load-$tool-$i"; mkdir -p "$out"
            if [ "$tool" = cp ]; then
                sync; t0=$(now); cp -r "$work/$load" "$out/"; t1=$(now)
            else
                structure=$([ "$load" = a ] && echo CopyJustFiles || echo CopyFoldersAndFiles)
                printf 'Copy<%s<%s<Subfolders<%s<Overwrite<bench<:Specific|Types:*.*\r\n' \
                    "$work/$load" "$out" "$structure" >"$work/l.bak"
                sync
                if [ "$tool" = window ]; then
                    t0=$(now); DISPLAY=$display "$work/bin/zandrel" "$work/l.bak" -r >/dev/null 2>&1; t1=$(now)
                else
                    t0=$(now); env -u DISPLAY "$work/bin/zandrel" "$work/l.bak" -r >/dev/null 2>&1; t1=$(now)
                fi
            fi
            times[$load-$tool]+="$((t1 - t0)) "
        done
    done
    rm -rf "$work"/out-$load-*
done
printf '%-30s %10s %12s %10s %9s %12s\n' workload "cp -r ms" "headless ms" "window ms" "window/cp" "window-head"
for load in $loads; do
    cp_ms=$(echo "${times[$load-cp]}" | median)
    w_ms=$(echo "${times[$load-window]}" | median)
    h_ms=$(echo "${times[$load-headless]}" | median)
    case $load in
        a) name="(a) one 1 GiB file" ;;
        b) name="(b) 20,000 files of 4 KiB" ;;
        c) name="(c) an empty source folder" ;;
    esac
    awk -v n="$name" -v c="$cp_ms" -v w="$w_ms" -v h="$h_ms" \
        'BEGIN {printf "%-30s %10.1f %12.1f %10.1f %9.2f %+12.1f\n", n, c/1000, h/1000, w/1000, w/c, (w-h)/1000}'
done
echo "targets: (a) window/cp <= 1.50, (b) window/cp <= 1.30, (c) window-head <= +50 ms"
for k in "${!times[@]}"; do echo "  $k: ${times[$k]}(us)"; done | sort
