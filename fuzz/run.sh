#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for the
# given number of seconds (default 600), one process per target, starting from
# the seeds in fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/, so
# the seeds kept in the repository stay small; findings go to
# build-fuzz/artifacts/<target>/.
#
#   fuzz/run.sh [SECONDS] [TARGET...]      e.g. fuzz/run.sh 60 fuzz_filter
#   PARALLEL=2 fuzz/run.sh                 two targets at a time
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build-fuzz}"
SECONDS_EACH="${1:-600}"
shift || true
ALL=(fuzz_list_file fuzz_listing_field fuzz_filter fuzz_split_list fuzz_format_size)
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL[@]}")
PARALLEL="${PARALLEL:-1}"

need=()
command -v clang++-14 >/dev/null || need+=(clang-14)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed" ||
    need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZANDREL_FUZZ=ON -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target "${TARGETS[@]}"

run_one() {
    local t="$1"
    local status=0
    mkdir -p "$BUILD/corpus/$t" "$BUILD/artifacts/$t"
    echo "== $t: ${SECONDS_EACH}s"
    # One process per target (the same as -jobs=1, without the extra worker).
    "$BUILD/fuzz/$t" "$BUILD/corpus/$t" "$ROOT/fuzz/corpus/$t" \
        -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$BUILD/artifacts/$t/" >"$BUILD/$t.log" 2>&1 || status=$?
    tail -n 12 "$BUILD/$t.log"
    return $status
}

failed=0
running=0
pids=()
for t in "${TARGETS[@]}"; do
    run_one "$t" &
    pids+=($!)
    running=$((running + 1))
    if [ "$running" -ge "$PARALLEL" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
        running=$((running - 1))
    fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done
[ "$failed" -eq 0 ] && echo "fuzz: no findings" || echo "fuzz: findings in $BUILD/artifacts"
exit "$failed"
