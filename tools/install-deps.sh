#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

packages=(cmake make g++ clang googletest libgtest-dev
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  gcc-multilib wine wine64 wine32:i386 xvfb xdotool x11-apps imagemagick
  python3 python3-pytest python3-pytest-xdist clang-format libhamlib-utils python3-hamlib
  python3-markdown-it dpkg-dev systemd groff-base python3-sgp4 python3-numpy
  python3-skyfield python3-ephem)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
