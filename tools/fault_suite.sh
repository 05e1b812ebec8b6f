#!/usr/bin/env bash
# Fault and load suite of the real program under Wine with both simulators (tools/fault_suite.py):
# prints a table of scenario, repetitions, outcome and figures; exits non-zero on any failure.
# Runs in its own harness session.
#   tools/fault_suite.sh [build-dir] [--short] [--only SCENARIO...] [--table FILE]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec bash "$here/in_wine_session.sh" "$here/fault_suite.py" "$@"
