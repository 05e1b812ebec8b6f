#!/usr/bin/env bash
# End-to-end check of the harness on its own: builds the simulator and the serial smoke test
# (32- and 64-bit), starts a Wine session in <workdir> and runs both through wine-run.sh.
#   tests/harness/smoke.sh [workdir]      (default /tmp/kelma-harness-smoke)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
work=${1:-/tmp/kelma-harness-smoke}
mkdir -p "$work"
cmake -S "$top/tools/kelma_sim" -B "$work/build-sim" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build-sim" --target kelma_sim -j2 >/dev/null
for arch in i686 x86_64; do
  "$arch-w64-mingw32-g++-posix" -std=c++17 -O1 -Wall -Wextra -I"$top" -static \
    -o "$work/serial_smoke_$arch.exe" "$here/serial_smoke.cpp" \
    "$top/tests/win/support/sim_client.cpp" -lws2_32
done
# shellcheck source=wine-session.sh
source "$here/wine-session.sh"
harness_start "$work"
trap harness_stop EXIT
export KELMA_SIM="$work/build-sim/kelma_sim"
status=0
for arch in i686 x86_64; do
  "$here/wine-run.sh" "$work/serial_smoke_$arch.exe" || status=1
done
exit $status
