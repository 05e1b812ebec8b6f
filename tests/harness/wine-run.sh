#!/usr/bin/env bash
# Runs one Windows program under the Wine session that wine-session.sh's harness_start prepared
# (its environment must already be exported), and returns the program's exit status:
#   wine-run.sh prog.exe [args...]
#   wine-run.sh --native command [args...]   a Linux command (a test driver) inside one session:
#                                            the Wine programs it starts through wine-run.sh
#                                            run in that same session
# Used as CMake's cross-compiling emulator. When KELMA_SIM names the controller simulator binary,
# a fresh simulator is started for this program alone; the program finds its control port in
# KELMA_SIM_CONTROL (127.0.0.1:<port>). WINE_RUN_TIMEOUT (seconds, default 300) bounds the run.
# A process that the program (or the driver) started and that outlives it is named, ended, and
# fails the run (run_program.py).
# With HARNESS_POOL (harness_start_pool) the program runs in whichever session of the pool is free;
# without it, in the exported session. Either way one program at a time per session: programs in
# one prefix would share its COM links, its DDE and its display.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: wine-run.sh prog.exe [args...]" >&2; exit 2; }
self=$(realpath "${BASH_SOURCE[0]}")
session_busy=75 # flock's answer when the session is taken; no program here exits with it

if [ -z "${HARNESS_RUN_CLAIMED:-}" ]; then
    if [ -n "${HARNESS_POOL:-}" ]; then
        while :; do
            for env in "$HARNESS_POOL"/session*.env; do
                status=0
                # -o: the lock stays with flock alone, not with Wine processes the program starts.
                HARNESS_RUN_CLAIMED=$env flock -n -o -E "$session_busy" "${env%.env}.lock" \
                    "$self" "$@" || status=$?
                [ "$status" -eq "$session_busy" ] || exit "$status"
            done
            sleep 0.1
        done
    fi
    [ -n "${WINEPREFIX:-}" ] || { echo "wine-run.sh: WINEPREFIX is not set" >&2; exit 2; }
    HARNESS_RUN_CLAIMED=current exec flock -o "$WINEPREFIX.run.lock" "$self" "$@"
fi
if [ "$HARNESS_RUN_CLAIMED" != current ]; then
    set -a
    # shellcheck source=/dev/null
    source "$HARNESS_RUN_CLAIMED"
    set +a
fi
for var in WINEPREFIX LD_PRELOAD DISPLAY; do
    if [ -z "${!var:-}" ]; then
        echo "wine-run.sh: $var is not set; call harness_start (tests/harness/wine-session.sh)" >&2
        exit 2
    fi
done
# shellcheck source=wine-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
harness_check_preload || { echo "wine-run.sh: refusing to run Wine unprotected" >&2; exit 2; }
runner=(/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/run_program.py")
if [ "$1" = --native ]; then
    shift
    HARNESS_RUN_CLAIMED=current exec "${runner[@]}" --what "$(basename "${@: -1}")" -- "$@"
fi
[ -n "${KELMA_SIM:-}" ] && runner+=(--simulator "$KELMA_SIM")
exec "${runner[@]}" --what "$(basename "$1")" --timeout "${WINE_RUN_TIMEOUT:-300}" -- \
    "${WINE:-wine}" "$@"
