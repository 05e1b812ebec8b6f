#!/usr/bin/env bash
# Builds the serial-hiding preload library and its test for 32 and 64 bits and runs the test
# with the library preloaded through the same '$LIB' path the Wine session uses.
#   test-hide-serial.sh [builddir]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$(mktemp -d /tmp/hide-serial-test.XXXXXX)}
"$here/build-preload.sh" "$build/preload"
status=0
# shellcheck source=wine-session.sh
source "$here/wine-session.sh"
for bits in 32 64; do
  if [ "$bits" = 32 ] && ! harness_runs_32bit; then
    echo "32-bit: skipped, this machine cannot run 32-bit programs"
    continue
  fi
  extra=()
  # Same flags as Debian's 32-bit Wine: calls go to __ioctl_time64, __stat64_time64, open64...
  # The kernel's headers as build-preload.sh finds them for -m32.
  [ "$bits" = 32 ] &&
    extra=(-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -idirafter /usr/include/x86_64-linux-gnu)
  gcc -m"$bits" -std=gnu11 -O1 -Wall -Wextra -Werror "${extra[@]}" \
    -o "$build/hide_serial_test$bits" "$here/hide_serial_test.c" -ldl
  scratch=$(mktemp -d "$build/scratch$bits.XXXXXX")
  # The guard: without the library the test must stop before touching anything.
  if "$build/hide_serial_test$bits" "$scratch" 2>/dev/null; then
    echo "FAIL: $bits-bit test ran without the library"; status=1
  fi
  env LD_PRELOAD="$build/preload/\$LIB/libhideserial.so" HIDE_SERIAL_ALSO="$scratch/decoy" \
    "$build/hide_serial_test$bits" "$scratch" || status=1
done
exit $status
