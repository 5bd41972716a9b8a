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

pairs=${PAIRS:-11}
[ "$pairs" -ge 9 ] || pairs=9  # a median of fewer pairs says little
here=$(cd "$(dirname "$0")/.." && pwd)
pack=${PACK:-$here/build/quarnel-pack}
quarnel=${QUARNEL:-$here/build/quarnel}
scratch=${SCRATCH:-/dev/shm}

[ -x "$pack" ] || { echo "no quarnel-pack binary at $pack (build first, or set PACK)" >&2; exit 1; }
[ -x "$quarnel" ] || { echo "no quarnel binary at $quarnel (build first, or set QUARNEL)" >&2; exit 1; }
command -v genisoimage >/dev/null || { echo "genisoimage is needed: apt-get install genisoimage" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed to make the folders" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 1; }
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

elapsed_ns() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $((end - start))
}

run_pack() { "$pack" "$folder" "$work/out.bin"; }
run_genisoimage() { genisoimage -quiet -J -o "$work/disc.iso" "$folder"; }
run_two_steps() { genisoimage -quiet -J -o "$work/disc.iso" "$folder" && "$quarnel" "$work/disc.iso" "$work/out2.bin"; }

# $1: case name; $2: the command timed; $3: the command it is measured against.
measure() {
    local name=$1 command=$2 other=$3 ratios=() q c i
    # One untimed run each, which must succeed, warms the cache.
    "$command" >/dev/null 2>&1 || { echo "$name: $command failed" >&2; exit 1; }
    "$other" >/dev/null 2>&1 || { echo "$name: $other failed" >&2; exit 1; }
    for ((i = 0; i < pairs; i++)); do
        rm -f "$work/out.bin" "$work/out2.bin" "$work/disc.iso"
        # The first of a pair alternates, so that neither always meets the other's leftovers.
        if ((i % 2 == 0)); then
            q=$(elapsed_ns "$command")
            c=$(elapsed_ns "$other")
        else
            c=$(elapsed_ns "$other")
            q=$(elapsed_ns "$command")
        fi
        ratios+=("$q $c")
    done
    printf '%s\n' "${ratios[@]}" | awk -v name="$name" -v pairs="$pairs" '
        { ratio[NR] = $1 / $2; pack[NR] = $1; other[NR] = $2 }
        function sort_values(v, n,    i, j, t) {
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        }
        END {
            sort_values(ratio, NR); sort_values(pack, NR); sort_values(other, NR)
            m = int((NR + 1) / 2)
            printf "%-8s %2d pairs  ratio min %.2f  median %.2f  max %.2f   (median %.0f ms against %.0f ms)\n",
                name, pairs, ratio[1], ratio[m], ratio[NR], pack[m] / 1e6, other[m] / 1e6
        }'
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
