#!/usr/bin/env bash
# End-to-end benchmark of the real program under Wine (tools/bench/e2e_bench.py): tracking
# latency over 600 updates, then CPU time and peak memory of the program's process during a
# 10-minute simulated pass. Runs in its own harness session; prints figures, asserts nothing.
#   tools/bench/e2e_bench.sh [build-dir] [--updates N] [--interval S] [--pass-seconds S]
# build-dir (default: build in the repository, as tools/test.sh makes it) must hold i686/ with
# KelmaRotator.exe, predsim.exe and kelma_probe.exe, and native/ with kelma_sim.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec bash "$here/../in_wine_session.sh" "$here/e2e_bench.py" "$@"
