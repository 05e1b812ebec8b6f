#!/usr/bin/env bash
# kelmarotd beside Hamlib's rotctld (tools/bench/kelmarotd_bench.py): builds kelmarotd natively
# without sanitizers, as a station would run it, then prints the side-by-side table.
#   tools/bench/kelmarotd_bench.sh [build-dir] [--samples N] [--idle-seconds S] [--pass-seconds S]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$repo/build/bench
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$1
    shift
fi
command -v rotctld >/dev/null || { echo "rotctld missing: apt-get install libhamlib-utils" >&2; exit 2; }
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_SANITIZE=OFF \
    -DKELMA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target kelmarotd -j "$(nproc)" >/dev/null
/usr/bin/python3 "$repo/tools/bench/kelmarotd_bench.py" "$build/kelmarotd/kelmarotd" "$@"
