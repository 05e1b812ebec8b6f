#!/usr/bin/env bash
# The latency kelmafeed adds between a tracking program and the window (tools/bench/feed_bench.py):
# a ramp of positions fed directly by the prediction-server simulator, then by the simulator
# playing Orbitron through kelmafeed. Runs in its own harness session; prints figures, asserts
# nothing.
#   tools/bench/feed_bench.sh [build-dir] [--updates N] [--interval S]
# build-dir (default: build in the repository, as tools/test.sh makes it) must hold i686/ with
# KelmaRotator.exe, predsim.exe, kelmafeed.exe and kelma_probe.exe, and native/ with kelma_sim.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec bash "$here/../in_wine_session.sh" "$here/feed_bench.py" "$@"
