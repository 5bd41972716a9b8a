#!/usr/bin/env bash
# Times quarnel against cp, and quarnel-inspect against cat, in alternating
# pairs and prints min / median / max of the per-pair ratio for four cases:
#   new      a new destination on a memory file system, vs cp to a new file
#   replace  an existing destination there, vs cp over an existing file
#   disk     a new destination in a directory on the disk, vs cp followed by
#            sync -d of the copy (quarnel flushes its output likewise, and
#            then its directory)
#   verify   quarnel-inspect checking the image on the memory file system, vs
#            cat of the image to /dev/null (reading it alone)
# Usage: bench/compare_cp.sh [SIZE_MIB]   (default 512; QUARNEL, INSPECT,
# PAIRS (at least 9), SCRATCH (a tmpfs, default /dev/shm) and DISK (a
# directory on the disk, default /var/tmp) override the binaries, the pair
# count and the places)
set -euo pipefail

size_mib=${1:-512}
pairs=${PAIRS:-11}
[ "$pairs" -ge 9 ] || pairs=9  # a median of fewer pairs says little
here=$(cd "$(dirname "$0")/.." && pwd)
quarnel=${QUARNEL:-$here/build/quarnel}
inspect=${INSPECT:-$here/build/quarnel-inspect}
scratch=${SCRATCH:-/dev/shm}
disk=${DISK:-/var/tmp}

[ -x "$quarnel" ] || { echo "no quarnel binary at $quarnel (build first, or set QUARNEL)" >&2; exit 1; }
[ -x "$inspect" ] || { echo "no quarnel-inspect binary at $inspect (build first, or set INSPECT)" >&2; exit 1; }
memory=$(mktemp -d "$scratch/quarnel-bench.XXXXXX")
on_disk=$(mktemp -d "$disk/quarnel-bench.XXXXXX")
trap 'rm -rf "$memory" "$on_disk"' EXIT

head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$memory/source.iso"
cp "$memory/source.iso" "$on_disk/source.iso"
sync

elapsed_ns() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $((end - start))
}

run_quarnel() { "$quarnel" "$1/source.iso" "$1/image.bin"; }
run_cp() { cp "$1/source.iso" "$1/copy.iso"; }
run_cp_sync() { cp "$1/source.iso" "$1/copy.iso" && sync -d "$1/copy.iso"; }
run_inspect() { "$inspect" "$1/image.bin"; }
run_cat() { cat "$1/image.bin" >/dev/null; }

# $1: case name; $2: directory; $3: the command timed; $4: the command it is
# measured against; $5: "fresh" to remove the outputs before each run
# (untimed), "keep" to replace them.
measure() {
    local name=$1 dir=$2 command=$3 cp_command=$4 outputs=$5 ratios=() q c i
    "$command" "$dir" >/dev/null 2>&1
    "$cp_command" "$dir"
    for ((i = 0; i < pairs; i++)); do
        [ "$outputs" = keep ] || rm -f "$dir/image.bin" "$dir/copy.iso"
        sync
        # The first of a pair alternates, so that neither always meets the other's leftovers.
        if ((i % 2 == 0)); then
            q=$(elapsed_ns "$command" "$dir")
            [ "$outputs" = keep ] || sync
            c=$(elapsed_ns "$cp_command" "$dir")
        else
            c=$(elapsed_ns "$cp_command" "$dir")
            [ "$outputs" = keep ] || sync
            q=$(elapsed_ns "$command" "$dir")
        fi
        ratios+=("$q $c")
    done
    printf '%s\n' "${ratios[@]}" | awk -v name="$name" -v pairs="$pairs" '
        { ratio[NR] = $1 / $2; quarnel[NR] = $1; cp[NR] = $2 }
        function sort_values(v, n,    i, j, t) {
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        }
        END {
            sort_values(ratio, NR); sort_values(quarnel, NR); sort_values(cp, NR)
            m = int((NR + 1) / 2)
            printf "%-8s %2d pairs  ratio min %.2f  median %.2f  max %.2f   (median %.0f ms against %.0f ms)\n",
                name, pairs, ratio[1], ratio[m], ratio[NR], quarnel[m] / 1e6, cp[m] / 1e6
        }'
}

echo "source: $size_mib MiB; ratio = quarnel / cp (verify: quarnel-inspect / cat), pair by pair"
measure new "$memory" run_quarnel run_cp fresh
measure replace "$memory" run_quarnel run_cp keep
measure disk "$on_disk" run_quarnel run_cp_sync fresh
measure verify "$memory" run_inspect run_cat keep
