#!/usr/bin/env bash
# Builds the shipped Windows programs (KelmaRotator.exe, predsim.exe, kelma_sim.exe,
# kelmarotd.exe, kelmafeed.exe, kelmatrack.exe) for 32-bit Windows, stripped, and packs them with the operator
# guide (Markdown and HTML), the licence and SHA256SUMS into dist/KelmaRotator-<version>-win32.zip;
# then the Debian packages of kelmarotd beside it (tools/deb.sh): for this machine, and on amd64
# for the Raspberry Pi's arm64 and armhf too. Two runs from the same commit give the same bytes:
# the programs carry no time stamps and no build paths, and the zip's entries have fixed times
# (the last commit's), order and permissions. It needs neither Wine nor 32-bit packages.
#   bash tools/release.sh            prints the packages' paths, then the zip's path last
#   KELMA_RELEASE_BUILD=<dir>        build folder (default build/release-<arch>)
#   KELMA_DIST=<dir>                 output folder (default dist)
#   KELMA_RELEASE_ARCH=x86_64        a 64-bit zip instead (…-win64.zip)
#   KELMA_RELEASE_DEB=no             the zip only
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=${KELMA_RELEASE_ARCH:-i686}
case "$arch" in
    i686) bits=32 ;;
    x86_64) bits=64 ;;
    *) echo "release.sh: KELMA_RELEASE_ARCH is i686 or x86_64" >&2; exit 2 ;;
esac
build=${KELMA_RELEASE_BUILD:-$repo/build/release-$arch}
dist=${KELMA_DIST:-$repo/dist}
max_program_bytes=$((400 * 1024))
# The shipped programs, each as its CMake target and the build folder that holds it.
shipped=(KelmaRotator:. predsim:tools/predsim kelma_sim:tools/kelma_sim kelmarotd:kelmarotd
         kelmafeed:feed kelmatrack:kelmatrack)
targets=("${shipped[@]%%:*}")
programs=("${targets[@]/%/.exe}")
documents=(operator-guide.md operator-guide.html LICENSE)

bash "$repo/tools/install-deps.sh" release >&2

# The zip's entry times; 1980-01-01, the earliest a zip holds, outside a git checkout.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null ||
    echo 315532800)}
export SOURCE_DATE_EPOCH

mkdir -p "$build"
# -s strips the symbols; --no-insert-timestamp leaves the PE time stamp 0; the prefix maps keep
# the source and build folders' paths out of the programs.
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$arch.cmake" \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$repo=. -ffile-prefix-map=$build=build" \
    -DCMAKE_EXE_LINKER_FLAGS="-s -Wl,--no-insert-timestamp" >"$build/configure.log"
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >"$build/build.log"

version=$(cat "$build/version.txt")
name=KelmaRotator-$version-win$bits
stage=$build/package/$name
rm -rf "$build/package"
mkdir -p "$stage" "$dist"
for entry in "${shipped[@]}"; do
    cp "$build/${entry#*:}/${entry%%:*}.exe" "$stage/"
done
cp "$repo/docs/operator-guide.md" "$repo/LICENSE" "$stage/"
/usr/bin/python3 "$repo/tools/release_guide.py" "$repo/docs/operator-guide.md" \
    "$stage/operator-guide.html"

size=$(stat -c %s "$stage/KelmaRotator.exe")
if [ "$size" -ge "$max_program_bytes" ]; then
    echo "release.sh: KelmaRotator.exe is $size bytes, over $max_program_bytes" >&2
    exit 1
fi
(cd "$stage" && sha256sum "${programs[@]}" "${documents[@]}" >SHA256SUMS)
/usr/bin/python3 "$repo/tools/release_zip.py" "$dist/$name.zip" "$stage" \
    "${programs[@]}" "${documents[@]}" SHA256SUMS
if [ "${KELMA_RELEASE_DEB:-yes}" != no ]; then
    deb_archs=("$(dpkg --print-architecture)")
    [ "${deb_archs[0]}" = amd64 ] && deb_archs+=(arm64 armhf)
    KELMA_DIST=$dist bash "$repo/tools/deb.sh" "${deb_archs[@]}"
fi
echo "$dist/$name.zip"
