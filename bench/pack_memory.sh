#!/usr/bin/env bash
# Peak resident memory of quarnel-pack against genisoimage on the two
# folders whose metadata is largest for their bytes, as GNU time -v reports
# it, side by side:
#   folders  65,534 folders (the most a disc numbers, with the folder
#            itself): 256 holding 65,278 empty ones, 256 MiB of directory
#            sectors (genisoimage finds no 8.3 names for more than 46,660
#            such names in one folder, so they are not all in one)
#   files    200,000 files of 1 to 97 bytes over 200 folders
# quarnel-pack writes the modem image, genisoimage the disc alone
# (`-quiet -J -joliet-long`). The folders are made on a memory file system
# and removed after.
# Usage: bench/pack_memory.sh   (PACK and SCRATCH (default /dev/shm) override
# the binary and the place; needs genisoimage, python3 and GNU time)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"
pack=${PACK:-$here/build/quarnel-pack}
scratch=${SCRATCH:-/dev/shm}

built "$pack" quarnel-pack PACK
needs_folder_tools
work=$(mktemp -d "$scratch/quarnel-pack-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

# $1: the folder to make; $2: "folders" or "files". One time for all.
make_folder() {
    python3 - "$1" "$2" <<'EOF'
import os, sys
root, kind = sys.argv[1], sys.argv[2]
os.makedirs(root)
if kind == "folders":
    for group in range(256):
        for i in range(254 if group < 2 else 255):
            os.makedirs(os.path.join(root, f"group-{group:03}", f"folder-{i:03}"))
else:
    for group in range(200):
        os.mkdir(os.path.join(root, f"group-{group:03}"))
    for i in range(200000):
        with open(os.path.join(root, f"group-{i % 200:03}", f"item-{i:06}.dat"), "wb") as out:
            out.write(bytes((i * 7 + k) & 0xFF for k in range(1 + i % 97)))
stamp = 1_700_000_000
for directory, _, names in os.walk(root, topdown=False):
    for name in names:
        os.utime(os.path.join(directory, name), (stamp, stamp))
    os.utime(directory, (stamp, stamp))
EOF
}

# $1: where GNU time -v wrote; the peak in KiB.
peak() { sed -n 's/^\tMaximum resident set size (kbytes): //p' "$1"; }

# $1: the folder's kind; $2: what it holds, for the line.
measure() {
    make_folder "$work/$1" "$1"
    /usr/bin/time -v -o "$work/pack-time" "$pack" "$work/$1" "$work/out.bin" >/dev/null 2>&1 ||
        { echo "$1: quarnel-pack failed" >&2; exit 1; }
    rm -f "$work/out.bin"
    /usr/bin/time -v -o "$work/genisoimage-time" genisoimage -quiet -J -joliet-long -o "$work/disc.iso" "$work/$1" \
        >/dev/null 2>&1 || { echo "$1: genisoimage failed" >&2; exit 1; }
    rm -rf "$work/disc.iso" "${work:?}/$1"
    local ours theirs
    ours=$(peak "$work/pack-time")
    theirs=$(peak "$work/genisoimage-time")
    printf '%-8s %s: quarnel-pack %d MiB (%d KiB), genisoimage %d MiB (%d KiB) peak resident\n' \
        "$1" "$2" $((ours / 1024)) "$ours" $((theirs / 1024)) "$theirs"
}

measure folders "65,534 folders, 65,278 of them empty"
measure files "200,000 files of 1 to 97 bytes in 200 folders"
