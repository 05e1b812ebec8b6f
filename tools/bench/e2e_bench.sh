#!/usr/bin/env bash
# End-to-end benchmark of the real program under Wine (tools/bench/e2e_bench.py): tracking
# latency over 600 updates, then CPU time and peak memory of the program's process during a
# 10-minute simulated pass. Runs in its own harness session; prints figures, asserts nothing.
#   tools/bench/e2e_bench.sh [build-dir] [--updates N] [--interval S] [--pass-seconds S]
# (KELMA_E2E_BENCH=peer_bench runs peer_bench.py in the same way: see peer_bench.sh)
# build-dir (default: build in the repository, as tools/test.sh makes it) must hold i686/ with
# KelmaRotator.exe, predsim.exe and kelma_probe.exe, and native/ with kelma_sim.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$repo/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$(cd "$1" && pwd)
    shift
fi
export KELMA_BUILD=$build
export KELMA_SIM=${KELMA_SIM:-$build/native/tools/kelma_sim/kelma_sim}

# shellcheck source=../../tests/harness/wine-session.sh
source "$repo/tests/harness/wine-session.sh"
workdir=$(mktemp -d "${TMPDIR:-/tmp}/e2e-bench.XXXXXX")
trap 'harness_stop; rm -rf "$workdir"' EXIT
harness_start "$workdir" </dev/null
/usr/bin/python3 "$repo/tools/bench/${KELMA_E2E_BENCH:-e2e_bench}.py" "$@" </dev/null
