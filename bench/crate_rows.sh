#!/usr/bin/env bash
# crate's time next to two yardsticks, measured side by side in one run on
# the same machine:
#   - 20000 files of 1 KiB: crate against readwrite_loop
#     (bench/readwrite_loop.cpp: open, read, write, close per file), crate's
#     standard error going to a file and to a pipe;
#   - 4 files of 256 MiB: crate against cat, both writing to /dev/null (the
#     work of the two programs) and to a file (which adds the system's cost
#     of 1 GiB of fresh memory pages; on a virtual machine that cost varies
#     from run to run by a factor of two or more, so those rows are noisy).
# Each command runs RUNS times (default 7), the yardstick and crate in turn.
# Prints a table on standard output, one row per ratio of crate's time to
# the yardstick's, for CPU time (user + system) and for wall time:
#
#   name | median | lowest | highest
#
# taken over the runs' ratios. Notes on the set-up and crate's peak memory go to standard error.
#
#   bench/crate_rows.sh path/to/crate path/to/readwrite_loop [scratch folder]
#
# The files are made in a fresh folder under the scratch folder (default
# /dev/shm, so that no disk is timed; else /tmp) and removed at the end.
set -euo pipefail
if [[ $# -lt 2 ]]; then
    echo "usage: $0 path/to/crate path/to/readwrite_loop [scratch folder]" >&2
    exit 1
fi
crate=$(realpath "$1")
loop=$(realpath "$2")
scratch=${3:-/dev/shm}
[[ -d $scratch && -w $scratch ]] || scratch=/tmp
runs=${RUNS:-7}
work=$(mktemp -d "$scratch/crate_rows.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

TIMEFORMAT='%3R %3U %3S'

# Runs "$@" once, its output removed first, its standard error going to a
# file or to a pipe ($1: file, pipe or none), and prints "wall cpu" in
# seconds. The pipe's reader is not a child of this shell, so its time is
# not counted.
measure() {
    local err=$1
    shift
    rm -f out fifo
    local ok=0
    case $err in
    file) { time "$@" >/dev/null 2>stderr.txt; } 2>time.txt || ok=$? ;;
    pipe)
        mkfifo fifo
        (cat fifo >/dev/null &)
        { time "$@" >/dev/null 2>fifo; } 2>time.txt || ok=$?
        ;;
    none) { time "$@" >/dev/null 2>stderr.txt; } 2>time.txt || ok=$? ;;
    esac
    if [[ $ok -ne 0 ]]; then
        echo "failed ($ok): $1" >&2
        cat stderr.txt >&2 2>/dev/null || true
        exit 1
    fi
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' time.txt
}

# "name | median | lowest | highest" of the ratios given after the name.
row() {
    local name=$1
    shift
    printf '%s\n' "$@" | sort -g | awk -v name="$name" '{ v[NR] = $1 }
        END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%s | %.2f | %.2f | %.2f\n", name, m, v[1], v[NR] }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b > 0 ? a / b : 0) }'; }

mkdir small big
head -c $((20000 * 1024)) /dev/urandom >blob
(cd small && split -b 1024 -a 5 -d ../blob f)
rm blob
head -c $((256 * 1024 * 1024)) /dev/urandom >big/part1.bin
for i in 2 3 4; do cp big/part1.bin "big/part$i.bin"; done

echo "crate: $crate" >&2
echo "yardsticks: $loop; $(cat --version | head -n 1)" >&2
echo "scratch: $work ($(df --output=fstype "$work" | tail -n 1 | tr -d ' ')), $runs runs, $(nproc) processors" >&2

# One run of each first, not timed, so that every program and file is in memory.
measure none "$loop" out small/f* >/dev/null
measure file "$crate" out small/f* >/dev/null
measure none sh -c 'exec cat "$@" >out' cat big/part*.bin >/dev/null
measure file "$crate" out big/part*.bin >/dev/null

small_file_cpu=() small_file_wall=() small_pipe_cpu=() small_pipe_wall=() big_cpu=() big_wall=() null_cpu=() null_wall=()
for ((r = 0; r < runs; r++)); do
    read -r lw lc < <(measure none "$loop" out small/f*)
    read -r fw fc < <(measure file "$crate" out small/f*)
    read -r pw pc < <(measure pipe "$crate" out small/f*)
    small_file_cpu+=("$(ratio "$fc" "$lc")") small_file_wall+=("$(ratio "$fw" "$lw")")
    small_pipe_cpu+=("$(ratio "$pc" "$lc")") small_pipe_wall+=("$(ratio "$pw" "$lw")")
    read -r aw ac < <(measure none sh -c 'exec cat "$@" >out' cat big/part*.bin)
    read -r cw cc < <(measure file "$crate" out big/part*.bin)
    big_cpu+=("$(ratio "$cc" "$ac")") big_wall+=("$(ratio "$cw" "$aw")")
    read -r nw nc < <(measure none sh -c 'exec cat "$@" >/dev/null' cat big/part*.bin)
    read -r dw dc < <(measure file "$crate" /dev/null big/part*.bin)
    null_cpu+=("$(ratio "$dc" "$nc")") null_wall+=("$(ratio "$dw" "$nw")")
done

if [[ -x /usr/bin/time ]]; then
    rm -f out
    /usr/bin/time -f %M -o peak.txt "$crate" out big/part*.bin 2>/dev/null
    echo "crate's peak memory on 4 x 256 MiB: $(awk '{ printf "%.1f", $1 / 1024 }' peak.txt) MiB" >&2
fi

echo "name | median | lowest | highest"
row "20000 x 1 KiB / read-write loop, CPU" "${small_file_cpu[@]}"
row "20000 x 1 KiB / read-write loop, wall" "${small_file_wall[@]}"
row "same, stderr to a pipe, CPU" "${small_pipe_cpu[@]}"
row "same, stderr to a pipe, wall" "${small_pipe_wall[@]}"
row "4 x 256 MiB / cat, to /dev/null, CPU" "${null_cpu[@]}"
row "4 x 256 MiB / cat, to /dev/null, wall" "${null_wall[@]}"
row "4 x 256 MiB / cat, to a file, CPU" "${big_cpu[@]}"
row "4 x 256 MiB / cat, to a file, wall" "${big_wall[@]}"
