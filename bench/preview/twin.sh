#!/usr/bin/env bash
# The randomized check that a preview is the twin of the run that follows it,
# over many seeds: prints each disagreeing seed with its first disagreement,
# then the summary (cases, agreements, the worlds run as nobody) and the seeds
# by kind of disagreement. Exit status 0 when every case agrees.
# Usage: bench/preview/twin.sh [BUILD_DIR] [SEEDS] [FIRST_SEED]   (build, 600, 1000)
#        ZANDREL_TWIN_VERBOSE=1 also prints every disagreeing world in full:
#        its list, its tree, both outputs.
# Run as root to include the worlds run as nobody.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
seeds=${2:-600}
first=${3:-1000}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" --target zandrel test_preview_twin -j2 >/dev/null

status=0
ZANDREL_BINARY=$build/zandrel QT_QPA_PLATFORM=offscreen ZANDREL_TWIN_SEEDS=$seeds \
    ZANDREL_TWIN_FIRST=$first "$build/tests/run/test_preview_twin" \
    --gtest_filter='PreviewTwinLong.*' >"${TMPDIR:-/tmp}/twin.$$" 2>&1 || status=$?
grep -v -e '^\[' -e '^Note: ' -e 'Failure$' -e '^Value of' -e '^  Actual' -e '^Expected' \
    -e 'FAILED TEST' "${TMPDIR:-/tmp}/twin.$$" | sed '/^$/d'
rm -f "${TMPDIR:-/tmp}/twin.$$"
exit $status
