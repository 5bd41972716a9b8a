#!/usr/bin/env bash
# Runs the Windows build under wine and holds it to the Linux build: every
# case runs with both on identical copies of the same files, and must give the
# same exit status, the same standard output and error (with CRLF line ends,
# as a Windows console program writes them) and the same files, byte for byte.
# First it checks that each .exe is stripped and carries its version resource
# and manifest.
# Usage: tests/windows/wine_test.sh WINDOWS_PROGRAMS_DIR LINUX_BUILD_DIR
# (the Windows build directory, or the folder unpacked from the release zip)
set -uo pipefail

windows=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
export WINEDEBUG=-all LANG=C.UTF-8
WINEPREFIX=$(mktemp -d)
export WINEPREFIX
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work" "$WINEPREFIX"' EXIT

passed=0
failed=0

# A new prefix talks on its first start; let it do so before any case.
wine wineboot --init >/dev/null 2>&1
wineserver -w

# check NAME COMMAND...: COMMAND succeeds.
check() {
    local name=$1
    shift
    if "$@" >/dev/null 2>&1; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
    fi
}

# resource NAME EXE PATTERN: the resources windres reads back from EXE match PATTERN.
resource() { check "$2: $1" grep -q -E "$3" <<<"$(x86_64-w64-mingw32-windres -i "$windows/$2" -O rc 2>/dev/null)"; }
for exe in quarnel.exe quarnel-inspect.exe quarnel-pack.exe; do
    resource "product name" $exe 'VALUE "ProductName", "quarnel"'
    resource "product version" $exe 'VALUE "ProductVersion", "[0-9]+\.[0-9]+\.[0-9]+"'
    resource "description" $exe 'VALUE "FileDescription", "[A-Z][^"]+"'
    resource "manifest" $exe '^1 24 '
    resource "long path awareness" $exe '<longPathAware [^>]*>true</longPathAware>'
    resource "UTF-8 code page" $exe '<activeCodePage [^>]*>UTF-8</activeCodePage>'
    resource "Windows 10 in the supported systems" $exe '<supportedOS Id=""\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}""/>'
    check "$exe: stripped" grep -q 'no symbols' <<<"$(x86_64-w64-mingw32-nm "$windows/$exe" 2>&1)"
done

# The files every case starts from; a folder whose path, relative to the
# case's folder, is longer than the 260 characters of Windows' MAX_PATH.
fixture=$work/fixture
long=$(printf 'a%.0s' {1..60})/$(printf 'b%.0s' {1..60})/$(printf 'c%.0s' {1..60})/$(printf 'd%.0s' {1..60})/$(printf 'e%.0s' {1..60})
mkdir -p "$fixture/folder" "$fixture/tree/docs" "$fixture/Диск" "$fixture/$long"
head -c 10240 /dev/urandom >"$fixture/five.iso"
head -c 2049 /dev/urandom >"$fixture/odd.iso"
head -c 100 /dev/urandom >"$fixture/existing.bin"
head -c 70000 /dev/urandom >"$fixture/tree/docs/DATA.BIN"
echo "sample" >"$fixture/tree/README.TXT"
genisoimage -quiet -r -J -V QUARNEL -o "$fixture/disc.iso" "$fixture/tree" || exit 1
cp "$fixture/five.iso" "$fixture/Диск/образ.iso"
cp "$fixture/five.iso" "$fixture/$long/five.iso"
"$linux/quarnel" /model:E220 "$fixture/five.iso" "$fixture/good.bin" 2>/dev/null
cp "$fixture/good.bin" "$fixture/bad.bin"
cp "$fixture/good.bin" "$fixture/$long/good.bin"
# One bit flipped in the payload: a fixed byte value would leave it alone one time in 256.
byte=$(od -An -tu1 -j5000 -N1 "$fixture/bad.bin")
printf "\\x$(printf %02x $((byte ^ 1)))" | dd of="$fixture/bad.bin" bs=1 seek=5000 conv=notrunc status=none

crlf() { sed 's/$/\r/' "$1"; }

# same NAME PROGRAM ARGS...: PROGRAM is quarnel or quarnel-inspect.
same() {
    local name=$1 program=$2
    shift 2
    rm -rf "$work/linux" "$work/windows"
    cp -a "$fixture" "$work/linux"
    cp -a "$fixture" "$work/windows"
    (cd "$work/linux" && "$linux/$program" "$@" >"$work/linux.out" 2>"$work/linux.err")
    local linux_status=$?
    (cd "$work/windows" && wine "$windows/$program.exe" "$@" >"$work/windows.out" 2>"$work/windows.err")
    local windows_status=$?
    local why=""
    [ "$linux_status" -eq "$windows_status" ] || why+=" status $linux_status/$windows_status;"
    cmp -s <(crlf "$work/linux.err") "$work/windows.err" || why+=" standard error differs;"
    cmp -s <(crlf "$work/linux.out") "$work/windows.out" || why+=" standard output differs;"
    diff -r "$work/linux" "$work/windows" >/dev/null || why+=" files differ;"
    if [ -z "$why" ]; then
        passed=$((passed + 1))
        echo "ok: $name (exit status $windows_status)"
    else
        failed=$((failed + 1))
        echo "FAILED: $name:$why"
        head -c 600 "$work/windows.err"
    fi
}

same "usage, no arguments" quarnel
same "usage, one argument" quarnel five.iso
same "usage, option second" quarnel five.iso /model:E220 out.bin
same "usage, -model" quarnel -model:E220 five.iso out.bin
same "default model" quarnel five.iso out.bin
same "E220" quarnel /model:e220 five.iso out.bin
same "E2200 selects E220" quarnel /MODEL:E2200 five.iso out.bin
same "unknown model converts with default codes" quarnel /model:E172 five.iso out.bin
same "existing destination replaced" quarnel five.iso existing.bin
same "missing source" quarnel missing.iso out.bin
same "odd length" quarnel odd.iso out.bin
same "source is a directory" quarnel folder out.bin
same "same file" quarnel five.iso five.iso
same "same file, other spelling" quarnel five.iso ./folder/../five.iso
same "destination directory missing" quarnel five.iso nowhere/out.bin
same "destination is a directory" quarnel five.iso folder
same "real ISO, E220" quarnel /model:E220 disc.iso disc.bin
same "real ISO, default" quarnel disc.iso disc.bin
same "Cyrillic and CJK names" quarnel Диск/образ.iso 光盘.bin
same "paths longer than 260 characters" quarnel "$long/five.iso" "$long/out.bin"
same "inspect a valid image" quarnel-inspect good.bin
same "inspect and extract" quarnel-inspect good.bin back.iso
same "inspect a damaged image" quarnel-inspect bad.bin back.iso
same "inspect usage" quarnel-inspect
same "inspect --help" quarnel-inspect --help
same "inspect --version" quarnel-inspect --version
same "inspect and extract, paths longer than 260 characters" quarnel-inspect "$long/good.bin" "$long/back.iso"
same "inspect, same file" quarnel-inspect good.bin good.bin

# Round trip on Windows alone: convert a real ISO and extract it again.
rm -rf "$work/windows" && cp -a "$fixture" "$work/windows"
check "real ISO converted and extracted again under non-ASCII names" sh -c 'cd "$1" && wine "$2/quarnel.exe" /model:E220 \
    disc.iso 光盘.bin && wine "$2/quarnel-inspect.exe" 光盘.bin 回.iso && cmp 回.iso "$3"' - "$work/windows" "$windows" "$fixture/disc.iso"

# On a console, which wine makes of a terminal, a file name in the report shows
# as it is: written as UTF-16, not as UTF-8 bytes read in the console's code page.
shown=$(cd "$work/windows" && script -qec "wine $(printf %q "$windows/quarnel-inspect.exe") 光盘.bin" /dev/null)
check "a non-ASCII file name shown on a console" grep -q -F 'Image: 光盘.bin, ' <<<"$shown"

# quarnel-pack under wine on a folder of non-ASCII names (one beyond the BMP),
# a subfolder and an empty file: readers we did not write must find the same
# names and bytes, and the disc and image must be the Linux build's, byte for
# byte (the volume dates come from the files' times, kept by cp -a).
folder=$work/pack/folder
mkdir -p "$folder/Café/光盘"
head -c 5000 /dev/urandom >"$folder/Café/résumé.bin"
head -c 70000 /dev/urandom >"$folder/Café/光盘/数据.bin"
echo "clef" >"$folder/𝄞.txt"
: >"$folder/empty"
touch -d '2024-05-06 07:08:09' "$folder"/*
(cd "$work/pack" && wine "$windows/quarnel-pack.exe" /model:E220 folder win.bin 2>/dev/null &&
    wine "$windows/quarnel-pack.exe" /iso folder win.iso 2>/dev/null &&
    "$linux/quarnel-pack" /model:E220 folder linux.bin 2>/dev/null &&
    "$linux/quarnel-pack" /iso folder linux.iso 2>/dev/null &&
    "$linux/quarnel" /model:E220 win.iso from-iso.bin 2>/dev/null) || { failed=$((failed + 1)); echo "FAILED: quarnel-pack did not run"; }

# latin1: UTF-8 names as isoinfo -J shows them, each UTF-16 unit beyond Latin-1 as "_".
latin1() { perl -CI -pe 's/([^\x00-\xff])/"_" x (ord($1) > 0xFFFF ? 2 : 1)/ge'; }
# extracted READER: READER's extraction of win.iso into $work/pack/READER equals the folder.
extracted() {
    local into=$work/pack/$1
    rm -rf "$into" && mkdir -p "$into"
    case $1 in
    7z) 7z x -y -o"$into" "$work/pack/win.iso" ;;
    bsdtar) bsdtar -xf "$work/pack/win.iso" -C "$into" ;;
    xorriso) xorriso -osirrox on -indev "$work/pack/win.iso" -extract / "$into" && chmod -R u+w "$into" ;;
    isoinfo)
        # Debian's isoinfo writes Joliet names in Latin-1 alone: the files named in it are read back.
        local path
        while IFS= read -r path; do
            cmp <(isoinfo -J -i "$work/pack/win.iso" -x "$(latin1 <<<"$path")") "$folder$path" || return 1
        done < <(cd "$folder" && find . -type f | sed 's/^\.//' | grep -v -P '[^\x00-\xff]')
        return 0
        ;;
    esac
    diff -r "$folder" "$into"
}
check "pack: isoinfo -J -f lists the folder's names" \
    cmp <(cd "$folder" && find . -mindepth 1 | sed 's/^\.//' | latin1 | sort) \
    <(isoinfo -J -f -i "$work/pack/win.iso" | sort)
for reader in isoinfo 7z bsdtar xorriso; do
    check "pack: $reader reads back the folder's names and bytes" extracted $reader
done
check "pack: /iso through quarnel gives quarnel-pack's image" cmp "$work/pack/from-iso.bin" "$work/pack/win.bin"
check "pack: the disc is the Linux build's" cmp "$work/pack/win.iso" "$work/pack/linux.iso"
check "pack: the image is the Linux build's" cmp "$work/pack/win.bin" "$work/pack/linux.bin"

# An absolute path, which the C++ library leaves as written: its `.` and `..`
# are resolved before the \\?\ prefix, under which every name is literal.
absolute=$(winepath -w "$work/pack" 2>/dev/null)
check "pack: an absolute path with . and .." sh -c 'cd "$1" && wine "$2" /iso "$3\\.\\folder\\..\\folder" abs.iso &&
    cmp abs.iso win.iso' - "$work/pack" "$windows/quarnel-pack.exe" "$absolute"
absolute=$(winepath -w "$work/windows" 2>/dev/null)
check "convert: absolute paths with . and .." sh -c 'wine "$1" /model:E220 "$2\\.\\five.iso" "$2\\folder\\..\\abs.bin" &&
    cmp "$3/abs.bin" "$3/good.bin"' - "$windows/quarnel.exe" "$absolute" "$work/windows"

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
