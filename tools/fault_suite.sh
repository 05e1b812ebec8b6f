#!/usr/bin/env bash
# Fault and load suite of the real program under Wine with both simulators (tools/fault_suite.py):
# prints a table of scenario, repetitions, outcome and figures; exits non-zero on any failure.
# Runs in its own harness session.
#   tools/fault_suite.sh [build-dir] [--short] [--only SCENARIO...] [--table FILE]
# build-dir (default: build in the repository, as tools/test.sh makes it) must hold i686/ (or
# $KELMA_E2E_ARCH/) with KelmaRotator.exe, predsim.exe and kelma_probe.exe, and native/ with
# kelma_sim.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$(cd "$1" && pwd)
    shift
fi
export KELMA_BUILD=$build
export KELMA_SIM=${KELMA_SIM:-$build/native/tools/kelma_sim/kelma_sim}

# shellcheck source=../tests/harness/wine-session.sh
source "$repo/tests/harness/wine-session.sh"
workdir=$(mktemp -d "${TMPDIR:-/tmp}/fault-suite.XXXXXX")
trap 'harness_stop; rm -rf "$workdir"' EXIT
harness_start "$workdir" </dev/null
/usr/bin/python3 "$repo/tools/fault_suite.py" "$@" </dev/null
