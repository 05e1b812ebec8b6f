"""Processes that outlive the test that started them.

A process that is a subreaper (Linux's PR_SET_CHILD_SUBREAPER) adopts every orphan among its
descendants, so once a test's own processes have ended and been waited for, the subreaper's
living children are exactly what the test left running, however it was started: Wine starts
each Windows process by a double fork, which orphans it at once. The Wine session's own
processes are started before the test, outside it, and never count.
"""

import ctypes
import os
import signal
import time

PR_SET_CHILD_SUBREAPER = 36
GRACE_S = 10


def become_subreaper(on=True):
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1 if on else 0, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def _stat(pid):
    """(state, parent pid) of a process, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return fields[0], int(fields[1])


def describe(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            text = cmdline.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        text = "(gone)"
    return f"{pid} {text}"


def living_children():
    """The living children of this process. Children that have ended are waited for here, so
    that an ended process never counts."""
    me = os.getpid()
    living = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        found = _stat(entry)
        if found is None or found[1] != me:
            continue
        pid = int(entry)
        if found[0] in "ZX":
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass
            continue
        living.append(pid)
    return living


def end_all(pids):
    """Ends processes left behind, by their PID: SIGTERM, then SIGKILL after the grace time. The
    children they leave in turn are adopted here and ended the same way."""
    rounds = 0
    while pids and rounds < 10:
        for pid in pids:
            _signal(pid, signal.SIGTERM)
        deadline = time.monotonic() + GRACE_S
        while time.monotonic() < deadline and (pids := [p for p in pids if _alive(p)]):
            time.sleep(0.05)
        for pid in pids:
            _signal(pid, signal.SIGKILL)
        pids = living_children()
        rounds += 1


def _signal(pid, sig):
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        pass


def _alive(pid):
    try:
        return os.waitpid(pid, os.WNOHANG) == (0, 0)
    except ChildProcessError:
        return False


def check_and_end(what):
    """None when nothing outlived `what`; else a message naming what did, after ending it."""
    left = living_children()
    if not left:
        return None
    message = f"{what} left {len(left)} process(es) running:\n" + "\n".join(
        "  " + describe(pid) for pid in left)
    end_all(left)
    return message
