#!/usr/bin/env bash
# DDE link latency under Wine: runs tools/bench/dde_bench.exe (and the prediction-server
# simulator it starts) in a private harness session and prints its figures.
#   tools/bench/dde_bench.sh [build-dir] [updates] [seconds-between-updates]
# build-dir defaults to build/i686 in the repository (as tools/test.sh makes it); it must hold a
# MinGW build.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$repo/build/i686}
shift || true
bench="$build/tools/bench/dde_bench.exe"
[ -f "$bench" ] || { echo "dde_bench.sh: $bench not built" >&2; exit 2; }

# shellcheck source=/dev/null
source "${DDE_BENCH_SESSION:-$repo/tests/harness/wine-session.sh}"
workdir=$(mktemp -d "${TMPDIR:-/tmp}/dde-bench.XXXXXX")
trap 'harness_stop; rm -rf "$workdir"' EXIT
harness_start "$workdir"
"$WINE" "$bench" "$@" </dev/null
