#!/usr/bin/env bash
# The benchmark table in one command: builds the release configuration (preset
# `default`) and prints one row per comparison, measured side by side in this
# run. A row's ratio is the baseline's time divided by the measured program's
# time, so above 1 means faster than the baseline; it shows the median over
# paired rounds and the lowest and highest round.
#
#   bench/run.sh
#   PALMPORT_BENCH_SECTIONS="crate_against_loop_and_cat" bench/run.sh   (some sections only)
#
# Each section is a function below that prints a heading and its rows; to add
# one, write the function and name it in `sections` at the end. Helpers:
#   heading TEXT                   a section's title line
#   row LABEL [NOTE]               reads one ratio per line on standard input
#                                  and prints LABEL, median, lowest, highest
#                                  and NOTE
#   process_ratios ROUNDS REPS BASE NEW
#                                  whole-process ratios: the CPU time (user +
#                                  system) of REPS runs of the shell command
#                                  BASE over that of NEW, once per round, the
#                                  two taking turns to go first
# Needs only bash, awk and sort besides the build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/default
work=$(mktemp -d "${TMPDIR:-/tmp}/palmport_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

heading() {
    printf '\n%s\n' "$1"
}

row() {
    sort -g | awk -v label="$1" -v note="${2:-}" '
        { r[NR] = $1 }
        END {
            if (NR == 0) { printf "  %-44s %8s\n", label, "no data"; exit }
            m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
            printf "  %-44s %7.2fx %7.2fx %7.2fx%s\n", label, m, r[1], r[NR], note == "" ? "" : "  " note
        }'
}

# The median of the numbers in column $1 of standard input.
median_of() {
    awk -v c="$1" '{ print $c }' | sort -g | awk '{ r[NR] = $1 } END { if (NR) print NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }'
}

# CPU seconds (user + system) of `reps` runs of the shell command $2.
cpu_seconds() {
    local reps=$1 cmd=$2 out i
    local TIMEFORMAT='%3U %3S'
    out=$({ time (for ((i = 0; i < reps; i++)); do eval "$cmd"; done >/dev/null 2>&1); } 2>&1)
    awk '{ printf "%.3f\n", $1 + $2 }' <<<"$out"
}

process_ratios() {
    local rounds=$1 reps=$2 base=$3 new=$4 r tb tn
    for ((r = 0; r < rounds; r++)); do
        if ((r % 2 == 0)); then
            tb=$(cpu_seconds "$reps" "$base")
            tn=$(cpu_seconds "$reps" "$new")
        else
            tn=$(cpu_seconds "$reps" "$new")
            tb=$(cpu_seconds "$reps" "$base")
        fi
        awk -v b="$tb" -v n="$tn" 'BEGIN { if (n > 0) printf "%.4f\n", b / n }'
    done
}

# ---- The chunk encoder against the plain reference encoder ----

declare -A encoder_kinds=(
    [sjis_text_1MiB]="Shift_JIS text, 1 MiB"
    [cutter_texts_1000]="cutter-sized texts 100-4000 B, 1000 calls"
    [random_1MiB]="random bytes, 1 MiB"
    [one_byte_1MiB]="one repeated byte, 1 MiB"
    [zeros_1MiB]="zero bytes, 1 MiB"
)
encoder_order=(sjis_text_1MiB cutter_texts_1000 random_1MiB one_byte_1MiB zeros_1MiB)

encoder_in_process() {
    local rounds=11
    heading "lz77_compress vs the reference encoder, in-process (CPU time, $rounds paired rounds)"
    "$build/bench/compress_bench" --paired="$rounds" >"$work/paired.tsv"
    local kind note
    for kind in "${encoder_order[@]}"; do
        awk -F '\t' -v k="$kind" '$1 == k' "$work/paired.tsv" >"$work/kind.tsv"
        note="$(median_of 3 <"$work/kind.tsv") vs $(median_of 4 <"$work/kind.tsv") MB/s"
        awk -F '\t' '{ print $2 }' "$work/kind.tsv" | row "${encoder_kinds[$kind]}" "$note"
    done
}

encoder_whole_process() {
    local rounds=9
    heading "lz77_file vs lz77_file_reference, whole process (user + system CPU time, $rounds paired rounds)"
    "$build/bench/compress_bench" --write_inputs="$work/inputs"
    local enc ref kind files reps
    enc=$(printf '%q' "$build/bench/lz77_file")
    ref=$(printf '%q' "$build/bench/lz77_file_reference")
    for kind in "${encoder_order[@]}"; do
        files=$(printf '%q/*.bin' "$work/inputs/$kind")
        case $kind in
        one_byte_1MiB | zeros_1MiB) reps=20 ;;
        cutter_texts_1000) reps=3 ;;
        *) reps=5 ;;
        esac
        process_ratios "$rounds" "$reps" "$ref $(printf '%q' "$work/ref.out") $files" \
            "$enc $(printf '%q' "$work/enc.out") $files" | row "${encoder_kinds[$kind]}"
        cmp -s "$work/ref.out" "$work/enc.out" || echo "    the two drivers wrote different streams"
    done
}

# ---- cutter as a whole against its encoder alone ----

cutter_whole_program() {
    local rounds=21
    heading "cutter, maximal library (576 strings x 3999 code units) in a folder in memory: time / baseline's time, at most the target (wall time, $rounds paired rounds)"
    "$build/bench/cutter_bench" --paired="$rounds" >"$work/cutter.tsv"
    awk '{ print $1 }' "$work/cutter.tsv" | row "whole program / encoder alone" "target 1.15"
    awk '{ print $2 }' "$work/cutter.tsv" | row "rerun into its own chunk files / fresh run" "target 1.10"
}

# ---- crate against a plain read/write loop and cat ----

crate_against_loop_and_cat() {
    local rounds=7
    heading "crate (stderr to a file unless said): time / yardstick's time, at most the target ($rounds rounds)"
    RUNS=$rounds bash "$root/bench/crate_rows.sh" "$build/crate/crate" "$build/bench/readwrite_loop" 2>/dev/null |
        awk -F ' [|] ' 'NR > 1 {
            target = $1 ~ /to a file/ ? "noisy here" : $1 ~ /cat/ ? "target 1.05" : $1 ~ /CPU/ ? "target 1.30" : ""
            printf "  %-44s %7.2fx %7.2fx %7.2fx%s\n", $1, $2, $3, $4, target == "" ? "" : "  " target
        }'
}

sections=(${PALMPORT_BENCH_SECTIONS:-encoder_in_process encoder_whole_process crate_against_loop_and_cat cutter_whole_program})

cmake --preset default >/dev/null
cmake --build --preset default --target compress_bench lz77_file lz77_file_reference cutter_bench cutter crate readwrite_loop >/dev/null
printf 'palmport benchmarks, %s, %s CPUs\n' "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(nproc)"
printf '  speed-ups: the baseline'"'"'s time / the measured time (above 1: faster)\n'
printf '  costs: the measured time / the baseline'"'"'s time (at most the target)\n'
printf '  %-44s %8s %8s %8s\n' "" median lowest highest
for section in "${sections[@]}"; do
    "$section"
done
