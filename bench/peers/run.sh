#!/usr/bin/env bash
# Zandrel side by side with the tools people compare it with, in one run on
# one ext4 disk, the tools alternating (the order turns every round), every
# run into a folder of its own that did not exist before:
#   copy    FILES files of 0 to 8 KiB in FILES/100 folders, a headless Copy
#           vs `cp -a SRC DST && sync` (<= 1.00, stretch 0.80), and vs plain `cp -a`
#   move    the same tree, a headless Move (every run moves a copy of its own)
#           vs `rsync -aAX --remove-source-files SRC/ DST/ && sync` (<= 1.00),
#           and vs the same rsync without the sync
#   big     one file of BIG_MIB MiB vs `cp -a SRC DST && sync` (<= 1.10)
#   window  WINDOW_FILES small files from the window under Xvfb vs the same
#           run headless (<= 1.15)
#   memory  peak resident memory of a headless Move of MEMORY_FILES files
#           (<= 64 MB), rsync's beside it
#   verify  the copy phase's tree and the big phase's file copied with
#           --verify vs the same runs without (<= 1.50 and <= 2.00): the
#           price of reading every copy back from the disk
# Zandrel flushes what it copies before it reports, so the peers get `sync`;
# their times without it come from the same runs (the clock is read between
# the tool and its sync). An untimed `sync` before every timed run writes out
# what the run before (or anyone else) left behind. The disk is shared and
# noisy, so beside the ratio of the medians the median of each round's own
# ratio is printed ("paired"): the two tools of a round run back to back and
# mostly meet the same weather. A row passes when both ratios meet its target.
# Nothing is deleted before the end: ext4 is slow to create files right after
# many were deleted, which would measure the clean-up instead of the tool.
#
# Usage: bench/peers/run.sh [BUILD_DIR] [WORK_DIR]
#   RUNS=7 FILES=10000 BIG_MIB=256 WINDOW_FILES=20000 MEMORY_FILES=30000
#   PHASES="copy move big window memory verify"
#   FULL=1: FILES=100000 BIG_MIB=1024 MEMORY_FILES=300000 unless given
#   ZANDREL=path/to/zandrel measures that program instead of BUILD_DIR's
#   KEEP=1 keeps WORK_DIR (default a new folder in /var/tmp, which is ext4 here)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$repo/build}
runs=${RUNS:-7}
if [ "${FULL:-0}" = 1 ]; then
    files=${FILES:-100000} big_mib=${BIG_MIB:-1024} memory_files=${MEMORY_FILES:-300000}
else
    files=${FILES:-10000} big_mib=${BIG_MIB:-256} memory_files=${MEMORY_FILES:-30000}
fi
window_files=${WINDOW_FILES:-20000}
phases=${PHASES:-copy move big window memory verify}

source "$repo/bench/common.sh"
install rsync rsync
install /usr/bin/time time
[[ $phases == *window* ]] && install Xvfb xvfb

build_program

work=${2:-$(mktemp -d /var/tmp/zandrel-peers.XXXXXX)}
mkdir -p "$work/bin"
xvfb=""
cleanup() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    [ "${KEEP:-0}" = 1 ] || ionice -c3 rm -rf "$work"
}
trap cleanup EXIT
# A copy of the program of its own: its log files go beside it.
zandrel=$work/bin/zandrel
cp "${ZANDREL:-$build/zandrel}" "$zandrel"

if [ -n "${ZANDREL:-}" ]; then
    echo "zandrel: $ZANDREL"
else
    echo "zandrel: $(git -C "$repo" log -1 --format='%h %s' | cut -c1-100)"
    base=$(git -C "$repo" merge-base HEAD main 2>/dev/null || true)
    [ -z "$base" ] || echo "  main as of $(git -C "$repo" log -1 --format='%h %s' "$base" | cut -c1-100)"
fi
echo "work folder: $work ($(df --output=fstype "$work" | tail -1)), $(nproc) cores," \
    "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "RUNS=$runs FILES=$files BIG_MIB=$big_mib WINDOW_FILES=$window_files" \
    "MEMORY_FILES=$memory_files PHASES=\"$phases\""

declare -A times
zandrel_extra=()  # more arguments for zandrel_run
record() { times[$1]+="$2 "; }

# zandrel_run NAME ACTION SOURCE DESTINATION [window]: times a run into NAME
# and the sync after it into NAME-tail (what it left unwritten).
zandrel_run() {
    local name=$1 action=$2 source=$3 destination=$4 t0 t1 t2
    printf '%s<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*\r\n' \
        "$action" "$source" "$destination" >"$work/l.bak"
    local display=()
    [ "${5:-}" = window ] && display=(DISPLAY="$display_name")
    sync
    t0=${EPOCHREALTIME/./}
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${display[@]}" \
        "$zandrel" "$work/l.bak" -r "${zandrel_extra[@]}" >"$work/out.txt" 2>&1 || failed "$name"
    t1=${EPOCHREALTIME/./}
    sync
    t2=${EPOCHREALTIME/./}
    record "$name" $((t1 - t0))
    record "$name-tail" $((t2 - t1))
}

# peer_run NAME COMMAND...: times the command into NAME and the command with
# the sync after it into NAME+sync.
peer_run() {
    local name=$1 t0 t1 t2
    shift
    sync
    t0=${EPOCHREALTIME/./}
    "$@" >"$work/out.txt" 2>&1 || failed "$name"
    t1=${EPOCHREALTIME/./}
    sync
    t2=${EPOCHREALTIME/./}
    record "$name" $((t1 - t0))
    record "$name+sync" $((t2 - t0))
}

# rotated N A B...: the tools in an order that turns with every round.
rotated() {
    local n=$1
    shift
    local tools=("$@") k=$#
    for j in $(seq 0 $((k - 1))); do echo "${tools[$(((j + n) % k))]}"; done
}
make_tree() {  # make_tree ROOT FILES
    echo "making $2 files in $(($2 / 100)) folders in $1 ..."
    python3 "$repo/bench/peers/make_tree.py" "$1" "$2" $(($2 / 100))
}

lines() { tr ' ' '\n' <<<"$1" | grep .; }  # a series, one value a line
median() {
    lines "$1" | sort -g |
        awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
paired() {  # paired NAME REF: the median of the rounds' own ratios
    median "$(paste -d' ' <(lines "${times[$1]}") <(lines "${times[$2]}") |
        awk '{ printf "%.4f\n", $1 / $2 }')"
}
rows=()
row() {  # row LABEL NAME REF REF_LABEL TARGET
    local z r p
    z=$(median "${times[$2]}")
    r=$(median "${times[$3]}")
    p=$(paired "$2" "$3")
    rows+=("$(awk -v l="$1" -v z="$z" -v r="$r" -v p="$p" -v rl="$4" -v t="$5" 'BEGIN {
        verdict = t == "-" ? "" : (z / r <= t && p <= t ? "PASS" : "MISS")
        printf "%-34s %9.3f %9.3f  %-40s %6.2f %6.2f  %-6s %s", l, z / 1e6, r / 1e6, rl, z / r, p,
            t == "-" ? "" : "<= " t, verdict }')")
}

# One untimed run first, so the program and its libraries are in the cache.
mkdir -p "$work/warm/src/d" && echo warm >"$work/warm/src/d/f"
zandrel_run warm Copy "$work/warm/src" "$work/warm/out"

# The peers are given `sync` because Zandrel flushes what it copies: an
# untimed Copy of 1,000 files under strace checks that it really does.
flushes="flushes not checked (no strace)"
if command -v strace >/dev/null; then
    python3 "$repo/bench/peers/make_tree.py" "$work/warm/flush" 1000 10
    printf 'Copy<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*\r\n' \
        "$work/warm/flush" "$work/warm/flushed" >"$work/l.bak"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM strace -f -c -o "$work/flush.txt" \
        -e trace=syncfs,fsync,fdatasync,sync "$zandrel" "$work/l.bak" -r >"$work/out.txt" 2>&1 ||
        failed "the flush check"
    read -r calls errors < <(awk '$NF ~ /^(syncfs|fsync|fdatasync|sync)$/ {
        c += $4; e += NF == 6 ? $5 : 0 } END { print c + 0, e + 0 }' "$work/flush.txt")
    flushes="flushes in a Copy of 1,000 files: $calls calls, $errors failed"
    if [ "$calls" -eq 0 ] || [ "$errors" -gt 0 ]; then
        flushes="$flushes: WARNING, Zandrel's copies are not flushed, the peers' are"
    fi
    echo "$flushes"
fi

if [[ $phases == *copy* ]]; then
    make_tree "$work/copy/master" "$files"
    for i in $(seq "$runs"); do
        for tool in $(rotated "$i" zandrel cp); do
            out=$work/copy/$tool-$i
            case $tool in
                zandrel) zandrel_run copy-zandrel Copy "$work/copy/master" "$out" ;;
                cp) peer_run copy-cp cp -a "$work/copy/master" "$out" ;;
            esac
            expect_files "$out" "$files" "copy-$tool"
        done
    done
    row "Copy, $files small files" copy-zandrel copy-cp+sync "cp -a SRC DST && sync" 1.00
    row "  the same, without sync" copy-zandrel copy-cp "cp -a SRC DST" -
fi

if [[ $phases == *move* ]]; then
    [ -d "$work/copy/master" ] || make_tree "$work/copy/master" "$files"
    for i in $(seq "$runs"); do
        for tool in $(rotated "$i" zandrel rsync); do
            src=$work/move/src-$tool-$i out=$work/move/$tool-$i
            mkdir -p "$work/move"
            cp -a "$work/copy/master" "$src"
            case $tool in
                zandrel) zandrel_run move-zandrel Move "$src" "$out" ;;
                rsync) peer_run move-rsync rsync -aAX --remove-source-files "$src/" "$out/" ;;
            esac
            expect_files "$out" "$files" "move-$tool"
            expect_files "$src" 0 "move-$tool (sources left)"
        done
    done
    row "Move, $files small files" move-zandrel move-rsync+sync \
        "rsync -aAX --remove-source-files && sync" 1.00
    row "  the same, without sync" move-zandrel move-rsync "rsync -aAX --remove-source-files" -
fi

if [[ $phases == *big* ]]; then
    echo "making one file of $big_mib MiB ..."
    mkdir -p "$work/big/src"
    head -c $((big_mib << 20)) /dev/urandom >"$work/big/src/big.bin"
    for i in $(seq "$runs"); do
        for tool in $(rotated "$i" zandrel cp); do
            out=$work/big/$tool-$i
            case $tool in
                zandrel) zandrel_run big-zandrel Copy "$work/big/src" "$out" ;;
                cp) peer_run big-cp cp -a "$work/big/src" "$out" ;;
            esac
            expect_files "$out" 1 "big-$tool"
        done
    done
    # Few inodes, many blocks: removed now, so the disk has room for the rest.
    rm -rf "$work"/big/*-*
    row "One file of $big_mib MiB" big-zandrel big-cp+sync "cp -a SRC DST && sync" 1.10
fi

if [[ $phases == *verify* ]]; then
    [ -d "$work/copy/master" ] || make_tree "$work/copy/master" "$files"
    echo "making one file of $big_mib MiB ..."
    mkdir -p "$work/verify/big"
    head -c $((big_mib << 20)) /dev/urandom >"$work/verify/big/big.bin"
    # The small files first, then the big file: a big copy right after
    # 100,000 small ones meets the page cache they left, which a verified
    # run drops and a plain one does not.
    for part in small big; do
        for i in $(seq "$runs"); do
            for tool in $(rotated "$i" verified plain); do
                zandrel_extra=()
                [ "$tool" = verified ] && zandrel_extra=(--verify)
                out=$work/verify/$part-$tool-$i
                if [ "$part" = small ]; then
                    zandrel_run "verify-small-$tool" Copy "$work/copy/master" "$out"
                    expect_files "$out" "$files" "verify-small-$tool"
                else
                    zandrel_run "verify-big-$tool" Copy "$work/verify/big" "$out"
                    expect_files "$out" 1 "verify-big-$tool"
                    rm -rf "$out"
                fi
                [ "$tool" = plain ] || grep -q "verified: read back" "$work/out.txt" ||
                    failed "verify-$part-$tool"
            done
        done
    done
    zandrel_extra=()
    row "Copy --verify, $files small files" verify-small-verified verify-small-plain \
        "the same Copy without --verify" 1.50
    row "Copy --verify, one of $big_mib MiB" verify-big-verified verify-big-plain \
        "the same Copy without --verify" 2.00
fi

if [[ $phases == *window* ]]; then
    make_tree "$work/window/src" "$window_files"
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    display_name=:$n
    Xvfb "$display_name" -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    [ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start on $display_name"; exit 1; }
    zandrel_run warm Copy "$work/window/src" "$work/window/warm" window
    for i in $(seq "$runs"); do
        for tool in $(rotated "$i" window headless); do
            out=$work/window/$tool-$i
            zandrel_run "window-$tool" Copy "$work/window/src" "$out" "$tool"
            expect_files "$out" "$window_files" "window-$tool"
        done
    done
    row "Window, $window_files small files" window-window window-headless \
        "the same run headless" 1.15
fi

if [[ $phases == *memory* ]]; then
    make_tree "$work/memory/master" "$memory_files"
    declare -A peak
    for tool in zandrel rsync; do
        src=$work/memory/src-$tool out=$work/memory/$tool
        cp -a "$work/memory/master" "$src"
        sync
        case $tool in
            zandrel)
                printf 'Move<%s<%s<Subfolders<CopyFoldersAndFiles<Overwrite<bench<:Specific|Types:*.*\r\n' \
                    "$src" "$out" >"$work/l.bak"
                env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/time -v -o "$work/time.txt" \
                    "$zandrel" "$work/l.bak" -r >"$work/out.txt" 2>&1 || failed memory-zandrel ;;
            rsync)
                /usr/bin/time -v -o "$work/time.txt" rsync -aAX --remove-source-files "$src/" "$out/" \
                    >"$work/out.txt" 2>&1 || failed memory-rsync ;;
        esac
        expect_files "$out" "$memory_files" "memory-$tool"
        peak[$tool]=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
        echo "  memory-$tool: $(awk -F': ' '/Elapsed/ { print $2 }' "$work/time.txt") elapsed"
    done
    rows+=("$(awk -v l="Peak memory, Move of $memory_files" -v z="${peak[zandrel]}" -v r="${peak[rsync]}" 'BEGIN {
        printf "%-34s %6.1f MB %6.1f MB  %-40s %6.2f %6s  %-6s %s", l, z * 1024 / 1e6, r * 1024 / 1e6,
            "rsync -aAX --remove-source-files", z / r, "", "<= 64", z * 1024 <= 64e6 ? "PASS" : "MISS" }')")
fi

echo
echo "series in ms, in round order:"
for k in "${!times[@]}"; do
    printf '  %-20s %s\n' "$k" "$(lines "${times[$k]}" | awk '{ printf "%.0f ", $1 / 1000 }')"
done | sort
echo
echo "load $(cut -d' ' -f1-3 /proc/loadavg) at the end; zandrel's -tail series is the sync after its runs"
echo "$flushes"
printf '\n%-34s %9s %9s  %-40s %6s %6s  %-6s %s\n' case "zandrel s" "peer s" peer ratio paired target ""
printf '%s\n' "${rows[@]}"
