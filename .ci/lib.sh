# What the scripts of .ci/ share: each sources it (. .ci/lib.sh) from the top
# of the checkout, or of the unpacked source tarball.

# Heads a step's output; step_scope, when set, names the script the step is in.
step() { printf '\n=== %s%s\n' "${step_scope:+$step_scope: }" "$*"; }

# The project's version, as CMakeLists.txt's project() names it.
project_version() {
    local version
    version=$(sed -n 's/^project(quarnel VERSION \([0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
    [ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; return 1; }
    echo "$version"
}

# reproducible_zip ZIP DIRECTORY FOLDER: writes ZIP holding DIRECTORY/FOLDER's
# files under FOLDER/, in sorted order, each with the time SOURCE_DATE_EPOCH,
# read-only for all but its owner, no owners, extra fields or folder entries,
# so that the same files give the same bytes.
reproducible_zip() {
    local zip=$1 directory=$2 folder=$3
    chmod -R u=rwX,go=rX "$directory/$folder"
    find "$directory/$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    rm -f "$zip"
    (cd "$directory" && find "$folder" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D -9 "$zip" -@)
}
