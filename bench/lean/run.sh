#!/usr/bin/env bash
# What Zandrel costs per file beyond the kernel's own work, counted so that a
# noisy, shared machine gives the same numbers every time:
#   instructions  user-space instructions of all threads (callgrind), per file:
#                 (the run over a tree of FILES files - the same command over
#                 an empty tree) / FILES, for a headless Copy, Move,
#                 CopyOnlyIfNewer over an unchanged copy, the preview (-n) and
#                 Copy --verify, beside `cp -a`, `rsync -a --remove-source-files`,
#                 `rsync -a` over an unchanged copy and `rsync -an`
#   system calls  the same runs under `strace -f -c`, per file the same way
#   threads       threads a Copy of FILES files starts (clone and clone3),
#                 beyond those of the same Copy over an empty tree
#   start-up      instructions of `zandrel --version`, of a run of an empty
#                 list and of a Copy of an empty tree, beside `cp --version`
#   memory        peak resident memory of the preview, a Copy and a Move of
#                 MEMORY_FILES files (only with FULL=1 or MEMORY_FILES given)
#   wall          WALL_RUNS alternating pairs: a durable Copy vs
#                 `cp -a && sync`, a durable Move vs
#                 `rsync -aAX --remove-source-files && sync`, ratio of the
#                 medians and median of the pairs' own ratios ("paired")
# The tree: FILES files of 1 to 8 KiB in FILES/100 folders, one name in seven
# non-ASCII, made by make_tree.py from a fixed seed. Every run writes into a
# folder of its own and a Move moves a copy of its own. Callgrind makes a run
# about fifty times slower: the default FILES=20000 takes 6 to 8 minutes on
# the 2-core development machine (most of it the callgrind runs, 1.5 the
# clean-up), FILES=2000 about one; FULL=1 about 20. Callgrind follows
# rsync's forks (one file per process, summed); --trace-children=no keeps it
# out of anything a tool would exec. Repeated runs agree within about 0.4 %
# (the threads' timing differs). The goals printed are the ones the lean-path
# work set itself. Not part of ctest.
#
# Usage: bench/lean/run.sh [BUILD_DIR] [WORK_DIR]
#   FILES=20000 WALL_RUNS=3 TOP=15 (the Copy's costliest functions, 0: none)
#   FULL=1: MEMORY_FILES=300000 unless given (a tree of about 1.4 GB)
#   ZANDREL=path/to/zandrel measures that program instead of BUILD_DIR's
#   KEEP=1 keeps WORK_DIR (default a new folder in /var/tmp, which is ext4
#   here) with every callgrind and strace file
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
files=${FILES:-20000}
folders=$(((files + 99) / 100))
wall_runs=${WALL_RUNS:-3}
top=${TOP:-15}
memory_files=${MEMORY_FILES:-}
[ "${FULL:-0}" = 1 ] && memory_files=${memory_files:-300000}
# A Move's system calls per file as this benchmark counted them at 1d8949c,
# before the lean-path work: the goal is one fewer (no duplicated folder
# handle per file).
move_calls_before=17.90

source "$repo/bench/common.sh"
install valgrind valgrind
install strace strace
install rsync rsync
install /usr/bin/time time

build_program

work=${2:-$(mktemp -d /var/tmp/zandrel-lean.XXXXXX)}
mkdir -p "$work/bin" "$work/runs"
cleanup() { [ "${KEEP:-0}" = 1 ] || ionice -c3 rm -rf "$work"; }
trap cleanup EXIT
# A copy of the program of its own: its log files go beside it.
zandrel=$work/bin/zandrel
cp "${ZANDREL:-$build/zandrel}" "$zandrel"
# Headless: no display, whatever the caller's session has.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

if [ -n "${ZANDREL:-}" ]; then
    echo "zandrel: $ZANDREL"
else
    echo "zandrel: $(git -C "$repo" log -1 --format='%h %s' | cut -c1-100)"
fi
echo "work folder: $work ($(df --output=fstype "$work" | tail -1)), $(nproc) cores," \
    "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "FILES=$files in $folders folders, WALL_RUNS=$wall_runs, MEMORY_FILES=${memory_files:-none}"

listing() {  # listing FILE ACTION SOURCE DESTINATION RULE
    printf '%s<%s<%s<Subfolders<CopyFoldersAndFiles<%s<bench<:Specific|Types:*.*\r\n' \
        "$2" "$3" "$4" "$5" >"$1"
}

echo "making $files files in $folders folders ..."
python3 "$repo/bench/lean/make_tree.py" "$work/master/tree" "$files" "$folders"
mkdir -p "$work/master/empty"

# The wall clock first: ext4 is slow to create files right after many were
# deleted, and every Move below deletes its sources.
id=0 wall_rows=()
if [ "$wall_runs" -gt 0 ]; then
    declare -A wall
    timed() {  # timed NAME COMMAND...: microseconds of the command and a sync after it
        local name=$1 t0 t1
        shift
        sync
        t0=${EPOCHREALTIME/./}
        "$@" >"$work/out.txt" 2>&1 || failed "$name"
        sync
        t1=${EPOCHREALTIME/./}
        wall[$name]+="$((t1 - t0)) "
    }
    echo "wall clock: $wall_runs alternating pairs of a Copy, then of a Move ..."
    # One untimed run first, so the program and its libraries are in the cache.
    listing "$work/runs/warm.bak" Copy "$work/master/empty" "$work/runs/warm" Overwrite
    "$zandrel" "$work/runs/warm.bak" -r >"$work/out.txt" 2>&1 || failed "the warm-up run"
    for run in copy move; do
        for i in $(seq "$wall_runs"); do
            pair=(zandrel peer)
            [ $((i % 2)) -eq 0 ] && pair=(peer zandrel)
            for tool in "${pair[@]}"; do
                id=$((id + 1))
                src=$work/master/tree dst=$work/runs/$id
                if [ "$run" = move ]; then
                    cp -a "$work/master/tree" "$work/runs/$id-src"
                    src=$work/runs/$id-src
                fi
                case $run-$tool in
                    copy-zandrel)
                        listing "$work/runs/$id.bak" Copy "$src" "$dst" Overwrite
                        timed copy-zandrel "$zandrel" "$work/runs/$id.bak" -r ;;
                    copy-peer) timed copy-peer cp -a "$src" "$dst" ;;
                    move-zandrel)
                        listing "$work/runs/$id.bak" Move "$src" "$dst" Overwrite
                        timed move-zandrel "$zandrel" "$work/runs/$id.bak" -r ;;
                    move-peer) timed move-peer rsync -aAX --remove-source-files "$src/" "$dst/" ;;
                esac
                expect_files "$dst" "$files" "wall-$run-$tool"
            done
        done
    done
    median() {
        printf '%s\n' $1 | sort -g |
            awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
    }
    for run in copy move; do
        z=$(median "${wall[$run-zandrel]}") p=$(median "${wall[$run-peer]}")
        paired=$(median "$(paste -d' ' <(printf '%s\n' ${wall[$run-zandrel]}) \
            <(printf '%s\n' ${wall[$run-peer]}) | awk '{ printf "%.4f\n", $1 / $2 }')")
        case $run in
            copy) label="Copy" peer="cp -a && sync" goal=0.8 ;;
            move) label="Move" peer="rsync -aAX --remove-source-files && sync" goal=0.85 ;;
        esac
        wall_rows+=("$(awk -v l="$label" -v z="$z" -v p="$p" -v pl="$peer" -v q="$paired" -v g="$goal" 'BEGIN {
            printf "  %-6s %7.3f s  %-42s %7.3f s  ratio %.2f  paired %.2f  goal <= %s  %s\n",
                l, z / 1e6, pl, p / 1e6, z / p, q, g, z / p <= g && q <= g ? "PASS" : "MISS" }')")
    done
fi

# prepare KIND SIZE: the folders and the command (cmd) of one run of KIND over
# the tree SIZE (tree or empty), in folders no run used before.
prepare() {
    local kind=$1 size=$2 bak
    id=$((id + 1))
    src=$work/master/$size dst=$work/runs/$id bak=$work/runs/$id.bak
    case $kind in
        move | rsync-move)
            cp -a "$src" "$work/runs/$id-src"
            src=$work/runs/$id-src ;;
    esac
    case $kind in
        copy | preview) listing "$bak" Copy "$src" "$dst" Overwrite ;;
        verify) listing "$bak" Copy "$src" "$dst" Overwrite ;;
        move) listing "$bak" Move "$src" "$dst" Overwrite ;;
        newer) listing "$bak" Copy "$src" "$dst" CopyOnlyIfNewer ;;
    esac
    case $kind in
        copy | move) cmd=("$zandrel" "$bak" -r) ;;
        verify) cmd=("$zandrel" "$bak" -r --verify) ;;
        preview) cmd=("$zandrel" "$bak" -n) ;;
        newer)
            cmd=("$zandrel" "$bak" -r)
            "${cmd[@]}" >"$work/out.txt" 2>&1 || failed "the first run of $kind-$size" ;;
        cp) cmd=(cp -a "$src" "$dst") ;;
        rsync-move) cmd=(rsync -a --remove-source-files "$src/" "$dst/") ;;
        rsync-newer)
            cmd=(rsync -a "$src/" "$dst/")
            "${cmd[@]}" >"$work/out.txt" 2>&1 || failed "the first run of $kind-$size" ;;
        rsync-n) cmd=(rsync -an "$src/" "$dst/") ;;
    esac
    sync
}
# check KIND SIZE: the run did what it should, so no figure comes from a run
# that failed part way or did nothing.
check() {
    local kind=$1 n=0 copied
    [ "$2" = tree ] && n=$files
    case $kind in
        copy | verify | cp | newer | rsync-newer) expect_files "$dst" "$n" "$kind" ;;
        move | rsync-move)
            expect_files "$dst" "$n" "$kind"
            expect_files "$src" 0 "$kind (sources left)" ;;
        preview | rsync-n) expect_files "$dst" 0 "$kind (made files)" ;;
    esac
    case $kind in
        newer)
            grep -q -- "-->0 files copied" "$work/bin/log.txt" ||
                { echo "the unchanged run copied files:"; cat "$work/bin/log.txt"; exit 1; } ;;
        preview)
            copied=$(grep -c $'^copy\t' "$work/out.txt" || true)
            [ "$copied" -eq "$n" ] || { echo "the preview showed $copied copies of $n"; exit 1; } ;;
        verify)
            [ "$n" -eq 0 ] || grep -q "verified: read back" "$work/out.txt" || failed "$kind" ;;
    esac
}

# instructions DIR COMMAND...: the instructions of every process and thread.
instructions() {
    local dir=$1
    shift
    mkdir -p "$dir"
    valgrind --tool=callgrind --trace-children=no --log-file="$dir/valgrind.%p" \
        --callgrind-out-file="$dir/callgrind.out.%p" "$@" >"$work/out.txt" 2>&1 || return $?
    awk '/^totals:/ { t += $2 } END { printf "%.0f\n", t }' "$dir"/callgrind.out.*
}
# syscalls FILE COMMAND...: the system calls of every process and thread.
syscalls() {
    local file=$1
    shift
    strace -f -c -o "$file" "$@" >"$work/out.txt" 2>&1 || return 1
    awk '$NF == "total" { print $4 }' "$file"
}
clones() { awk '$NF == "clone" || $NF == "clone3" { c += $4 } END { print c + 0 }' "$1"; }

declare -A ir calls
kinds="copy move newer preview verify cp rsync-move rsync-newer rsync-n"
# shellcheck disable=SC2034 # read through the nameref in perfile
for kind in $kinds; do
    for size in empty tree; do
        echo "  $kind, $([ "$size" = tree ] && echo "$files files" || echo "an empty tree"): callgrind, strace"
        prepare "$kind" "$size"
        ir[$kind-$size]=$(instructions "$work/cg/$kind-$size" "${cmd[@]}") || failed "$kind-$size"
        check "$kind" "$size"
        prepare "$kind" "$size"
        calls[$kind-$size]=$(syscalls "$work/strace-$kind-$size.txt" "${cmd[@]}") ||
            failed "$kind-$size under strace"
        check "$kind" "$size"
    done
done

perfile() {  # perfile ARRAY KIND: (over the tree - over the empty tree) / files
    local -n a=$1
    awk -v t="${a[$2-tree]}" -v e="${a[$2-empty]}" -v n="$files" 'BEGIN { printf "%.2f", (t - e) / n }'
}
# row LABEL ZANDREL PEER PEER_LABEL GOAL [DIGITS]: a GOAL of "<= R x" bounds
# the ratio to the peer, "<= N" Zandrel's own figure, "-" nothing.
row() {
    awk -v l="$1" -v z="$2" -v p="$3" -v pl="$4" -v g="$5" -v d="${6:-0}" 'BEGIN {
        bound = g; gsub(/[<=x ]/, "", bound)
        value = g ~ /x$/ ? z / p : z
        verdict = g == "-" ? "" : (value <= bound + 0 ? "PASS" : "MISS")
        printf "%-34s %10.*f %10.*f  %-38s %6.2f  %-8s %s\n", l, d, z, d, p, pl, z / p, g, verdict }'
}

echo
echo "instructions per file (callgrind: user space, all threads, minus an empty tree; FILES=$files)"
printf '%-34s %10s %10s  %-38s %6s  %-8s\n' run zandrel peer peer ratio goal
row "Copy" "$(perfile ir copy)" "$(perfile ir cp)" "cp -a" "<= 2.0x"
row "Move" "$(perfile ir move)" "$(perfile ir rsync-move)" "rsync -a --remove-source-files" "<= 0.4x"
row "CopyOnlyIfNewer, nothing changed" "$(perfile ir newer)" "$(perfile ir rsync-newer)" \
    "rsync -a, unchanged tree" -
row "Preview (-n)" "$(perfile ir preview)" "$(perfile ir rsync-n)" "rsync -an" "<= 1.0x"
row "Copy --verify" "$(perfile ir verify)" "$(perfile ir copy)" "the same Copy without --verify" "<= 1.5x"

echo
echo "system calls per file (strace -f -c, all threads, minus an empty tree)"
printf '%-34s %10s %10s  %-38s %6s  %-8s\n' run zandrel peer peer ratio goal
row "Copy" "$(perfile calls copy)" "$(perfile calls cp)" "cp -a" "<= 12" 2
row "Move (one fewer than $move_calls_before)" "$(perfile calls move)" "$(perfile calls rsync-move)" \
    "rsync -a --remove-source-files" "<= $(awk -v b="$move_calls_before" 'BEGIN { print b - 1 }')" 2
row "CopyOnlyIfNewer, nothing changed" "$(perfile calls newer)" "$(perfile calls rsync-newer)" \
    "rsync -a, unchanged tree" - 2
row "Preview (-n)" "$(perfile calls preview)" "$(perfile calls rsync-n)" "rsync -an" "<= 3" 2
row "Copy --verify" "$(perfile calls verify)" "$(perfile calls copy)" "the same Copy without --verify" - 2

echo
threads_tree=$(clones "$work/strace-copy-tree.txt")
threads_empty=$(clones "$work/strace-copy-empty.txt")
echo "threads started by a Copy of $files files: $threads_tree, over an empty tree: $threads_empty;" \
    "$((threads_tree - threads_empty)) for the files (goal: 1, one commit thread for the run):" \
    "$([ $((threads_tree - threads_empty)) -le 1 ] && echo PASS || echo MISS)"
# A Copy's batch holds up to 2,000 files: fewer files prove nothing here.
[ "$files" -ge 4000 ] || echo "  (only $files files: one or two batches, too few to tell a thread per batch from one per run)"

echo
echo "start-up, instructions (callgrind):"
listing "$work/runs/none.bak" Copy "$work/master/empty" "$work/runs/none" Overwrite
: >"$work/runs/nothing.bak"
startup() {  # startup LABEL COMMAND...
    local label=$1 n status=0
    shift
    rm -rf "$work/cg/startup"
    n=$(instructions "$work/cg/startup" "$@") || status=$?
    [ "$status" -eq 0 ] || n=$(awk '/^totals:/ { t += $2 } END { printf "%.0f\n", t }' \
        "$work"/cg/startup/callgrind.out.*)
    printf '  %-52s %8.1f M%s\n' "$label" "$(awk -v n="$n" 'BEGIN { print n / 1e6 }')" \
        "$([ "$status" -eq 0 ] || echo " (exit status $status)")"
}
startup "zandrel --version" "$zandrel" --version
startup "zandrel EMPTY.bak -r (a list with no Listing)" "$zandrel" "$work/runs/nothing.bak" -r
startup "zandrel LIST.bak -r (a Copy of an empty tree)" "$zandrel" "$work/runs/none.bak" -r
startup "cp --version" cp --version
startup "cp -a of an empty tree" cp -a "$work/master/empty" "$work/runs/none-cp"

if [ "$top" -gt 0 ]; then
    echo
    echo "the $top costliest functions of the Copy of $files files (self cost, all threads):"
    # awk reads to the end: a reader that stops early would end this script
    # through SIGPIPE and pipefail.
    biggest=$(ls -S "$work"/cg/copy-tree/callgrind.out.* | awk 'NR == 1')
    callgrind_annotate "$biggest" 2>/dev/null |
        awk -v n="$top" '/^-+$/ { rule++ }
            rule >= 3 && /^ *[0-9,]+ / && !/PROGRAM TOTALS/ && ++k <= n { print "  " substr($0, 1, 148) }' 
fi

if [ -n "$memory_files" ]; then
    echo
    echo "peak memory of $memory_files files (making the tree ...)"
    python3 "$repo/bench/lean/make_tree.py" "$work/memory/tree" "$memory_files" $(((memory_files + 99) / 100))
    for kind in preview copy move; do
        bak=$work/memory/$kind.bak src=$work/memory/tree dst=$work/memory/$kind
        if [ "$kind" = move ]; then
            cp -a "$work/memory/tree" "$work/memory/move-src"
            src=$work/memory/move-src
        fi
        case $kind in
            preview) listing "$bak" Copy "$src" "$dst" Overwrite; flag=-n ;;
            copy) listing "$bak" Copy "$src" "$dst" Overwrite; flag=-r ;;
            move) listing "$bak" Move "$src" "$dst" Overwrite; flag=-r ;;
        esac
        sync
        /usr/bin/time -f %M -o "$work/memory/$kind.kb" "$zandrel" "$bak" "$flag" >"$work/out.txt" 2>&1 ||
            failed "memory-$kind"
        [ "$kind" = preview ] || expect_files "$dst" "$memory_files" "memory-$kind"
        awk -v l="$kind" -v kb="$(tail -1 "$work/memory/$kind.kb")" 'BEGIN {
            printf "  %-10s %7.1f MB  goal <= 64 MB  %s\n", l, kb * 1024 / 1e6, kb * 1024 <= 64e6 ? "PASS" : "MISS" }'
    done
else
    echo
    echo "peak memory: skipped (FULL=1 or MEMORY_FILES=N measures the preview, a Copy and a Move of N files)"
fi


if [ "$wall_runs" -gt 0 ]; then
    echo
    echo "wall clock, durable, medians of $wall_runs alternating pairs of $files files:"
    printf '%s\n' "${wall_rows[@]}"
fi
