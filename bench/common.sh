# What the side-by-side benchmarks share: the tools they install, the
# program they build, and the checks of what each run left. Sourced, with
# repo, build and work set by the caller ($work once the checks are used).

install() {  # install COMMAND PACKAGE
    command -v "$1" >/dev/null && return
    apt-get install -y -qq "$2" >/dev/null 2>&1 ||
        { apt-get update -qq && apt-get install -y -qq "$2" >/dev/null; }
}

# The program in $build, unless ZANDREL names one.
build_program() {
    [ -n "${ZANDREL:-}" ] && return
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target zandrel -j2 >/dev/null
}

failed() {  # failed NAME: what the run said last, and the end
    echo "$1 failed:"
    tail -40 "$work/out.txt"
    exit 1
}
files_in() {  # a Move may remove its emptied source folder
    if [ -d "$1" ]; then find "$1" -type f | wc -l; else echo 0; fi
}
expect_files() {  # expect_files FOLDER COUNT NAME
    local n
    n=$(files_in "$1")
    [ "$n" -eq "$2" ] || { echo "$3: $n files in $1, expected $2"; exit 1; }
}
