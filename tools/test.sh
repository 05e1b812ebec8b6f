#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests and fuzz replays (ASan/UBSan), the
# Windows tests under Wine and the end-to-end tests of the real program with both simulators, for
# the shipped i686 build wherever it can run (a smoke subset of the Windows tests for x86_64), else
# for x86_64. Installs what it needs on a fresh Debian 12 machine.
#   bash tools/test.sh            everything
#   KELMA_X64_TESTS=all ...       every Windows test for x86_64 too, where i686 runs
#   KELMA_WINE_JOBS=N ...         Windows test programs, and end-to-end tests, run N at a time,
#                                 each in its own Wine session (default: the number of processors)
# A test stage fails when a process that one of its tests started outlives it
# (tests/harness/run_program.py).
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
# Runs a test stage's command; anything its tests left running fails it.
stage_command() {
  /usr/bin/python3 "$repo/tests/harness/run_program.py" --what "$1" -- "${@:2}" </dev/null
}

step "Installing packages"
bash "$repo/tools/install-deps.sh"

step "Native build and tests (ASan/UBSan)"
cmake -S "$repo" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >"$build/native-configure.log"
cmake --build "$build/native" -j "$jobs"
native_ok=pass
stage_command "the native tests" ctest --test-dir "$build/native" --output-on-failure -j "$jobs" ||
  native_ok=FAIL
record native "$native_ok"

source "$repo/tests/harness/wine-session.sh"
# Kernels built without 32-bit programs run only Wine's 64-bit loader and 64-bit Windows programs.
# The build that gets every Windows test and the end-to-end tests, and the other one.
runs_32bit=yes
tested=i686
other=x86_64
if ! harness_runs_32bit; then
  runs_32bit=
  tested=x86_64
  other=i686
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
    KELMA_DEB_BUILD="$build/release-deb" bash "$repo/tools/release.sh" </dev/null \
    >"$build/release-$1.log" 2>&1
}
release_archs=(i686)
[ -z "$runs_32bit" ] && release_archs+=(x86_64)
# The builds that the Wine stages do not wait for: the other architecture's build and the release
# builds. Exit status 1: the other build failed; 2: a release build failed.
background_builds() {
  local started=$SECONDS arch
  build_windows "$other" >"$build/$other-build.log" 2>&1 || return 1
  echo $((SECONDS - started)) >"$build/$other-build.seconds"
  # The Debian packages (this machine's and, on amd64, the Pi's) are built with the first zip only.
  local deb=yes
  for arch in "${release_archs[@]}"; do
    KELMA_RELEASE_DEB=$deb build_release "$arch" || return 2
    deb=no
  done
  echo $((SECONDS - started)) >"$build/background-builds.seconds"
}

# The Wine sessions start beside the build (they need none of it), their output in a log. On the
# way out, the sessions are ended (once they have started) and so are the builds beside.
sessions=
background=
stop_sessions_and_background() {
  [ -z "$sessions" ] || wait "$sessions" || true
  harness_stop_pool
  [ -z "$background" ] || kill -- "-$background" 2>/dev/null || true
}
trap stop_sessions_and_background EXIT
step "Windows build ($tested), and the Wine sessions ($wine_jobs) beside it"
mkdir -p "$build/wine"
HARNESS_POOL=$(cd "$build/wine" && pwd -P)
export HARNESS_POOL
(harness_start_pool "$HARNESS_POOL" "$wine_jobs" </dev/null >"$build/wine.log" 2>&1) &
sessions=$!
build_windows "$tested"
sessions_status=0
wait "$sessions" || sessions_status=$?
sessions=
if [ "$sessions_status" -ne 0 ]; then
  cat "$build/wine.log"
  echo "The Wine sessions did not start" >&2
  exit 1
fi

# They run beside the Wine stages, which mostly wait, at idle priority (SCHED_IDLE: only
# processor time nothing else wants, so the tests' timing is not disturbed), in a process group
# of their own that ends with this script.
rm -f "$build"/*.seconds
set -m
(chrt --idle --pid 0 "$BASHPID" && background_builds) &
background=$!
set +m
export KELMA_SIM="$build/native/tools/kelma_sim/kelma_sim"
export KELMA_BUILD="$build"

step "Windows tests under Wine ($tested)"
wine_ok=pass
stage_command "the Windows tests ($tested)" \
  ctest --test-dir "$build/$tested" --output-on-failure -L wine -j "$wine_jobs" || wine_ok=FAIL
record "wine $tested" "$wine_ok"

if [ -d "$repo/tests/e2e" ] && ls "$repo"/tests/e2e/test_*.py >/dev/null 2>&1; then
  step "End-to-end tests of the real program ($tested)"
  e2e_ok=pass
  # One runner per session of the pool (HARNESS_POOL); each claims a session of its own.
  (cd "$repo" && stage_command "the end-to-end tests" \
    /usr/bin/python3 -m pytest -q -n "$wine_jobs" --durations=12 tests/e2e) || e2e_ok=FAIL
  record "end-to-end" "$e2e_ok"
fi

# Where the shipped i686 build runs, the x86_64 build gets a smoke subset of the Windows tests.
background_status=0
other_filter=(-R '^(win\.(framework|dialog|serial_port)_test|harness\.serial_smoke)$')
[ -z "$runs_32bit" ] && other_filter=()
[ "${KELMA_X64_TESTS:-}" = all ] && other_filter=()
if [ -z "$runs_32bit" ]; then
  step "Windows build ($other), beside the stages above"
else
  step "Windows build ($other), beside the stages above; its Windows tests${other_filter:+ (a smoke subset)}"
fi
while [ ! -f "$build/$other-build.seconds" ] && kill -0 "$background" 2>/dev/null; do sleep 1; done
if [ ! -f "$build/$other-build.seconds" ]; then
  wait "$background" || background_status=$?
  background=
  tail -n 50 "$build/$other-build.log"
  record "windows build $other" FAIL
elif [ -z "$runs_32bit" ]; then
  record "wine $other" "skipped (this machine cannot run 32-bit programs)"
else
  other_ok=pass
  stage_command "the Windows tests ($other)" ctest --test-dir "$build/$other" \
    --output-on-failure -L wine -j "$wine_jobs" "${other_filter[@]}" || other_ok=FAIL
  record "wine $other${other_filter:+ (smoke subset)}" "$other_ok"
fi

# Built once (above); its contents checked and the program from it started.
step "Release package"
release_zip() { tail -n 1 "$build/release-$1.log"; }
check_release() {
  (cd "$repo" && set -a && source "$HARNESS_POOL/session1.env" && set +a &&
    KELMA_RELEASE_ZIP=$1 /usr/bin/python3 -m pytest -q tests/e2e/test_release.py "${@:2}" </dev/null)
}
release_ok=pass
if [ -n "$background" ]; then
  wait "$background" || background_status=$?
  background=
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
  # This machine's package and, on amd64, the Raspberry Pi's (their programs under qemu-user).
  debs=$(grep '\.deb$' "$build/release-i686.log" | paste -sd:)
  (cd "$repo" && KELMA_RELEASE_DEB=$debs /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    tests/release/test_deb.py </dev/null) || release_ok=FAIL
fi
record "release package" "$release_ok"

end_stage
printf '\n=== Summary ===\n'
printf '%s\n' "${durations[@]}"
printf '%5d s  in all\n' "$SECONDS"
if [ -f "$build/background-builds.seconds" ]; then
  printf '%5d s  (beside the Wine stages: the %s build %d s, then the release builds)\n' \
    "$(cat "$build/background-builds.seconds")" "$other" "$(cat "$build/$other-build.seconds")"
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
