#!/usr/bin/env bash
# Side-by-side benchmark (tools/bench/peer_bench.py): Hamlib's rotctld on a pseudo-terminal against
# the real program under Wine, and Wine's own floor, back to back in one run, in the end-to-end
# benchmark's harness session. Installs rotctld (Debian libhamlib-utils) when it is missing.
# Prints figures and the ratios; asserts nothing. The session keeps Wine's visual theme on, as a
# prefix Wine makes has it; HARNESS_NO_THEME=1 measures with the theme off.
#   tools/bench/peer_bench.sh [build-dir] [--updates N] [--interval S] [--pass-seconds S]
#                             [--idle-seconds S]
# build-dir (default: build in the repository, as tools/test.sh makes it) must hold i686/ (or
# x86_64/ with KELMA_E2E_ARCH=x86_64) with KelmaRotator.exe, predsim.exe, kelma_probe.exe and
# tools/bench/comm_floor.exe, and native/ with kelma_sim.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if ! command -v rotctld >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y -qq --no-install-recommends libhamlib-utils >/dev/null
fi
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs);" \
    "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
bash "$here/../in_wine_session.sh" "$here/peer_bench.py" "$@"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
