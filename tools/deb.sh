#!/usr/bin/env bash
# Builds the Debian packages of kelmarotd: dist/kelmarotd_<version>_<arch>.deb with
# /usr/bin/kelmarotd and /usr/bin/kelmatrack (release builds, no tests, no sanitizers), their
# manual pages, the systemd service and its settings file /etc/default/kelmarotd. It builds for this machine (Debian 12,
# Raspberry Pi OS; the architecture is dpkg's) with its own g++, and for the Raspberry Pi's arm64
# and armhf with Debian's cross compilers (cmake/linux-<arch>.cmake). Two runs from the same
# commit give the same bytes: no build paths in the program, every file's time SOURCE_DATE_EPOCH
# (the last commit's), owner root, fixed modes, single-threaded compression.
#   bash tools/deb.sh [ARCH...]      default: this machine's; prints each package's path
#   KELMA_DEB_BUILD=<dir>            build folders, one per architecture (default build/release-deb)
#   KELMA_DIST=<dir>                 output folder (default dist)
# It needs cmake, g++ and dpkg-dev (and g++-<triplet> for another architecture), nothing of Wine
# or MinGW.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builds=${KELMA_DEB_BUILD:-$repo/build/release-deb}
dist=${KELMA_DIST:-$repo/dist}
native=$(dpkg --print-architecture)
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=("$native")

need() {
    if ! command -v "$1" >/dev/null; then
        echo "deb.sh: $1 is missing (sudo apt install $2)" >&2
        exit 1
    fi
}
for tool in cmake:cmake g++:g++ dpkg-deb:dpkg-dev dpkg-shlibdeps:dpkg-dev; do
    need "${tool%%:*}" "${tool#*:}"
done
for arch in "${archs[@]}"; do
    [ "$arch" = "$native" ] && continue
    if [ ! -f "$repo/cmake/linux-$arch.cmake" ]; then
        echo "deb.sh: no cross build for $arch here (cmake/linux-*.cmake)" >&2
        exit 2
    fi
    triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
    need "$triplet-g++" "g++-$triplet"
done
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null ||
    echo 315532800)}
export SOURCE_DATE_EPOCH

# Configures and builds kelmarotd and kelmatrack for $arch in $build.
build_program() {
    local cross=()
    [ "$arch" = "$native" ] || cross=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/linux-$arch.cmake")
    mkdir -p "$build"
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_BUILD_TESTS=OFF \
        -DKELMA_SANITIZE=OFF "${cross[@]}" \
        -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$repo=. -ffile-prefix-map=$build=build" \
        >"$build/configure.log"
    cmake --build "$build" -j "$(nproc)" --target kelmarotd kelmatrack >"$build/build.log"
}

# The Depends field. dpkg-shlibdeps looks for the program in debian/<package>/ beside an (empty)
# debian/control. Debian's cross libraries live in /usr/<triplet>/lib and name themselves in their
# shlibs as "libc6:arm64" or "libgcc-s1-arm64-cross": the Pi's own packages are the plain names.
depends() {
    local found
    if [ "$arch" = "$native" ]; then
        found=$(cd "$build" && dpkg-shlibdeps -O -e"$root/usr/bin/kelmarotd" \
            -e"$root/usr/bin/kelmatrack")
    else
        found=$(cd "$build" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O -l"/usr/$triplet/lib" \
            -e"$root/usr/bin/kelmarotd" -e"$root/usr/bin/kelmatrack")
    fi
    sed -e 's/^shlibs:Depends=//' -e "s/-$arch-cross\b//g" -e "s/:$arch\b//g" <<<"$found"
}

# Lays out the package's files in $root and writes its control files.
stage_package() {
    local strip=strip
    [ "$arch" = "$native" ] || strip=$triplet-strip
    rm -rf "$build/debian"
    mkdir -p "$root/DEBIAN"
    touch "$build/debian/control"
    install -D -m 0755 -s --strip-program="$strip" "$build/kelmarotd/kelmarotd" \
        "$root/usr/bin/kelmarotd"
    install -D -m 0644 "$repo/packaging/kelmarotd.service" \
        "$root/lib/systemd/system/kelmarotd.service"
    install -D -m 0644 "$repo/packaging/kelmarotd.default" "$root/etc/default/kelmarotd"
    mkdir -p "$root/usr/share/man/man1" "$root/usr/share/doc/kelmarotd"
    gzip -9n <"$repo/packaging/kelmarotd.1" >"$root/usr/share/man/man1/kelmarotd.1.gz"
    install -D -m 0755 -s --strip-program="$strip" "$build/kelmatrack/kelmatrack" \
        "$root/usr/bin/kelmatrack"
    gzip -9n <"$repo/packaging/kelmatrack.1" >"$root/usr/share/man/man1/kelmatrack.1.gz"
    {
        printf '%s\n' "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
            "Upstream-Name: KelmaRotator" "" "Files: *" \
            "Copyright: $(sed -n 's/^Copyright (c) //p' "$repo/LICENSE")" "License: Expat"
        sed -e 's/^$/./' -e 's/^/ /' "$repo/LICENSE"
    } >"$root/usr/share/doc/kelmarotd/copyright"

    # As dpkg-gencontrol counts it: KiB per file, rounded up, and one per folder.
    local installed_size
    installed_size=$(cd "$root" && find . -path ./DEBIAN -prune -o -printf '%y %s\n' |
        awk '{ total += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print total }')
    sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$(depends)/" \
        -e "s/@INSTALLED_SIZE@/$installed_size/" "$repo/packaging/debian/control.in" \
        >"$root/DEBIAN/control"
    install -m 0644 "$repo/packaging/debian/conffiles" "$root/DEBIAN/"
    install -m 0755 "$repo/packaging/debian/postinst" "$repo/packaging/debian/prerm" \
        "$repo/packaging/debian/postrm" "$root/DEBIAN/"
    (cd "$root" && find usr lib -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
    chmod 0644 "$root/DEBIAN/md5sums"
    find "$root" -type d -exec chmod 0755 {} +
    find "$root" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +
}

mkdir -p "$dist"
for arch in "${archs[@]}"; do
    build=$builds/$arch
    triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
    root=$build/debian/kelmarotd
    build_program
    version=$(cat "$build/version.txt")
    stage_package
    deb=$dist/kelmarotd_${version}_${arch}.deb
    dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$deb" >/dev/null
    echo "$deb"
done
