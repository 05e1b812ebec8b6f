#!/usr/bin/env bash
# Remakes the operator guide's picture of a north crossing, docs/north-crossing.svg
# (tools/sky_plot.py): builds tools/bench/pass_paths natively without sanitizers, as the
# benchmarks are, and draws the pass it works out.
#   bash tools/sky_plot.sh [build-dir]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build/bench}
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_SANITIZE=OFF \
    -DKELMA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target pass_paths -j 2 >/dev/null
/usr/bin/python3 "$repo/tools/sky_plot.py" "$build/tools/bench/pass_paths" \
    "$repo/docs/north-crossing.svg"
echo "docs/north-crossing.svg"
