#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it; lists the
# files. Installs clang-format when it is missing (CI starts on a bare machine).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends clang-format
fi

mapfile -t files < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
bad=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
    printf 'not formatted: %s\n' "${bad[@]}"
    echo "format check: ${#bad[@]} of ${#files[@]} files differ (clang-format -i them)"
    exit 1
fi
echo "format check: ${#files[@]} files formatted"
