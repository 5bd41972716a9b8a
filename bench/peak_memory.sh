#!/usr/bin/env bash
# Peak resident memory of one conversion of the largest source the format
# takes (2 GiB less one sector, sparse), as GNU time reports it.
# Usage: bench/peak_memory.sh   (needs GNU time: apt-get install time;
# QUARNEL and SCRATCH override the binary and the directory)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
quarnel=${QUARNEL:-$here/build/quarnel}
scratch=${SCRATCH:-/dev/shm}
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 1; }

work=$(mktemp -d "$scratch/quarnel-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
truncate -s $((2 * 1024 * 1024 * 1024 - 2048)) "$work/largest.iso"

/usr/bin/time -f '%M' -o "$work/rss" "$quarnel" "$work/largest.iso" "$work/largest.bin" 2>/dev/null
echo "source: 2 GiB less 2048 bytes"
echo "peak resident memory: $(( $(cat "$work/rss") / 1024 )) MiB ($(cat "$work/rss") KiB)"
