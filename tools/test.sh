#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests and fuzz replays (ASan/UBSan), the
# Windows tests under Wine (i686, the shipped build; x86_64 too), and the end-to-end tests of
# the real program with both simulators. Installs what it needs on a fresh Debian 12 machine.
#   bash tools/test.sh            everything
#   KELMA_SKIP_X64_TESTS=1 ...    build x86_64 but run its Windows tests only in part
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_BUILD_DIR:-$repo/build}
jobs=$(nproc)
mkdir -p "$build"

step() { printf '\n=== %s ===\n' "$*"; }
results=()
record() { results+=("$1: $2"); }

step "Installing packages"
bash "$repo/tools/install-deps.sh"

step "Native build and tests (ASan/UBSan)"
cmake -S "$repo" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >"$build/native-configure.log"
cmake --build "$build/native" -j "$jobs"
native_ok=pass
ctest --test-dir "$build/native" --output-on-failure -j "$jobs" || native_ok=FAIL
record native "$native_ok"

for arch in i686 x86_64; do
  step "Windows build ($arch)"
  cmake -S "$repo" -B "$build/$arch" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$arch.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/tests/harness/wine-run.sh" >"$build/$arch-configure.log"
  cmake --build "$build/$arch" -j "$jobs"
done

step "Wine session"
source "$repo/tests/harness/wine-session.sh"
harness_start "$build/wine" </dev/null
trap harness_stop EXIT
export KELMA_SIM="$build/native/tools/kelma_sim/kelma_sim"
export KELMA_BUILD="$build"

step "Windows tests under Wine (i686)"
wine_ok=pass
ctest --test-dir "$build/i686" --output-on-failure -L wine </dev/null || wine_ok=FAIL
record "wine i686" "$wine_ok"

step "Windows tests under Wine (x86_64)"
x64_filter=()
[ -n "${KELMA_SKIP_X64_TESTS:-}" ] && x64_filter=(-R 'framework_test|program_test|serial_smoke')
x64_ok=pass
ctest --test-dir "$build/x86_64" --output-on-failure -L wine "${x64_filter[@]}" </dev/null ||
  x64_ok=FAIL
record "wine x86_64" "$x64_ok"

if [ -d "$repo/tests/e2e" ] && ls "$repo"/tests/e2e/test_*.py >/dev/null 2>&1; then
  step "End-to-end tests of the real program (i686)"
  e2e_ok=pass
  (cd "$repo" && /usr/bin/python3 -m pytest -q tests/e2e </dev/null) || e2e_ok=FAIL
  record "end-to-end" "$e2e_ok"
fi

# --- Release package: built once; its contents checked and the program from it started. ---
step "Release package"
release_ok=pass
release_zip=$(KELMA_RELEASE_BUILD="$build/release-i686" KELMA_DIST="$build/dist" \
  bash "$repo/tools/release.sh" </dev/null | tail -n 1) || release_ok=FAIL
if [ "$release_ok" = pass ]; then
  (cd "$repo" && KELMA_RELEASE_ZIP=$release_zip \
    /usr/bin/python3 -m pytest -q tests/e2e/test_release.py </dev/null) || release_ok=FAIL
fi
record "release package" "$release_ok"

step "Summary"
failed=0
passed=0
for r in "${results[@]}"; do
  echo "  $r"
  case "$r" in *FAIL) failed=$((failed + 1)) ;; *) passed=$((passed + 1)) ;; esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
