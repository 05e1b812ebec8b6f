#!/usr/bin/env bash
# Serial link figures under Wine: runs tools/bench/serial_bench.exe with a fresh controller
# simulator in a private harness session and prints what it measured.
#   tools/bench/serial_bench.sh [build-dir] [--changes N] [--seconds S]
#   BENCH=log_bench tools/bench/serial_bench.sh [build-dir] [--appends N]   (the log pane)
# build-dir defaults to build/i686 in the repository (as tools/test.sh makes it); it must hold a
# MinGW build. The simulator is $KELMA_SIM when set, else the one tools/test.sh builds in
# build/native, else it is built from tools/kelma_sim into a scratch folder.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$repo/build/i686}
shift || true
bench="$build/tools/bench/${BENCH:-serial_bench}.exe"
[ -f "$bench" ] || { echo "serial_bench.sh: $bench not built" >&2; exit 2; }

workdir=$(mktemp -d "${TMPDIR:-/tmp}/serial-bench.XXXXXX")
test_command_sim=$repo/build/native/tools/kelma_sim/kelma_sim
[ -z "${KELMA_SIM:-}" ] && [ -x "$test_command_sim" ] && KELMA_SIM=$test_command_sim
if [ -z "${KELMA_SIM:-}" ]; then
    cmake -S "$repo/tools/kelma_sim" -B "$workdir/sim" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$workdir/sim" --target kelma_sim >/dev/null
    KELMA_SIM="$workdir/sim/kelma_sim"
fi
export KELMA_SIM

# shellcheck source=/dev/null
source "$repo/tests/harness/wine-session.sh"
trap 'harness_stop; rm -rf "$workdir"' EXIT
harness_start "$workdir/session"
WINE_RUN_TIMEOUT=${WINE_RUN_TIMEOUT:-900} "$repo/tests/harness/wine-run.sh" "$bench" "$@"
