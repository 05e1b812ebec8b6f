#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests and fuzz replays (ASan/UBSan), the
# Windows tests under Wine and the end-to-end tests of the real program with both simulators, for
# the shipped i686 build wherever it can run (a smoke subset of the Windows tests for x86_64), else
# for x86_64. Installs what it needs on a fresh Debian 12 machine.
#   bash tools/test.sh            everything
#   KELMA_X64_TESTS=all ...       every Windows test for x86_64 too, where i686 runs
#   KELMA_WINE_JOBS=N ...         Windows test programs, and end-to-end tests, run N at a time,
#                                 each in its own Wine session (default: two per processor; they
#                                 mostly wait)
# A test stage fails when a process that one of its tests started outlives it
# (tests/harness/run_program.py).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELMA_BUILD_DIR:-$repo/build}
jobs=$(nproc)
wine_jobs=${KELMA_WINE_JOBS:-$((2 * jobs))}
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
# Where the shipped i686 build runs, the x86_64 build gets a smoke subset of the Windows tests:
# these programs (and the program itself, to show that it links), and the tests of the filter.
# Where it cannot run, the i686 build is only compiled, the same programs: the release build
# compiles and packages the shipped ones, and every test program runs in the x86_64 build.
smoke_programs=(framework_test dialog_test serial_port_test serial_smoke KelmaRotator)
other_filter=(-R '^(win\.(framework|dialog|serial_port)_test|harness\.serial_smoke)$')
[ "${KELMA_X64_TESTS:-}" = all ] && other_filter=()
other_targets=(--target test_programs)
[ -n "${other_filter[*]}" ] && other_targets=(--target "${smoke_programs[@]}")
if [ -z "$runs_32bit" ]; then
  other_filter=()
  other_targets=(--target "${smoke_programs[@]}")
fi

build_windows() {
  cmake -S "$repo" -B "$build/$1" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$1.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/tests/harness/wine-run.sh" >"$build/$1-configure.log" &&
    cmake --build "$build/$1" -j "$jobs" "${@:2}"
}
build_release() {
  KELMA_RELEASE_ARCH=$1 KELMA_RELEASE_BUILD="$build/release-$1" KELMA_DIST="$build/dist" \
    KELMA_DEB_BUILD="$build/release-deb" bash "$repo/tools/release.sh" </dev/null
}
release_archs=(i686)
[ -z "$runs_32bit" ] && release_archs+=(x86_64)
build_releases() {
  # The Debian packages (this machine's and, on amd64, the Pi's) are built with the first zip only.
  local deb=yes arch
  for arch in "${release_archs[@]}"; do
    KELMA_RELEASE_DEB=$deb build_release "$arch" >"$build/release-$arch.log" 2>&1 || return 1
    deb=no
  done
}

# The Wine sessions start first, beside everything else: they need none of the builds. Their
# output goes to a log. On the way out, the sessions are ended (once they have started) and so
# is the work beside the Wine stages.
sessions=
background=
stop_sessions_and_background() {
  [ -z "$sessions" ] || wait "$sessions" || true
  harness_stop_pool
  [ -z "$background" ] || kill -- "-$background" 2>/dev/null || true
}
trap stop_sessions_and_background EXIT
mkdir -p "$build/wine"
HARNESS_POOL=$(cd "$build/wine" && pwd -P)
export HARNESS_POOL
(harness_start_pool "$HARNESS_POOL" "$wine_jobs" </dev/null >"$build/wine.log" 2>&1) &
sessions=$!

# The Wine stages need the build under test's test programs and the programs they start, and the
# native controller simulator; everything else is built beside those stages.
step "Windows build ($tested) of what the tests run, and the Wine sessions ($wine_jobs) beside it"
cmake -S "$repo" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >"$build/native-configure.log"
cmake --build "$build/native" -j "$jobs" --target kelma_sim
build_windows "$tested" --target test_programs
sessions_status=0
wait "$sessions" || sessions_status=$?
sessions=
if [ "$sessions_status" -ne 0 ]; then
  cat "$build/wine.log"
  echo "The Wine sessions did not start" >&2
  exit 1
fi
export KELMA_SIM="$build/native/tools/kelma_sim/kelma_sim"
export KELMA_BUILD="$build"

# Beside the Wine stages, which mostly wait: every build at idle priority (SCHED_IDLE: only
# processor time nothing else wants, so the tests' timing is not disturbed), first the native
# one, whose tests then run at normal priority beside the builds that follow; then the other
# Windows build, the release builds, and the rest of every build (the benchmarks). Each part
# leaves its output in $build/<part>.log, its duration in <part>.seconds and its exit status in
# <part>.status. All of it runs in a process group of its own that ends with this script.
rm -f "$build"/*.seconds "$build"/*.status
part() {
  local name=$1 started=$SECONDS status=0
  "${@:2}" >"$build/$name.log" 2>&1 </dev/null || status=$?
  echo $((SECONDS - started)) >"$build/$name.seconds"
  echo "$status" >"$build/$name.status"
  return "$status"
}
idle() { (chrt --idle --pid 0 "$BASHPID" && "$@"); }
# The native tests hold a share of the machine: an end-to-end test marked alone waits until
# they are done, and they wait for it (the same turnstile and lock as tests/e2e/conftest.py).
sharing_the_machine() {
  (
    exec 8>>"$HARNESS_POOL/machine.turnstile" 9>>"$HARNESS_POOL/machine.lock"
    flock 8 && flock -s 9 && flock -u 8 && exec 8>&- && "$@"
  )
}
build_the_rest() {
  cmake --build "$build/$tested" -j "$jobs" && cmake --build "$build/native" -j "$jobs"
}
native_tests() {
  sharing_the_machine stage_command "the native tests" \
    ctest --test-dir "$build/native" --output-on-failure -j "$jobs"
}
beside_the_wine_stages() {
  set +m # every job below stays in this process group
  local native= started=$SECONDS
  if part native-build idle cmake --build "$build/native" -j "$jobs" --target test_programs; then
    part native-tests native_tests &
    native=$!
  fi
  part other-build idle build_windows "$other" "${other_targets[@]}" || true
  part release idle build_releases || true
  part rest idle build_the_rest || true
  [ -z "$native" ] || wait "$native" || true
  echo $((SECONDS - started)) >"$build/beside.seconds"
}
set -m
beside_the_wine_stages &
background=$!
set +m
# Waits until the part has ended (or the work beside has, early); succeeds when the part passed.
part_passed() {
  while [ ! -f "$build/$1.status" ] && kill -0 "$background" 2>/dev/null; do sleep 1; done
  [ "$(cat "$build/$1.status" 2>/dev/null)" = 0 ]
}

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

# Built and run beside the stages above; the native result leads the summary, as the stage once did.
step "Native build and tests (ASan/UBSan), beside the stages above"
native_ok=pass
if ! part_passed native-build; then
  tail -n 50 "$build/native-build.log" 2>/dev/null || true
  native_ok=FAIL
elif ! part_passed native-tests; then
  native_ok=FAIL
fi
cat "$build/native-tests.log" 2>/dev/null || true
results=("native: $native_ok" "${results[@]}")

if [ -z "$runs_32bit" ]; then
  step "Windows build ($other), beside the stages above"
else
  step "Windows build ($other), beside the stages above; its Windows tests${other_filter:+ (a smoke subset)}"
fi
if ! part_passed other-build; then
  tail -n 50 "$build/other-build.log" 2>/dev/null || true
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
if ! part_passed release; then
  release_ok=FAIL
  cat "$build"/release-*.log 2>/dev/null || true
else
  if [ -n "$runs_32bit" ]; then
    check_release "$(release_zip i686)" || release_ok=FAIL
  else
    # The shipped 32-bit program cannot start here: its package is checked, and the start from a
    # package is shown with the 64-bit one, made the same way.
    check_release "$(release_zip i686)" -k "not starts" || release_ok=FAIL
    check_release "$(release_zip x86_64)" -k starts || release_ok=FAIL
  fi
  # This machine's package and, on amd64, the Raspberry Pi's (their programs under qemu-user).
  debs=$(grep '\.deb$' "$build/release-i686.log" | paste -sd:)
  (cd "$repo" && KELMA_RELEASE_DEB=$debs /usr/bin/python3 -m pytest -q -p no:cacheprovider \
    tests/release/test_deb.py </dev/null) || release_ok=FAIL
fi
record "release package" "$release_ok"
# The rest of the builds (the benchmarks) must build too.
if ! part_passed rest; then
  tail -n 50 "$build/rest.log" 2>/dev/null || true
  record "the rest of the $tested and native builds" FAIL
fi
wait "$background" 2>/dev/null || true
background=

end_stage
printf '\n=== Summary ===\n'
printf '%s\n' "${durations[@]}"
printf '%5d s  in all\n' "$SECONDS"
beside=
for p in "native-build:the native build" "native-tests:its tests" "other-build:the $other build" \
  "release:the release builds" "rest:the rest"; do
  [ -f "$build/${p%%:*}.seconds" ] && beside+="${beside:+, }${p#*:} $(cat "$build/${p%%:*}.seconds") s"
done
[ -f "$build/beside.seconds" ] &&
  printf '%5d s  (beside the Wine stages: %s)\n' "$(cat "$build/beside.seconds")" "$beside"
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
