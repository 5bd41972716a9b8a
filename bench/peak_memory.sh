#!/usr/bin/env bash
# Peak resident memory of one conversion of the largest source the format
# takes (2 GiB less one sector, sparse), and of the check of the image it
# becomes, as GNU time reports them.
# Usage: bench/peak_memory.sh   (needs GNU time: apt-get install time;
# QUARNEL, INSPECT and SCRATCH override the binaries and the directory)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$here/bench/lib.sh"
quarnel=${QUARNEL:-$here/build/quarnel}
inspect=${INSPECT:-$here/build/quarnel-inspect}
scratch=${SCRATCH:-/dev/shm}
needs /usr/bin/time "GNU time is needed: apt-get install time"

work=$(mktemp -d "$scratch/quarnel-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
truncate -s $((2 * 1024 * 1024 * 1024 - 2048)) "$work/largest.iso"

/usr/bin/time -f '%M' -o "$work/rss" "$quarnel" "$work/largest.iso" "$work/largest.bin" 2>/dev/null
/usr/bin/time -f '%M' -o "$work/inspect-rss" "$inspect" "$work/largest.bin" >/dev/null 2>&1
echo "source: 2 GiB less 2048 bytes"
echo "peak resident memory: $(( $(cat "$work/rss") / 1024 )) MiB ($(cat "$work/rss") KiB)"
echo "peak resident memory of its check: $(( $(cat "$work/inspect-rss") / 1024 )) MiB ($(cat "$work/inspect-rss") KiB)"
