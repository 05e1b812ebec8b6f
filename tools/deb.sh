#!/usr/bin/env bash
# Builds the Debian package of kelmarotd for this machine (Debian 12, Raspberry Pi OS; the
# architecture is dpkg's): dist/kelmarotd_<version>_<arch>.deb with /usr/bin/kelmarotd and
# /usr/bin/kelmatrack (release builds, no tests, no sanitizers), their manual pages, the systemd service and its settings
# file /etc/default/kelmarotd. Two runs from the same commit give the same bytes: no build paths
# in the program, every file's time SOURCE_DATE_EPOCH (the last commit's), owner root, fixed
# modes, single-threaded compression.
#   bash tools/deb.sh                prints the package's path last
#   KELMA_DEB_BUILD=<dir>            build folder (default build/release-deb)
#   KELMA_DIST=<dir>                 output folder (default dist)
# It needs cmake, g++ and dpkg-dev, nothing else of tools/install-deps.sh.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_DEB_BUILD:-$repo/build/release-deb}
dist=${KELMA_DIST:-$repo/dist}

for tool in cmake g++ dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null; then
        echo "deb.sh: $tool is missing (sudo apt install cmake g++ dpkg-dev)" >&2
        exit 1
    fi
done
arch=$(dpkg --print-architecture)
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null ||
    echo 315532800)}
export SOURCE_DATE_EPOCH

mkdir -p "$build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_BUILD_TESTS=OFF \
    -DKELMA_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$repo=. -ffile-prefix-map=$build=build" \
    >"$build/configure.log"
cmake --build "$build" -j "$(nproc)" --target kelmarotd kelmatrack >"$build/build.log"
version=$(cat "$build/version.txt")

# dpkg-shlibdeps looks for the program in debian/<package>/ beside an (empty) debian/control.
root=$build/debian/kelmarotd
rm -rf "$build/debian"
mkdir -p "$root/DEBIAN"
touch "$build/debian/control"
install -D -m 0755 -s "$build/kelmarotd/kelmarotd" "$root/usr/bin/kelmarotd"
install -D -m 0644 "$repo/packaging/kelmarotd.service" "$root/lib/systemd/system/kelmarotd.service"
install -D -m 0644 "$repo/packaging/kelmarotd.default" "$root/etc/default/kelmarotd"
mkdir -p "$root/usr/share/man/man1" "$root/usr/share/doc/kelmarotd"
gzip -9n <"$repo/packaging/kelmarotd.1" >"$root/usr/share/man/man1/kelmarotd.1.gz"
# kelmatrack beside it: the same libraries, so kelmarotd's Depends covers it.
install -D -m 0755 -s "$build/kelmatrack/kelmatrack" "$root/usr/bin/kelmatrack"
gzip -9n <"$repo/packaging/kelmatrack.1" >"$root/usr/share/man/man1/kelmatrack.1.gz"
{
    printf '%s\n' "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
        "Upstream-Name: KelmaRotator" "" "Files: *" \
        "Copyright: $(sed -n 's/^Copyright (c) //p' "$repo/LICENSE")" "License: Expat"
    sed -e 's/^$/./' -e 's/^/ /' "$repo/LICENSE"
} >"$root/usr/share/doc/kelmarotd/copyright"

depends=$(cd "$build" && dpkg-shlibdeps -O -e"$root/usr/bin/kelmarotd" | sed 's/^shlibs:Depends=//')
# As dpkg-gencontrol counts it: KiB per file, rounded up, and one per folder.
installed_size=$(cd "$root" && find . -path ./DEBIAN -prune -o -printf '%y %s\n' |
    awk '{ total += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print total }')
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" \
    -e "s/@INSTALLED_SIZE@/$installed_size/" "$repo/packaging/debian/control.in" \
    >"$root/DEBIAN/control"
install -m 0644 "$repo/packaging/debian/conffiles" "$root/DEBIAN/"
install -m 0755 "$repo/packaging/debian/postinst" "$repo/packaging/debian/prerm" \
    "$repo/packaging/debian/postrm" "$root/DEBIAN/"
(cd "$root" && find usr lib -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
chmod 0644 "$root/DEBIAN/md5sums"

find "$root" -type d -exec chmod 0755 {} +
find "$root" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
mkdir -p "$dist"
deb=$dist/kelmarotd_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$deb" >/dev/null
echo "$deb"
