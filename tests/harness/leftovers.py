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
PF_EXITING = 0x4  # the kernel's flag of a process on its way out (the flags of /proc/PID/stat)
GRACE_S = 10
EXIT_WAIT_S = 10


def become_subreaper(on=True):
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1 if on else 0, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def _stat(pid):
    """(state, parent pid, flags) of a process, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return fields[0], int(fields[1]), int(fields[6])


def describe(pid):
    # A process in the middle of an exec shows no command line for a moment: its name then.
    for _ in range(20):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                text = cmdline.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            return f"{pid} (gone)"
        if text:
            return f"{pid} {text}"
        time.sleep(0.01)
    try:
        with open(f"/proc/{pid}/comm") as comm:
            return f"{pid} [{comm.read().strip()}]"
    except OSError:
        return f"{pid} (gone)"


def living_children():
    """The living children of this process. Children that have ended, or are ending (a Wine
    process that had already begun to exit when its test ended), are waited for here, so that
    an ended process never counts."""
    me = os.getpid()
    living = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        found = _stat(entry)
        if found is None or found[1] != me:
            continue
        pid = int(entry)
        if (found[0] in "ZX" or found[2] & PF_EXITING) and _reaped(pid):
            continue
        living.append(pid)
    return living


def _reaped(pid):
    """Waits for a child that has ended or is ending; False for one still stuck on its way out
    when the wait is over (it counts as left running)."""
    deadline = time.monotonic() + EXIT_WAIT_S
    while True:
        try:
            if os.waitpid(pid, os.WNOHANG) != (0, 0):
                return True
        except ChildProcessError:
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.01)


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
