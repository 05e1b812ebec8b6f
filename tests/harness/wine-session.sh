# Wine session for running our Windows programs safely. Source it, then:
#   harness_start <workdir>   # private prefix, preload, Xvfb, persistent wineserver; exports env
#   ...run programs with "$WINE prog.exe" or tests/harness/wine-run.sh...
#   harness_stop              # ends only what harness_start started
#
# Safety: every Wine process gets LD_PRELOAD=libhideserial.so from the first wineboot on, so Wine
# never links a COM port to this machine's serial devices or console, and nothing can open them.
# The prefix is private to <workdir> (never ~/.wine).
#
# Settings (all optional): HARNESS_TEMPLATE=<dir> shares the cached template prefix between work
# dirs; HARNESS_USE_DISPLAY=<display> uses that X display instead of a private Xvfb;
# HARNESS_NO_THEME=1 turns Wine's visual theme off (benchmarks of what it costs).
#
# A pool of sessions lets independent programs run side by side, each session with its own
# prefix (its own COM links and DDE), preload, Xvfb and wineserver:
#   harness_start_pool <workdir> <count>   # exports HARNESS_POOL; wine-run.sh takes a free one
#   harness_stop_pool                      # ends every session of the pool, by PID

_harness_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

_harness_log() { echo "wine-session: $*" >&2; }

# Waits up to $2 tenths of a second for the command "$1" (evaluated) to succeed.
_harness_wait_for() {
    local i
    for ((i = 0; i < $2; i++)); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}

# Fails for ~/.wine, anything inside it, and an empty path.
_harness_check_prefix() {
    local path=$1 home_wine
    [ -n "$path" ] || { _harness_log "empty prefix path"; return 1; }
    home_wine=$(realpath -m "${HOME:-/root}/.wine")
    path=$(realpath -m "$path")
    case "$path/" in
        "$home_wine"/*) _harness_log "refusing to use $path: that is ~/.wine"; return 1 ;;
    esac
}

# Removes every dosdevices/comN link: at session start none of them is one of ours.
_harness_remove_com_links() {
    local link
    for link in "$1"/dosdevices/com[0-9]*; do
        [ -L "$link" ] && rm -f "$link"
    done
    return 0
}

# Fails when Wine linked a COM port to anything but a pseudo-terminal (the preload did not work).
_harness_check_com_links() {
    local link target
    for link in "$1"/dosdevices/com[0-9]*; do
        [ -L "$link" ] || continue
        target=$(readlink "$link")
        case "$target" in
            /dev/pts/*) ;;
            *) _harness_log "UNSAFE: $link -> $target"; return 1 ;;
        esac
    done
}

# The program that keeps the session's desktop (desktop_keeper.c), for the loader $WINE names
# (a program of the other width would be started through a start.exe of its own). Sets
# HARNESS_KEEPER_EXE.
_harness_build_keeper() {
    local arch=i686 src="$_harness_dir/desktop_keeper.c"
    [ "${WINE##*/}" = wine64 ] && arch=x86_64
    HARNESS_KEEPER_EXE=$1/desktop_keeper-$arch.exe
    [ -f "$HARNESS_KEEPER_EXE" ] && [ ! "$src" -nt "$HARNESS_KEEPER_EXE" ] && return 0
    "$arch-w64-mingw32-gcc" -std=c11 -O2 -Wall -Wextra -Werror -mwindows \
        -o "$HARNESS_KEEPER_EXE.tmp" "$src" && mv -f "$HARNESS_KEEPER_EXE.tmp" "$HARNESS_KEEPER_EXE"
}

_harness_build_preload() {
    local out=$1 src="$_harness_dir/hide_serial.c" lib
    for lib in "$out/lib/i386-linux-gnu/libhideserial.so" "$out/lib/x86_64-linux-gnu/libhideserial.so"; do
        if [ ! -f "$lib" ] || [ "$src" -nt "$lib" ]; then
            "$_harness_dir/build-preload.sh" "$out" >&2 || return 1
            return 0
        fi
    done
}

# Fails unless LD_PRELOAD is our library and it really loads into 32- and 64-bit processes. The
# loader only warns when a preload is missing, and Wine would then run unprotected: mountmgr
# links COM1 to /dev/ttyS0 and a program can open the console.
harness_check_preload() {
    local preload=${LD_PRELOAD:-} dir errors
    case "$preload" in
        *" "* | *:*) _harness_log "LD_PRELOAD must be our library alone: $preload"; return 1 ;;
        */'$LIB'/libhideserial.so) ;;
        *) _harness_log "LD_PRELOAD is not .../\$LIB/libhideserial.so: '$preload'"; return 1 ;;
    esac
    for dir in lib/i386-linux-gnu lib/x86_64-linux-gnu; do
        if [ ! -f "${preload//'$LIB'/$dir}" ]; then
            _harness_log "missing ${preload//'$LIB'/$dir}"
            return 1
        fi
    done
    # /bin/true is 64-bit; "wine --version" runs Wine's 32-bit loader (with
    # WINE=/usr/lib/wine/wine64, the 64-bit one).
    errors=$({ /bin/true && "$WINE" --version >/dev/null; } 2>&1 </dev/null) || errors+=" (failed)"
    if [ -n "$errors" ]; then
        _harness_log "the preload library does not load: $errors"
        return 1
    fi
    # And it hides what it should: a lookup (stat, never an open) finds no serial device.
    if env -u LD_PRELOAD test -e /dev/ttyS0 && env test -e /dev/ttyS0; then
        _harness_log "the preload library is loaded but does not hide /dev/ttyS0"
        return 1
    fi
}

# Succeeds when this machine runs 32-bit x86 programs. Some kernels are built without them; there
# only Wine's 64-bit loader (WINE=/usr/lib/wine/wine64 on Debian) and 64-bit programs run.
harness_runs_32bit() {
    [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

_harness_start_xvfb() {
    if [ -n "${HARNESS_USE_DISPLAY:-}" ]; then
        export DISPLAY=$HARNESS_USE_DISPLAY
        return 0
    fi
    local fdfile="$HARNESS_WORKDIR/xvfb.display"
    rm -f "$fdfile"
    # -displayfd lets Xvfb choose a free display itself and tell us which.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" </dev/null \
        >"$HARNESS_WORKDIR/xvfb.log" 2>&1 &
    HARNESS_XVFB_PID=$!
    if ! _harness_wait_for '[ -s "$fdfile" ]' 100; then
        _harness_log "Xvfb did not start (see $HARNESS_WORKDIR/xvfb.log)"
        return 1
    fi
    export DISPLAY=":$(tr -dc 0-9 <"$fdfile")"
}

# Makes the template prefix once per Wine version; later runs copy it (a new prefix takes ~12 s).
_harness_make_template() {
    local template=$1 stamp version
    version=$("$WINE" --version)
    stamp="$template/.harness-template"
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && return 0
    _harness_log "creating template prefix $template"
    rm -rf "$template"
    WINEPREFIX=$template "$WINE" wineboot -i </dev/null >"$template.log" 2>&1 || {
        _harness_log "wineboot failed (see $template.log)"
        return 1
    }
    WINEPREFIX=$template wineserver -w </dev/null
    _harness_check_com_links "$template" || return 1
    echo "$version" >"$stamp"
}

_harness_start_wineserver() {
    wineserver -f -p </dev/null >"$HARNESS_WORKDIR/wineserver.log" 2>&1 &
    HARNESS_WINESERVER_PID=$!
    # The server works inside its socket directory, whose name Debian's Wine randomises.
    local socket="/proc/$HARNESS_WINESERVER_PID/cwd/socket"
    if ! _harness_wait_for '[ -S "$socket" ]' 100; then
        _harness_log "wineserver did not start (see $HARNESS_WORKDIR/wineserver.log)"
        return 1
    fi
}

# Starts the prefix's own Windows services (services.exe, winedevice.exe, ...) now, with
# harmless standard handles. Started by a test's first Wine process instead, they would keep
# that process's output pipe open for the whole session, and a test runner reading the pipe
# (CTest) would wait for its end for ever.
# On our own Xvfb the same first process tells Wine's X11 driver that no window manager runs
# (Managed=N): it otherwise waits 2 s for one at every destroy of a top-level window. A setting of
# this prefix only; the programs never set it, and a borrowed display (the demo's) keeps Wine's
# default. Wine's visual theme stays on, as operators have it, unless HARNESS_NO_THEME asks.
_harness_boot_services() {
    local first=(cmd /c exit)
    if [ -z "${HARNESS_USE_DISPLAY:-}" ]; then
        first=(cmd /c reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f)
    fi
    [ -n "${HARNESS_NO_THEME:-}" ] &&
        first+=('&&' reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
            /v ThemeActive /t REG_SZ /d 0 /f)
    if ! "$WINE" "${first[@]}" </dev/null >"$HARNESS_WORKDIR/boot.log" 2>&1; then
        _harness_log "the prefix did not boot (see $HARNESS_WORKDIR/boot.log)"
        return 1
    fi
}

# Starts Wine's desktop process for the session, from desktop_keeper.exe with the session's log as
# its output, and keeps it: started by a test's program instead, it would hold that test's output
# pipe open, and a runner reading the pipe (CTest) would wait for it.
_harness_start_desktop() {
    local log="$HARNESS_WORKDIR/desktop.log"
    "$WINE" "$HARNESS_KEEPER_EXE" </dev/null >"$log" 2>&1 &
    HARNESS_KEEPER_PID=$!
    if ! _harness_wait_for 'grep -q "desktop ready" "$log"' 300; then
        _harness_log "the desktop did not start (see $log)"
        return 1
    fi
}

# A fresh prefix from the template. The DLL folders (over 1 GB, never written) are hard-linked,
# everything else is copied, so the template cannot change through the prefix.
_harness_copy_prefix() {
    local template=$1 prefix=$2 entry
    rm -rf "$prefix"
    mkdir -p "$prefix/drive_c/windows" || return 1
    for entry in "$template"/* "$template"/.[!.]* "$template"/drive_c/* "$template"/drive_c/windows/*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue
        local dest="$prefix/${entry#"$template"/}"
        case "${entry#"$template"/}" in
            drive_c | drive_c/windows) ;;
            drive_c/windows/system32 | drive_c/windows/syswow64 | drive_c/windows/winsxs)
                cp -al "$entry" "$dest" || return 1 ;;
            *) cp -a "$entry" "$dest" || return 1 ;;
        esac
    done
    rm -f "$prefix/wineserver" # the template server's socket directory, long gone
}

harness_start() {
    local workdir=${1:?usage: harness_start <workdir>}
    if [ -n "${HARNESS_WINESERVER_PID:-}${HARNESS_XVFB_PID:-}" ]; then
        _harness_log "a session is already running; call harness_stop first"
        return 1
    fi
    _harness_check_prefix "$workdir/prefix" || return 1
    mkdir -p "$workdir" || return 1
    HARNESS_WORKDIR=$(cd "$workdir" && pwd -P)
    local prefix="$HARNESS_WORKDIR/prefix"
    local template=${HARNESS_TEMPLATE:-$HARNESS_WORKDIR/prefix-template}
    _harness_check_prefix "$prefix" && _harness_check_prefix "$template" || return 1

    _harness_build_preload "$HARNESS_WORKDIR/preload" || return 1
    HARNESS_SAVED_LD_PRELOAD=${LD_PRELOAD-}
    # '$LIB' stays literal: the loader makes it lib/i386-linux-gnu or lib/x86_64-linux-gnu.
    export LD_PRELOAD="$HARNESS_WORKDIR/preload/\$LIB/libhideserial.so"
    export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer dialogs
    export WINEDEBUG=${HARNESS_WINEDEBUG:--all}
    export WINE=${WINE:-wine}
    # From here on no Wine process runs without the private prefix, the checks' included.
    export WINEPREFIX=$prefix
    unset WINESERVER WINELOADER
    harness_check_preload || { harness_stop; return 1; }
    _harness_build_keeper "$HARNESS_WORKDIR/preload" || { harness_stop; return 1; }

    _harness_start_xvfb || { harness_stop; return 1; }
    mkdir -p "$(dirname "$template")"
    (
        flock 9 # one template maker at a time when work dirs share it
        _harness_make_template "$template"
    ) 9>"$template.lock" || { harness_stop; return 1; }

    _harness_copy_prefix "$template" "$prefix" || { harness_stop; return 1; }
    _harness_remove_com_links "$prefix"
    HARNESS_PREFIX=$prefix
    _harness_start_wineserver || { harness_stop; return 1; }
    _harness_boot_services || { harness_stop; return 1; }
    _harness_start_desktop || { harness_stop; return 1; }
    _harness_log "prefix $WINEPREFIX, DISPLAY $DISPLAY"
}

# Ends the persistent wineserver (and every Wine process of our prefix) and our Xvfb, by PID.
harness_stop() {
    local pid
    if [ -n "${HARNESS_WINESERVER_PID:-}" ]; then
        pid=$HARNESS_WINESERVER_PID
        WINEPREFIX=$HARNESS_PREFIX wineserver -k </dev/null >/dev/null 2>&1 || true
        _harness_wait_for '! kill -0 $pid 2>/dev/null' 100 || kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        HARNESS_WINESERVER_PID=
    fi
    if [ -n "${HARNESS_KEEPER_PID:-}" ]; then
        # Ended with the prefix's processes above; waited for when it is this shell's child.
        pid=$HARNESS_KEEPER_PID
        _harness_wait_for '! kill -0 $pid 2>/dev/null' 100 && { wait "$pid" 2>/dev/null || true; }
        HARNESS_KEEPER_PID=
    fi
    if [ -n "${HARNESS_XVFB_PID:-}" ]; then
        pid=$HARNESS_XVFB_PID
        kill "$pid" 2>/dev/null || true
        _harness_wait_for '! kill -0 $pid 2>/dev/null' 50 || kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        HARNESS_XVFB_PID=
    fi
    if [ -n "${HARNESS_SAVED_LD_PRELOAD+set}" ]; then
        if [ -n "$HARNESS_SAVED_LD_PRELOAD" ]; then
            export LD_PRELOAD=$HARNESS_SAVED_LD_PRELOAD
        else
            unset LD_PRELOAD
        fi
        unset HARNESS_SAVED_LD_PRELOAD
    fi
    return 0
}

# The variables a program needs to run in this session, and those harness_stop needs, as
# NAME=value lines that a shell can source (the end-to-end tests read them too).
harness_save_env() {
    local var
    for var in WINEPREFIX DISPLAY LD_PRELOAD WINE WINEDEBUG WINEDLLOVERRIDES HARNESS_WORKDIR \
        HARNESS_PREFIX HARNESS_WINESERVER_PID HARNESS_XVFB_PID HARNESS_KEEPER_PID \
        HARNESS_SAVED_LD_PRELOAD; do
        printf '%s=%q\n' "$var" "${!var-}"
    done >"$1"
}

# Starts <count> sessions side by side, each in <workdir>/session<i> with its environment in
# <workdir>/session<i>.env. This shell's own environment is left as it was.
harness_start_pool() {
    local workdir=${1:?usage: harness_start_pool <workdir> <count>} count=${2:?} i failed=0
    local pids=()
    mkdir -p "$workdir" || return 1
    HARNESS_POOL=$(cd "$workdir" && pwd -P)
    export HARNESS_POOL
    rm -f "$HARNESS_POOL"/session*.env
    # One template for the pool: the first session makes it, the others wait for it and copy it.
    local template=${HARNESS_TEMPLATE:-$HARNESS_POOL/prefix-template}
    for ((i = 1; i <= count; i++)); do
        (HARNESS_TEMPLATE=$template harness_start "$HARNESS_POOL/session$i" &&
            harness_save_env "$HARNESS_POOL/session$i.env") </dev/null &
        pids+=($!)
    done
    for i in "${pids[@]}"; do wait "$i" || failed=1; done
    [ "$failed" -eq 0 ] || { harness_stop_pool; return 1; }
}

harness_stop_pool() {
    local env
    [ -n "${HARNESS_POOL:-}" ] || return 0
    for env in "$HARNESS_POOL"/session*.env; do
        [ -f "$env" ] || continue
        # shellcheck source=/dev/null
        (source "$env" && harness_stop)
        rm -f "$env"
    done
    unset HARNESS_POOL
}
