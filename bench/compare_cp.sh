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
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"
pairs=$(pair_count)
quarnel=${QUARNEL:-$here/build/quarnel}
inspect=${INSPECT:-$here/build/quarnel-inspect}
scratch=${SCRATCH:-/dev/shm}
disk=${DISK:-/var/tmp}

built "$quarnel" quarnel QUARNEL
built "$inspect" quarnel-inspect INSPECT
memory=$(mktemp -d "$scratch/quarnel-bench.XXXXXX")
on_disk=$(mktemp -d "$disk/quarnel-bench.XXXXXX")
trap 'rm -rf "$memory" "$on_disk"' EXIT

head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$memory/source.iso"
cp "$memory/source.iso" "$on_disk/source.iso"
sync

run_quarnel() { "$quarnel" "$1/source.iso" "$1/image.bin"; }
run_cp() { cp "$1/source.iso" "$1/copy.iso"; }
run_cp_sync() { cp "$1/source.iso" "$1/copy.iso" && sync -d "$1/copy.iso"; }
run_inspect() { "$inspect" "$1/image.bin"; }
run_cat() { cat "$1/image.bin" >/dev/null; }

# $1: case name; $2: directory; $3: the command timed; $4: the command it is
# measured against; $5: "fresh" to remove the outputs before each run
# (untimed), "keep" to replace them.
measure() {
    measure_dir=$2 measure_outputs=$5
    "$3" "$2" >/dev/null 2>&1
    "$4" "$2"
    run_pairs "$1" "$pairs" "$3 $2" "$4 $2" before_pair between_runs
}
before_pair() {
    [ "$measure_outputs" = keep ] || rm -f "$measure_dir/image.bin" "$measure_dir/copy.iso"
    sync
}
between_runs() { [ "$measure_outputs" = keep ] || sync; }

echo "source: $size_mib MiB; ratio = quarnel / cp (verify: quarnel-inspect / cat), pair by pair"
measure new "$memory" run_quarnel run_cp fresh
measure replace "$memory" run_quarnel run_cp keep
measure disk "$on_disk" run_quarnel run_cp_sync fresh
measure verify "$memory" run_inspect run_cat keep
