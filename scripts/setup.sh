# Shared by ./run and ./test: install what is missing, then configure and build.
# Both use one configuration in build/, so neither rebuilds what the other
# built. Everything the set-up and the build print goes to standard error:
# standard output belongs to the program and to ctest. Sourced, not run.
set -euo pipefail
ZANDREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ZANDREL_BUILD="$ZANDREL_ROOT/build"

zandrel_packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
                  libgtest-dev libgmock-dev libbenchmark-dev libxxhash-dev fonts-dejavu-core rsync dosfstools fusefat
                  exfatprogs exfat-fuse valgrind)

zandrel_install_missing() {
    local missing=()
    for p in "${zandrel_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq >&2
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# The one configuration of build/: tests and benchmarks built, warnings as errors.
zandrel_configure() {
    cmake -S "$ZANDREL_ROOT" -B "$ZANDREL_BUILD" -DCMAKE_BUILD_TYPE=Release \
          -DZANDREL_BUILD_TESTS=ON -DZANDREL_BUILD_BENCH=ON -DZANDREL_WERROR=ON >&2
}

# Builds the targets named (all of them without arguments).
zandrel_build() {
    local targets=()
    for t in "$@"; do targets+=(--target "$t"); done
    zandrel_configure
    cmake --build "$ZANDREL_BUILD" -j"$(nproc)" "${targets[@]}" >&2
}
