#!/usr/bin/env bash
# The planner's figures (tools/bench/plan_bench.cpp): builds it natively without sanitizers and
# runs it on the committed week of element sets.
#   tools/bench/plan_bench.sh [build-dir] [START_UTC [DAYS]]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$repo/build/bench
if [ $# -gt 0 ] && [ -d "$1" -o "${1#/}" != "$1" ]; then
    build=$1
    shift
fi
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELMA_SANITIZE=OFF \
    -DKELMA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target plan_bench -j 2 >/dev/null
time "$build/tools/bench/plan_bench" "$repo/tools/bench/data/amateur-2024-02-12.txt" "$@"
