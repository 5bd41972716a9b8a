#!/usr/bin/env bash
# Times quarnel-pack against genisoimage in alternating pairs and prints min /
# median / max of the per-pair ratio for two cases, then the peak resident
# memory of both:
#   disc     quarnel-pack of the folder into an image, vs genisoimage -J of
#            it into a disc alone
#   two-step quarnel-pack, vs genisoimage -J followed by quarnel of that disc
#            (what the image took before quarnel-pack)
#   memory   peak resident memory, as GNU time reports it, of quarnel-pack
#            and of genisoimage -J on a folder of 20,000 small files
# The timed folder (made unless given) holds 150 files of 2 MiB and 2,000 of
# 1 to 8 KiB over 20 subfolders, 309 MiB; contents and times are the same on
# every run, so the images are too. Everything lives on a memory file system.
# Usage: bench/compare_pack.sh [FOLDER]   (PACK, QUARNEL, PAIRS (at least 9)
# and SCRATCH (a tmpfs, default /dev/shm) override the binaries, the pair
# count and the place; needs genisoimage, python3 and GNU time)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"
pairs=$(pair_count)
pack=${PACK:-$here/build/quarnel-pack}
quarnel=${QUARNEL:-$here/build/quarnel}
scratch=${SCRATCH:-/dev/shm}

built "$pack" quarnel-pack PACK
built "$quarnel" quarnel QUARNEL
needs_folder_tools
work=$(mktemp -d "$scratch/quarnel-pack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# $1: the folder to make; $2: "timed" or "many". Seeded bytes, one time for all.
make_folder() {
    python3 - "$1" "$2" <<'EOF'
import os, random, sys
root, kind = sys.argv[1], sys.argv[2]
files = []
if kind == "timed":
    files += [(f"large/part-{i:03}.bin", 2 << 20) for i in range(150)]
    files += [(f"small/group-{i % 20:02}/note-{i:04}.txt", 1024 + i * 7919 % 7168) for i in range(2000)]
else:
    files += [(f"group-{i % 40:02}/item-{i:05}.dat", 256 + i * 7919 % 3840) for i in range(20000)]
for index, (name, size) in enumerate(files):
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(random.Random(index).randbytes(size))
stamp = 1_700_000_000
for directory, _, names in os.walk(root, topdown=False):
    for name in names:
        os.utime(os.path.join(directory, name), (stamp, stamp))
    os.utime(directory, (stamp, stamp))
EOF
}

if [ $# -ge 1 ]; then
    folder=$1
else
    folder=$work/folder
    make_folder "$folder" timed
fi

run_pack() { "$pack" "$folder" "$work/out.bin"; }
run_genisoimage() { genisoimage -quiet -J -o "$work/disc.iso" "$folder"; }
run_two_steps() { genisoimage -quiet -J -o "$work/disc.iso" "$folder" && "$quarnel" "$work/disc.iso" "$work/out2.bin"; }

remove_outputs() { rm -f "$work/out.bin" "$work/out2.bin" "$work/disc.iso"; }

# $1: case name; $2: the command timed; $3: the command it is measured against.
measure() {
    # One untimed run each, which must succeed, warms the cache.
    "$2" >/dev/null 2>&1 || { echo "$1: $2 failed" >&2; exit 1; }
    "$3" >/dev/null 2>&1 || { echo "$1: $3 failed" >&2; exit 1; }
    run_pairs "$1" "$pairs" "$2" "$3" remove_outputs
}

echo "folder: $folder, $(du -sm --apparent-size "$folder" | cut -f1) MiB in $(find "$folder" -type f | wc -l) files"
echo "ratio = quarnel-pack / genisoimage -J (two-step: / genisoimage -J then quarnel), pair by pair"
measure disc run_pack run_genisoimage
measure two-step run_pack run_two_steps

many=$work/many
make_folder "$many" many
rm -f "$work/out.bin" "$work/disc.iso"
/usr/bin/time -f '%M' -o "$work/pack-rss" "$pack" "$many" "$work/out.bin" >/dev/null 2>&1
/usr/bin/time -f '%M' -o "$work/genisoimage-rss" genisoimage -quiet -J -o "$work/disc.iso" "$many" >/dev/null 2>&1
echo "memory   20,000 files of 256 to 4095 bytes in 40 subfolders:" \
    "quarnel-pack $(( $(cat "$work/pack-rss") / 1024 )) MiB ($(cat "$work/pack-rss") KiB)," \
    "genisoimage $(( $(cat "$work/genisoimage-rss") / 1024 )) MiB ($(cat "$work/genisoimage-rss") KiB) peak resident"
