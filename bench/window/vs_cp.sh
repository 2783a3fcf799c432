#!/usr/bin/env bash
# A command-line run with a display (the real window under Xvfb) side by side
# with cp -r, five alternating runs each, medians:
#   (a) one 1 GiB file, (b) 20,000 files of 4 KiB in 400 folders.
# Target: at most 1.5x cp -r on each. Every run writes into a folder of its
# own, removed only after all runs (ext4 is slow to create files right after
# many were deleted).
# Usage: bench/window/vs_cp.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
runs=${RUNS:-5}
command -v Xvfb >/dev/null || apt-get install -y -qq xvfb >/dev/null
cmake --build "$build" --target zandrel -j2 >/dev/null

work=${2:-$(mktemp -d)}
mkdir -p "$work/bin"
cp "$build/zandrel" "$work/bin/zandrel"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
export DISPLAY=$display
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

mkdir -p "$work/a" "$work/b"
head -c $((1 << 30)) /dev/urandom >"$work/a/big.bin"
for d in $(seq -w 0 399); do
    mkdir "$work/b/d$d"
    for f in $(seq -w 0 49); do head -c 4096 /dev/urandom >"$work/b/d$d/f$f.dat"; done
done

now() { echo "${EPOCHREALTIME/./}"; }
median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
declare -A times
for load in a b; do
    for i in $(seq 1 "$runs"); do
        out="$work/out-$load-cp-$i"; mkdir -p "$out"
        sync; t0=$(now); cp -r "$work/$load" "$out/"; t1=$(now)
        times[$load-cp]+="$((t1 - t0)) "
        out="$work/out-$load-z-$i"; mkdir -p "$out"
        printf 'Copy<%s<%s<Subfolders<CopyJustFiles<Overwrite<bench<:Specific|Types:*.*\r\n' \
            "$work/$load" "$out" >"$work/l.bak"
        [ "$load" = b ] && sed -i 's/CopyJustFiles/CopyFoldersAndFiles/' "$work/l.bak"
        sync; t0=$(now); "$work/bin/zandrel" "$work/l.bak" -r >/dev/null 2>&1; t1=$(now)
        times[$load-z]+="$((t1 - t0)) "
    done
    rm -rf "$work"/out-$load-*
done
printf '%-34s %10s %10s %7s\n' workload "cp -r ms" "window ms" ratio
for load in a b; do
    cp_ms=$(echo "${times[$load-cp]}" | median); z_ms=$(echo "${times[$load-z]}" | median)
    name=$([ $load = a ] && echo "(a) one 1 GiB file" || echo "(b) 20,000 files of 4 KiB")
    awk -v n="$name" -v c="$cp_ms" -v z="$z_ms" 'BEGIN {printf "%-34s %10.0f %10.0f %7.2f\n", n, c/1000, z/1000, z/c}'
done
