#!/usr/bin/env bash
# Opens a list of 100,000 Listings and selects them all in the real window
# (offscreen); prints medians of five runs and the peak memory.
# Targets: open under 1 s, select all under 1 s, peak memory under 200 MB.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD:-$root/build}"
cmake --build "$build" --target bench_biglist -j"$(nproc)" >/dev/null
"$build/bench/window/bench_biglist" "${1:-100000}"
