#!/usr/bin/env bash
# Demo: KelmaRotator.exe tracks a simulated satellite pass under Wine, fed by the prediction-server
# simulator over DDE and driving the KELMA controller simulator over a simulated COM port.
# On a fresh Debian 12 machine it installs what it needs and builds first. The window opens on
# your display when DISPLAY is set, else on a private virtual display; either way it prints a live
# summary once a second and saves screenshots of the window in build/demo/. It ends by itself
# after the pass; Ctrl-C stops it early. Either way it ends every process it started.
#   bash tools/demo.sh [--seconds N]     (default: a 60-second pass)
#   bash tools/demo.sh --source orbitron (or satpc32): the simulator plays that tracking program
#                                        and kelmafeed relays it to the window
#   bash tools/demo.sh --source sky      kelmafeed's own prediction: a real pass across north,
#                                        planned over the top, its sky clock sped up to --seconds
#   bash tools/demo.sh --source orbitron --console
#                                        kelmafeed in a console window of its own, as Orbitron
#                                        starts it, with screenshots of that console too
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_BUILD_DIR:-$repo/build}
jobs=$(nproc)
mkdir -p "$build"

echo "=== Installing packages (only what is missing) ==="
bash "$repo/tools/install-deps.sh"

# shellcheck source=../tests/harness/wine-session.sh
source "$repo/tests/harness/wine-session.sh"
# Kernels built without 32-bit programs run only Wine's 64-bit loader and the 64-bit build.
arch=i686
if ! harness_runs_32bit; then
    arch=x86_64
    export WINE=/usr/lib/wine/wine64 KELMA_E2E_ARCH=x86_64
fi

echo "=== Building the program and the simulators ($arch) ==="
# The same configurations as tools/test.sh, so the two share their build folders.
cmake -S "$repo" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >"$build/native-configure.log"
cmake --build "$build/native" -j "$jobs" --target kelma_sim >"$build/demo-build.log"
cmake -S "$repo" -B "$build/$arch" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$arch.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/tests/harness/wine-run.sh" >"$build/$arch-configure.log"
cmake --build "$build/$arch" -j "$jobs" --target KelmaRotator predsim kelmafeed kelma_probe \
    >>"$build/demo-build.log"

echo "=== Starting Wine (private prefix; serial devices of this machine hidden) ==="
if [ -n "${DISPLAY:-}" ]; then
    export HARNESS_USE_DISPLAY=$DISPLAY
fi
trap harness_stop EXIT
# Ctrl-C: the driver ends its processes; then the session ends here.
trap 'exit 130' INT TERM
harness_start "$build/wine" </dev/null
export KELMA_BUILD=$build
export KELMA_SIM=$build/native/tools/kelma_sim/kelma_sim

echo "=== Demo ==="
/usr/bin/python3 "$repo/tests/e2e/demo_run.py" --shots "$build/demo" "$@" </dev/null
