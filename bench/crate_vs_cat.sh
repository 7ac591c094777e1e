#!/usr/bin/env bash
# Packs (a) 20,000 small files and (b) four files of 256 MiB (1 GiB in all)
# with crate, and joins the same files into one output with cat, on the same
# machine in the same run. Prints the best of several runs of each, their
# ratio, and crate's peak memory (maximum resident set size).
#
#   bench/crate_vs_cat.sh [path/to/crate] [scratch folder]
#
# The data is made in a fresh folder under the scratch folder (default /tmp)
# and deleted at the end. Needs GNU time (Debian package "time").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
crate=$(realpath "${1:-$root/build/default/arc/crate}")
work=$(mktemp -d "${2:-/tmp}/crate_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
runs=5

# Best wall time in seconds of $runs runs of "$@", output removed before each.
best_time() {
    local best=""
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/out"
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s%N)
        local t=$((t1 - t0))
        if [[ -z $best || $t -lt $best ]]; then best=$t; fi
    done
    awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# Peak resident memory of one run of "$@", in KiB.
peak_kib() {
    rm -f "$work/out"
    /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1
    cat "$work/peak"
}

compare() {
    local label=$1
    shift
    local files=("$@")
    local ct at
    ct=$(best_time "$crate" "$work/out" "${files[@]}")
    at=$(best_time sh -c 'cat "$@" >"$0"' "$work/out" "${files[@]}")
    local peak
    peak=$(peak_kib "$crate" "$work/out" "${files[@]}")
    awk -v l="$label" -v c="$ct" -v a="$at" -v p="$peak" \
        'BEGIN { printf "%-30s crate %7.3f s   cat %7.3f s   ratio %5.2f   crate peak %6.1f MiB\n", l, c, a, c / a, p / 1024 }'
}

cd "$work"
mkdir small big
# (a) 20,000 files of 1,000 bytes each.
head -c 20000000 /dev/urandom >blob
(cd small && split -b 1000 -a 5 -d ../blob s)
rm blob
# (b) four files of 256 MiB.
for i in 1 2 3 4; do head -c 268435456 /dev/urandom >"big/part$i.bin"; done
# A single small file, to show that peak memory does not grow with the sizes.
head -c 1000 /dev/urandom >one.bin

echo "crate: $crate"
echo "scratch: $work ($(df -h --output=fstype "$work" | tail -n 1 | tr -d ' '))"
compare "one file of 1,000 bytes" one.bin
compare "(a) 20,000 files of 1,000 B" small/s*
compare "(b) 4 files of 256 MiB" big/part*.bin
