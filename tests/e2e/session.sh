#!/usr/bin/env bash
# Starts or stops a harness Wine session for the end-to-end tests when they run on their own
# (tools/test.sh runs them inside its own session instead).
#   session.sh start <workdir> <envfile>   writes the session's environment to <envfile>
#   session.sh stop <envfile>              ends what "start" started, by PID
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../harness/wine-session.sh
source "$here/../harness/wine-session.sh"

case "${1:-}" in
    start)
        harness_start "$2" </dev/null
        harness_save_env "$3"
        ;;
    stop)
        # shellcheck source=/dev/null
        source "$2"
        harness_stop
        ;;
    *)
        echo "usage: session.sh start <workdir> <envfile> | stop <envfile>" >&2
        exit 2
        ;;
esac
