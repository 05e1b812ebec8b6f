#!/usr/bin/env bash
# Runs one of the end-to-end Python tools (benchmark, fault suite) in a harness session of its
# own, against a build made by tools/test.sh.
#   tools/in_wine_session.sh <tool.py> [build-dir] [tool options...]
# build-dir (default: build in the repository) must hold i686/ (or $KELMA_E2E_ARCH/) with
# KelmaRotator.exe, predsim.exe and kelma_probe.exe, and native/ with kelma_sim.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=${1:?usage: in_wine_session.sh <tool.py> [build-dir] [options...]}
shift
build=$repo/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$(cd "$1" && pwd)
    shift
fi
export KELMA_BUILD=$build
export KELMA_SIM=${KELMA_SIM:-$build/native/tools/kelma_sim/kelma_sim}

# shellcheck source=../tests/harness/wine-session.sh
source "$repo/tests/harness/wine-session.sh"
workdir=$(mktemp -d "${TMPDIR:-/tmp}/$(basename "$tool" .py).XXXXXX")
trap 'harness_stop; rm -rf "$workdir"' EXIT
harness_start "$workdir" </dev/null
/usr/bin/python3 "$tool" "$@" </dev/null
