#!/usr/bin/env bash
# Times quarnel against cp on the same source, alternating the two so that
# both see the same machine state; prints both medians and their ratio.
# Usage: bench/compare_cp.sh [SIZE_MIB]   (QUARNEL, RUNS and SCRATCH override
# the binary, the number of runs of each, and the directory: a tmpfs by default)
set -euo pipefail

size_mib=${1:-512}
runs=${RUNS:-7}
[ "$runs" -ge 5 ] || runs=5  # a median of fewer runs says little
here=$(cd "$(dirname "$0")/.." && pwd)
quarnel=${QUARNEL:-$here/build/quarnel}
scratch=${SCRATCH:-/dev/shm}

[ -x "$quarnel" ] || { echo "no quarnel binary at $quarnel (build first, or set QUARNEL)" >&2; exit 1; }
work=$(mktemp -d "$scratch/quarnel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/source.iso"

elapsed_ns() {
    local start end
    start=$(date +%s%N)
    "$@" 2>/dev/null
    end=$(date +%s%N)
    echo $((end - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

cp_times=() quarnel_times=()
for ((i = 0; i < runs; i++)); do
    rm -f "$work/copy.iso" "$work/image.bin"
    cp_times+=("$(elapsed_ns cp "$work/source.iso" "$work/copy.iso")")
    rm -f "$work/copy.iso"
    quarnel_times+=("$(elapsed_ns "$quarnel" "$work/source.iso" "$work/image.bin")")
done

cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
quarnel_median=$(printf '%s\n' "${quarnel_times[@]}" | median)
awk -v c="$cp_median" -v q="$quarnel_median" -v s="$size_mib" -v r="$runs" 'BEGIN {
    printf "source: %d MiB, %d runs each, alternating\n", s, r
    printf "cp median:      %8.1f ms\n", c / 1e6
    printf "quarnel median: %8.1f ms\n", q / 1e6
    printf "ratio quarnel/cp: %.2f\n", q / c
}'
