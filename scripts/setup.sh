# Shared by ./run and ./test: install what is missing, then configure and build.
# Sourced, not run.
set -euo pipefail
ZANDREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ZANDREL_BUILD="$ZANDREL_ROOT/build"

zandrel_packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
                  libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core rsync dosfstools fusefat)

zandrel_install_missing() {
    local missing=()
    for p in "${zandrel_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

zandrel_build() {
    cmake -S "$ZANDREL_ROOT" -B "$ZANDREL_BUILD" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$ZANDREL_BUILD" -j"$(nproc)"
}
