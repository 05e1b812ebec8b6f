#!/usr/bin/env bash
# Builds the serial-hiding preload library for 32- and 64-bit processes:
#   build-preload.sh <outdir>
# gives <outdir>/lib/i386-linux-gnu/libhideserial.so and <outdir>/lib/x86_64-linux-gnu/...,
# the directories the dynamic loader substitutes for $LIB on Debian, so that
# LD_PRELOAD='<outdir>/$LIB/libhideserial.so' picks the right one for each Wine process.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:?usage: build-preload.sh <outdir>}
cflags=(-std=gnu11 -O2 -Wall -Wextra -Werror -shared -fPIC -fvisibility=hidden)
# The kernel's x86 headers serve 32- and 64-bit builds alike; -m32 finds them only through
# gcc-multilib's /usr/include/asm, a package that Debian's cross compilers cannot be installed beside.
for arch in "32 i386-linux-gnu -idirafter /usr/include/x86_64-linux-gnu" "64 x86_64-linux-gnu"; do
  set -- $arch
  mkdir -p "$out/lib/$2"
  gcc -m"$1" "${cflags[@]}" "${@:3}" -o "$out/lib/$2/libhideserial.so.tmp" "$here/hide_serial.c" -ldl
  mv -f "$out/lib/$2/libhideserial.so.tmp" "$out/lib/$2/libhideserial.so"
done
