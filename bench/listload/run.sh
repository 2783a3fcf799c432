#!/usr/bin/env bash
# A list of just under 64 MiB (about 600,000 Listings) loaded headless (as the
# command-line run loads it) and into the main window (offscreen, painted),
# one load per process, five alternating runs each; medians of the time and of
# the peak memory of the whole process, and that peak over the file's size.
# Targets: peak at most 4x the file's size; open in the window under 2 s.
# Usage: bench/listload/run.sh [BUILD_DIR]   RUNS=5
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
runs=${RUNS:-5}
cmake --build "$build" --target bench_listload -j2 >/dev/null
bin="$build/bench/listload/bench_listload"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin" make "$work/big.bak"
size=$(stat -c %s "$work/big.bak")
rows=$(grep -c $'\r$' "$work/big.bak")

declare -A ms kb
for i in $(seq "$runs"); do
    modes=(headless window)
    [ $((i % 2)) = 0 ] && modes=(window headless)
    for mode in "${modes[@]}"; do
        read -r t peak n < <("$bin" "$mode" "$work/big.bak")
        [ "$n" = "$rows" ] || { echo "$mode loaded $n rows of $rows"; exit 1; }
        ms[$mode]+="$t "
        kb[$mode]+="$peak "
    done
done

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf 'list of %d Listings, %d bytes\n' "$rows" "$size"
printf '%-10s %10s %12s %12s\n' load "ms" "peak MB" "peak/size"
for mode in headless window; do
    t=$(median "${ms[$mode]}"); p=$(median "${kb[$mode]}")
    awk -v m="$mode" -v t="$t" -v p="$p" -v s="$size" \
        'BEGIN { printf "%-10s %10.0f %12.1f %12.2f\n", m, t, p / 1024, p * 1024 / s }'
done
echo "targets: peak/size <= 4.00; window under 2000 ms"
for mode in headless window; do echo "  $mode: ${ms[$mode]}ms; ${kb[$mode]}KB"; done
