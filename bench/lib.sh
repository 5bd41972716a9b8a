# shellcheck shell=bash
# Shared by the bench/*.sh scripts (sourced): what each needs before it
# starts, and a timing of two commands in alternating pairs that prints min /
# median / max of the per-pair ratio.

# built PATH NAME VARIABLE: our program NAME must be built at PATH, or named by VARIABLE.
built() { [ -x "$1" ] || { echo "no $2 binary at $1 (build first, or set $3)" >&2; exit 1; }; }

# needs COMMAND WHAT: a tool of the system's, WHAT saying how to get it.
needs() { command -v "$1" >/dev/null || { echo "$2" >&2; exit 1; }; }

# The programs the disc benches run, set in $inspect and $pack: as INSPECT
# and PACK name them, else this tree's build ($here); both must be built.
disc_programs() {
    # shellcheck disable=SC2034 # read by the script that sources this
    inspect=${INSPECT:-$here/build/quarnel-inspect}
    # shellcheck disable=SC2034
    pack=${PACK:-$here/build/quarnel-pack}
    built "$inspect" quarnel-inspect INSPECT
    built "$pack" quarnel-pack PACK
}

# The tools the folder benches make their folders and measure with.
needs_folder_tools() {
    needs genisoimage "genisoimage is needed: apt-get install genisoimage"
    needs python3 "python3 is needed to make the folders"
    needs /usr/bin/time "GNU time is needed: apt-get install time"
}

# PAIRS from the environment, at least 9: a median of fewer pairs says little.
pair_count() {
    local pairs=${PAIRS:-11}
    [ "$pairs" -ge 9 ] || pairs=9
    echo "$pairs"
}

elapsed_ns() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $((end - start))
}

# run_pairs NAME PAIRS "A WORDS" "B WORDS" [BEFORE] [BETWEEN]: A and B (each
# a command and its arguments, split at spaces) timed PAIRS times in turn, the
# first of a pair alternating so that neither always meets the other's
# leftovers; BEFORE runs before each pair and BETWEEN between its two runs,
# untimed. Prints one line: the ratio A / B and the median times.
run_pairs() {
    local name=$1 pairs=$2 a=$3 b=$4 before=${5:-:} between=${6:-:} ratios=() ta tb i
    for ((i = 0; i < pairs; i++)); do
        "$before"
        if ((i % 2 == 0)); then
            # shellcheck disable=SC2086 # the commands are words
            ta=$(elapsed_ns $a)
            "$between"
            # shellcheck disable=SC2086
            tb=$(elapsed_ns $b)
        else
            # shellcheck disable=SC2086
            tb=$(elapsed_ns $b)
            "$between"
            # shellcheck disable=SC2086
            ta=$(elapsed_ns $a)
        fi
        ratios+=("$ta $tb")
    done
    printf '%s\n' "${ratios[@]}" | awk -v name="$name" -v pairs="$pairs" '
        { ratio[NR] = $1 / $2; a[NR] = $1; b[NR] = $2 }
        function sort_values(v, n,    i, j, t) {
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        }
        END {
            sort_values(ratio, NR); sort_values(a, NR); sort_values(b, NR)
            m = int((NR + 1) / 2)
            printf "%-8s %2d pairs  ratio min %.2f  median %.2f  max %.2f   (median %.0f ms against %.0f ms)\n",
                name, pairs, ratio[1], ratio[m], ratio[NR], a[m] / 1e6, b[m] / 1e6
        }'
}
