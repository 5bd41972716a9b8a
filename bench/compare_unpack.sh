#!/usr/bin/env bash
# Times quarnel-inspect /unpack: against bsdtar -x of the same disc in
# alternating pairs, and prints min / median / max of the per-pair ratio:
#   memory   the folder made on a memory file system, vs bsdtar -x there
#   disk     the folder made in a directory on the disk, vs bsdtar -x then
#            sync -f (quarnel-inspect makes what it unpacks durable)
# and the peak resident memory of unpacking two discs of 2,000 files, one of
# ten times the bytes of the other: the same peak says the memory is the
# tree's, not the files'.
# The folder (made unless given) holds 2,000 files of 150 KiB, 300 MiB over
# 20 subfolders; the image and the disc are made from it by quarnel-pack.
# bsdtar reads the disc, quarnel-inspect the image (which it checks first).
# Usage: bench/compare_unpack.sh [FOLDER]   (INSPECT, PACK, PAIRS (at least
# 9), SCRATCH (a tmpfs, default /dev/shm) and DISK (a directory on the disk,
# default /var/tmp) override the binaries, the pair count and the places;
# needs bsdtar, python3 and GNU time)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"
pairs=$(pair_count)
scratch=${SCRATCH:-/dev/shm}
disk=${DISK:-/var/tmp}

disc_programs
needs bsdtar "bsdtar is needed: apt-get install libarchive-tools"
needs python3 "python3 is needed to make the folder"
needs /usr/bin/time "GNU time is needed: apt-get install time"
work=$(mktemp -d "$scratch/quarnel-unpack-bench.XXXXXX")
on_disk=$(mktemp -d "$disk/quarnel-unpack-bench.XXXXXX")
trap 'rm -rf "$work" "$on_disk"' EXIT

# $1: the folder to make; $2: each file's bytes.
make_folder() {
    python3 - "$1" "$2" <<'PYTHON'
import os, random, sys
root, size = sys.argv[1], int(sys.argv[2])
for i in range(2000):
    path = os.path.join(root, f"group-{i % 20:02}", f"file-{i:04}.bin")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(random.Random(i).randbytes(size))
PYTHON
}

if [ $# -ge 1 ]; then
    folder=$1
else
    folder=$work/folder
    make_folder "$folder" 153600
fi
"$pack" "$folder" "$work/image.bin" >/dev/null 2>&1
"$pack" /iso "$folder" "$work/disc.iso" >/dev/null 2>&1

place=$work
run_unpack() { "$inspect" "/unpack:$place/ours" "$work/image.bin"; }
run_bsdtar() { mkdir "$place/theirs" && bsdtar -x -f "$work/disc.iso" -C "$place/theirs"; }
run_bsdtar_synced() { run_bsdtar && sync -f "$place/theirs"; }
remove_outputs() { rm -rf "$place/ours" "$place/theirs"; }

measure() {
    place=$2
    # One untimed run each, which must succeed and give the folder, warms the cache.
    remove_outputs
    "$3" >/dev/null 2>&1 || { echo "$1: $3 failed" >&2; exit 1; }
    "$4" >/dev/null 2>&1 || { echo "$1: $4 failed" >&2; exit 1; }
    diff -r "$place/ours" "$place/theirs" >/dev/null || { echo "$1: the folders differ" >&2; exit 1; }
    run_pairs "$1" "$pairs" "$3" "$4" remove_outputs
    remove_outputs
}

echo "folder: $folder, $(du -sm --apparent-size "$folder" | cut -f1) MiB in $(find "$folder" -type f | wc -l) files"
echo "ratio = quarnel-inspect /unpack: / bsdtar -x (disk: then sync -f), pair by pair"
measure memory "$work" run_unpack run_bsdtar
measure disk "$on_disk" run_unpack run_bsdtar_synced

# $1: the image; the peak in KiB of unpacking it.
peak() {
    rm -rf "$work/peak"
    /usr/bin/time -f '%M' -o "$work/rss" "$inspect" "/unpack:$work/peak" "$1" >/dev/null 2>&1 ||
        { echo "unpacking $1 failed" >&2; exit 1; }
    rm -rf "$work/peak"
    cat "$work/rss"
}
small=$work/small
make_folder "$small" 15360
"$pack" "$small" "$work/small.bin" >/dev/null 2>&1
rm -rf "$small"
large_peak=$(peak "$work/image.bin")
small_peak=$(peak "$work/small.bin")
echo "memory   2,000 files: of 150 KiB $((large_peak / 1024)) MiB ($large_peak KiB)," \
    "of 15 KiB $((small_peak / 1024)) MiB ($small_peak KiB) peak resident"
