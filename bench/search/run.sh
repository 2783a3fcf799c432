#!/usr/bin/env bash
# Lists a tree of 100,000 files in 1,000 folders as a run with sub-folders
# does, side by side with `find TREE -type f`, 5 times each, alternating;
# prints the medians, the ratio and the peak memory of the walk.
# Usage: bench/search/run.sh [BUILD_DIR]   (default: build-search)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${1:-$repo/build-search}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_search -j2 >/dev/null
bench=$build/bench/search/bench_search

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
"$bench" make "$tree" >/dev/null

now() { date +%s%N; }
ours=() theirs=()
# One untimed pass each so both start with a warm cache.
"$bench" walk "$tree" >/dev/null
find "$tree" -type f >/dev/null
for _ in 1 2 3 4 5; do
    t0=$(now); "$bench" walk "$tree" >/dev/null; t1=$(now)
    find "$tree" -type f >/dev/null; t2=$(now)
    ours+=($(( (t1 - t0) / 1000 ))) theirs+=($(( (t2 - t1) / 1000 )))
done

median() { printf '%s\n' "$@" | sort -n | sed -n 3p; }
m_ours=$(median "${ours[@]}")
m_find=$(median "${theirs[@]}")
peak=$(/usr/bin/time -v "$bench" walk "$tree" 2>&1 >/dev/null |
       awk -F': ' '/Maximum resident set size/ {print $2}')
summary=$("$bench" walk "$tree")

echo "walk:  ${ours[*]} us (median $m_ours us) - $summary"
echo "find:  ${theirs[*]} us (median $m_find us)"
awk -v a="$m_ours" -v b="$m_find" 'BEGIN { printf "ratio walk/find: %.2f\n", a / b }'
echo "peak memory of the walk: $peak KB"
