#!/bin/sh
# Builds the Debian package from an installed build tree, as the deb target
# runs it: quarnel_<version>_<architecture>.deb in the build directory.
# Usage: debian-package.sh SOURCE_DIR BUILD_DIR UPSTREAM_VERSION ARCHITECTURE STRIP
#
# What Debian's own tools would do, by hand: binaries stripped as dh_strip
# strips them, the changelog gzipped beside the copyright, lintian's overrides
# (docs/debian/lintian-overrides), control fields from docs/debian/control,
# Depends from dpkg-shlibdeps, md5sums; every file owned by root, with fixed
# permissions and no time later than SOURCE_DATE_EPOCH (the last commit's time
# by default), so that the same sources give the same bytes.
set -eu

source_dir=$1
build_dir=$2
upstream_version=$3
architecture=$4
strip=$5

[ -n "$architecture" ] || { echo "debian-package.sh: no Debian architecture known (dpkg is missing?)" >&2; exit 1; }
version=$(dpkg-parsechangelog -l "$source_dir/docs/debian/changelog" -S Version)
case $version in
"$upstream_version"-*) ;;
*)
    echo "debian-package.sh: docs/debian/changelog is at $version, the project at $upstream_version" >&2
    exit 1
    ;;
esac
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

work=$build_dir/debian-package
rm -rf "$work"
root=$work/root
DESTDIR=$root cmake --install "$build_dir" --prefix /usr >/dev/null
doc=$root/usr/share/doc/quarnel
gzip -9nc "$source_dir/docs/debian/changelog" >"$doc/changelog.Debian.gz"
mkdir -p "$root/usr/share/lintian/overrides"
cp "$source_dir/docs/debian/lintian-overrides" "$root/usr/share/lintian/overrides/quarnel"
for program in "$root"/usr/bin/*; do
    "$strip" --remove-section=.comment --remove-section=.note --strip-unneeded "$program"
done

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root"/usr/bin/*

# dpkg-shlibdeps reads the package's name from a source package's control file.
mkdir -p "$work/debian"
printf 'Source: quarnel\n\nPackage: quarnel\nArchitecture: any\n' >"$work/debian/control"
depends=$(cd "$work" && DEB_HOST_ARCH=$architecture dpkg-shlibdeps -O root/usr/bin/* 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "debian-package.sh: dpkg-shlibdeps found no dependency" >&2; exit 1; }

# Installed-Size in KiB, as dpkg-gencontrol counts it: each file rounded up, one for each directory.
installed_size=$(find "$root" -mindepth 1 \( -type d -printf '1024\n' \) -o \( -type f -printf '%s\n' \) |
    awk '{ total += int(($1 + 1023) / 1024) } END { print total }')

mkdir -p "$root/DEBIAN"
{
    sed -n '/^Description:/q; p' "$source_dir/docs/debian/control"
    printf 'Version: %s\nArchitecture: %s\nInstalled-Size: %s\nDepends: %s\n' \
        "$version" "$architecture" "$installed_size" "$depends"
    sed -n '/^Description:/,$p' "$source_dir/docs/debian/control"
} >"$root/DEBIAN/control"
(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$root/DEBIAN/md5sums"
chmod 0755 "$root/DEBIAN"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

deb=$build_dir/quarnel_${version}_$architecture.deb
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$deb" >/dev/null
echo "$deb"
