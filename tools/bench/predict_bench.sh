#!/usr/bin/env bash
# The prediction library's speed on one core: builds it natively without sanitizers, optimised,
# as the programs run it, then prints looks per second (SGP4 with and without the station's
# view) and the time of a 7-day pass search for 100 low-orbit satellites (sky_bench.cpp).
#   tools/bench/predict_bench.sh [build-dir]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$repo/build/bench}
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_SANITIZE=OFF \
    -DKELMA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target sky_bench -j "$(nproc)" >/dev/null
echo "machine: $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/tools/bench/sky_bench"
