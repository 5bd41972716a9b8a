#!/usr/bin/env bash
# Times quarnel-inspect /files against isoinfo -J -l in alternating pairs on
# a disc of 20,000 files, and prints min / median / max of the per-pair
# ratio: the listing of a disc's tree should take at most isoinfo's time.
# The files are empty, so that the image check around the listing (every
# block's checksum) stays small beside it: what is timed is the trees' walk.
#   list     quarnel-inspect /files of the image, vs isoinfo -J -l of its disc
#   piped    the same, each read through a pipe
# The folder (made unless given) holds 20,000 empty files over 40 subfolders,
# all of one time; the image and the disc are made from it by quarnel-pack.
# Everything lives on a memory file system.
# Usage: bench/compare_list.sh [FOLDER]   (INSPECT, PACK, PAIRS (at least 9)
# and SCRATCH (a tmpfs, default /dev/shm) override the binaries, the pair
# count and the place; needs isoinfo and python3)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"
pairs=$(pair_count)
scratch=${SCRATCH:-/dev/shm}

disc_programs
needs isoinfo "isoinfo is needed: apt-get install genisoimage"
needs python3 "python3 is needed to make the folder"
work=$(mktemp -d "$scratch/quarnel-list-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ $# -ge 1 ]; then
    folder=$1
else
    folder=$work/folder
    python3 - "$folder" <<'PYTHON'
import os, sys
root = sys.argv[1]
for i in range(20000):
    path = os.path.join(root, f"group-{i % 40:02}", f"item-{i:05}.dat")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").close()
stamp = 1_700_000_000
for directory, _, names in os.walk(root, topdown=False):
    for name in names:
        os.utime(os.path.join(directory, name), (stamp, stamp))
    os.utime(directory, (stamp, stamp))
PYTHON
fi
"$pack" "$folder" "$work/image.bin" >/dev/null 2>&1
"$pack" /iso "$folder" "$work/disc.iso" >/dev/null 2>&1

run_inspect() { "$inspect" /files "$work/image.bin"; }
run_isoinfo() { isoinfo -i "$work/disc.iso" -J -l; }
# As a user reads a long listing: through a pipe, to a pager or grep.
piped_inspect() { run_inspect | cat; }
piped_isoinfo() { run_isoinfo | cat; }

# One untimed run each, which must succeed, warms the cache; both list every file.
for run in run_inspect run_isoinfo; do
    count=$("$run" 2>/dev/null | grep -c 'item-' || true)
    [ "$count" -eq "$(find "$folder" -type f | wc -l)" ] || { echo "$run listed $count files" >&2; exit 1; }
done
echo "folder: $folder, $(find "$folder" -type f | wc -l) files"
echo "ratio = quarnel-inspect /files / isoinfo -J -l, pair by pair"
run_pairs list "$pairs" run_inspect run_isoinfo
run_pairs piped "$pairs" piped_inspect piped_isoinfo
