#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests and fuzz replays (ASan/UBSan), the
# Windows tests under Wine (i686, the shipped build; x86_64 too), and the end-to-end tests of
# the real program with both simulators. Installs what it needs on a fresh Debian 12 machine.
#   bash tools/test.sh            everything
#   KELMA_SKIP_X64_TESTS=1 ...    build x86_64 but run its Windows tests only in part
#   KELMA_WINE_JOBS=N ...         Windows test programs, and end-to-end tests, run N at a time,
#                                 each in its own Wine session (default: the number of processors)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_BUILD_DIR:-$repo/build}
jobs=$(nproc)
wine_jobs=${KELMA_WINE_JOBS:-$jobs}
mkdir -p "$build"

# Each stage's result and duration, for the summary.
results=()
stage_name=
stage_started=0
step() {
  end_stage
  stage_name=$1
  stage_started=$SECONDS
  printf '\n=== %s ===\n' "$*"
}
end_stage() {
  [ -n "$stage_name" ] &&
    durations+=("$(printf '%5d s  %s' $((SECONDS - stage_started)) "$stage_name")")
  stage_name=
}
durations=()
record() { results+=("$1: $2"); }

step "Installing packages"
bash "$repo/tools/install-deps.sh"

step "Native build and tests (ASan/UBSan)"
cmake -S "$repo" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >"$build/native-configure.log"
cmake --build "$build/native" -j "$jobs"
native_ok=pass
ctest --test-dir "$build/native" --output-on-failure -j "$jobs" || native_ok=FAIL
record native "$native_ok"

source "$repo/tests/harness/wine-session.sh"
# Kernels built without 32-bit programs run only Wine's 64-bit loader and 64-bit Windows programs.
runs_32bit=yes
if ! harness_runs_32bit; then
  runs_32bit=
  export WINE=/usr/lib/wine/wine64 KELMA_E2E_ARCH=x86_64
fi

build_windows() {
  cmake -S "$repo" -B "$build/$1" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$1.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/tests/harness/wine-run.sh" >"$build/$1-configure.log" &&
    cmake --build "$build/$1" -j "$jobs"
}
build_release() {
  KELMA_RELEASE_ARCH=$1 KELMA_RELEASE_BUILD="$build/release-$1" KELMA_DIST="$build/dist" \
    bash "$repo/tools/release.sh" </dev/null >"$build/release-$1.log" 2>&1
}
release_archs=(i686)
background_what="release builds"
if [ -z "$runs_32bit" ]; then
  release_archs+=(x86_64)
  background_what="i686 build, release builds"
fi
# The builds no Wine stage needs: the release builds and, where 32-bit programs cannot run, the
# i686 build. Exit status 1: the i686 build failed; 2: a release build failed.
background_builds() {
  local started=$SECONDS arch
  if [ -z "$runs_32bit" ]; then
    build_windows i686 >"$build/i686-build.log" 2>&1 || return 1
  fi
  # The Debian package is built with the first zip only.
  local deb=yes
  for arch in "${release_archs[@]}"; do
    KELMA_RELEASE_DEB=$deb build_release "$arch" || return 2
    deb=no
  done
  echo $((SECONDS - started)) >"$build/background-builds.seconds"
}

if [ -n "$runs_32bit" ]; then
  step "Windows build (i686)"
  build_windows i686
fi
step "Windows build (x86_64)"
build_windows x86_64

# They run beside the Wine stages, which mostly wait, at idle priority (SCHED_IDLE: only
# processor time nothing else wants, so the tests' timing is not disturbed), in a process group
# of their own that ends with this script.
rm -f "$build/background-builds.seconds"
set -m
(chrt --idle --pid 0 "$BASHPID" && background_builds) &
background=$!
set +m
stop_background() {
  harness_stop_pool
  [ -z "$background" ] || kill -- "-$background" 2>/dev/null || true
}
trap stop_background EXIT

step "Wine sessions ($wine_jobs)"
harness_start_pool "$build/wine" "$wine_jobs" </dev/null
export KELMA_SIM="$build/native/tools/kelma_sim/kelma_sim"
export KELMA_BUILD="$build"

step "Windows tests under Wine (i686)"
if [ -z "$runs_32bit" ]; then
  record "wine i686" "skipped (this machine cannot run 32-bit programs)"
else
  wine_ok=pass
  ctest --test-dir "$build/i686" --output-on-failure -L wine -j "$wine_jobs" </dev/null ||
    wine_ok=FAIL
  record "wine i686" "$wine_ok"
fi

step "Windows tests under Wine (x86_64)"
x64_filter=()
[ -n "${KELMA_SKIP_X64_TESTS:-}" ] && x64_filter=(-R 'framework_test|dialog_test|serial_smoke')
x64_ok=pass
ctest --test-dir "$build/x86_64" --output-on-failure -L wine -j "$wine_jobs" "${x64_filter[@]}" \
  </dev/null || x64_ok=FAIL
record "wine x86_64" "$x64_ok"

if [ -d "$repo/tests/e2e" ] && ls "$repo"/tests/e2e/test_*.py >/dev/null 2>&1; then
  step "End-to-end tests of the real program (${KELMA_E2E_ARCH:-i686})"
  e2e_ok=pass
  # One runner per session of the pool (HARNESS_POOL); each claims a session of its own.
  (cd "$repo" && /usr/bin/python3 -m pytest -q -n "$wine_jobs" tests/e2e </dev/null) || e2e_ok=FAIL
  record "end-to-end" "$e2e_ok"
fi

# Built once (above); its contents checked and the program from it started.
step "Release package"
release_zip() { tail -n 1 "$build/release-$1.log"; }
check_release() {
  (cd "$repo" && set -a && source "$HARNESS_POOL/session1.env" && set +a &&
    KELMA_RELEASE_ZIP=$1 /usr/bin/python3 -m pytest -q tests/e2e/test_release.py "${@:2}" </dev/null)
}
release_ok=pass
background_status=0
wait "$background" || background_status=$?
background=
if [ "$background_status" -eq 1 ]; then
  tail -n 50 "$build/i686-build.log"
  record "windows build i686" FAIL
fi
if [ "$background_status" -ne 0 ]; then
  release_ok=FAIL
  cat "$build"/release-*.log 2>/dev/null || true
elif [ -n "$runs_32bit" ]; then
  check_release "$(release_zip i686)" || release_ok=FAIL
else
  # The shipped 32-bit program cannot start here: its package is checked, and the start from a
  # package is shown with the 64-bit one, made the same way.
  check_release "$(release_zip i686)" -k "not starts" || release_ok=FAIL
  check_release "$(release_zip x86_64)" -k starts || release_ok=FAIL
fi
if [ "$background_status" -eq 0 ]; then
  deb=$(grep '\.deb$' "$build/release-i686.log" | tail -n 1)
  (cd "$repo" && KELMA_RELEASE_DEB=$deb /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    tests/release/test_deb.py </dev/null) || release_ok=FAIL
fi
record "release package" "$release_ok"

end_stage
printf '\n=== Summary ===\n'
printf '%s\n' "${durations[@]}"
printf '%5d s  in all\n' "$SECONDS"
if [ -f "$build/background-builds.seconds" ]; then
  printf '%5d s  (beside the Wine stages: %s)\n' "$(cat "$build/background-builds.seconds")" \
    "$background_what"
fi
failed=0
passed=0
skipped=0
for r in "${results[@]}"; do
  echo "  $r"
  case "$r" in
    *FAIL) failed=$((failed + 1)) ;;
    *skipped*) skipped=$((skipped + 1)) ;;
    *) passed=$((passed + 1)) ;;
  esac
done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
