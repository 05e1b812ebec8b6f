#!/usr/bin/env bash
# Installs what the scripts need on a Debian 12 machine (Raspberry Pi OS too), without the
# packages' recommendations. Safe to run again: it only installs what is missing.
#   bash tools/install-deps.sh            the build, the tests and the demo (tools/test.sh)
#   bash tools/install-deps.sh release    the release packages only (tools/release.sh)
# Wine's 32-bit half, 32-bit builds and the Raspberry Pi's cross compilers are for amd64 machines;
# elsewhere (a Pi) only what runs there is asked for.
set -euo pipefail

purpose=${1:-test}
arch=$(dpkg --print-architecture)

# tools/release.sh: the Windows programs' zip and the Debian packages of kelmarotd.
packages=(cmake make g++ dpkg-dev mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  python3 python3-markdown-it)
[ "$arch" = amd64 ] && packages+=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf)
case "$purpose" in
  release) ;;
  test)
    packages+=(clang googletest libgtest-dev wine wine64 xvfb xdotool x11-apps imagemagick
      python3-pytest python3-pytest-xdist clang-format libhamlib-utils python3-hamlib systemd
      groff-base python3-sgp4 python3-numpy python3-skyfield python3-ephem)
    # gcc-12-multilib rather than gcc-multilib, which Debian's cross compilers conflict with;
    # qemu-user runs the Pi's packages (called directly: no binfmt registration needed).
    [ "$arch" = amd64 ] && packages+=(gcc-12-multilib wine32:i386 qemu-user)
    ;;
  *)
    echo "install-deps.sh: release or test (the default), not $purpose" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
