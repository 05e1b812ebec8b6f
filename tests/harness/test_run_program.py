"""run_program.py: a test's program runs to its end or its time bound, signals reach it, and a
process it leaves behind, however orphaned, is named, ended and fails the run."""

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
RUNNER = [sys.executable, str(HERE / "run_program.py")]
RUN_WAIT_S = 30


def run(*command, timeout=None):
    bound = ["--timeout", str(timeout)] if timeout else []
    return subprocess.run(RUNNER + bound + ["--", *command], capture_output=True, text=True,
                          timeout=RUN_WAIT_S)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().rsplit(")", 1)[1].split()[0] != "Z"


@pytest.mark.parametrize("status", [0, 3])
def test_the_programs_exit_status_is_the_runs(status):
    assert run("sh", "-c", f"exit {status}").returncode == status


def test_a_process_left_behind_fails_the_run_and_is_ended(tmp_path):
    pidfile = tmp_path / "pid"
    # Orphaned at once, as Wine's double fork leaves every Windows process. The subshell ends
    # only once its child runs sleep: until its exec the child is a copy of the shell, whose
    # command line holds the word sleep too, so its process name is what tells.
    orphan_runs_sleep = "grep -qx sleep /proc/$!/comm"
    subshell = f"sleep 300 & echo $! >{pidfile}; until {orphan_runs_sleep}; do :; done"
    done = run("sh", "-c", f"({subshell}) ; exit 0")
    orphan = int(pidfile.read_text())
    assert done.returncode == 1
    assert f"{orphan} sleep 300" in done.stderr
    assert not alive(orphan)


def test_a_process_ended_by_the_program_is_not_counted(tmp_path):
    assert run("sh", "-c", "sleep 300 & kill $! ; wait ; exit 0").returncode == 0


def test_the_time_bound_ends_the_program():
    done = run("sleep", "300", timeout=1)
    assert done.returncode == 124
    assert "timed out" in done.stderr


def test_sigterm_to_the_runner_reaches_the_program(tmp_path):
    marker = tmp_path / "started"
    runner = subprocess.Popen(
        RUNNER + ["--", "sh", "-c", f"trap 'exit 7' TERM; touch {marker}; sleep 300 & wait"],
        stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + RUN_WAIT_S
        while not marker.exists():
            assert time.monotonic() < deadline, "the program did not start"
            time.sleep(0.05)
        runner.send_signal(signal.SIGTERM)
        runner.wait(RUN_WAIT_S)
        # The program's own answer to SIGTERM; its sleep, left running, is ended and named.
        assert runner.returncode == 7
        assert "sleep 300" in runner.stderr.read()
    finally:
        if runner.poll() is None:
            runner.kill()
            runner.wait()
