"""Runs one program of a test and fails when anything it started outlives it. wine-run.sh runs
each Windows program through it, and tools/test.sh each test stage:
  run_program.py [--timeout S] [--simulator PATH] [--what NAME] -- command [args...]

--simulator: a fresh KELMA controller simulator beside the program, which finds its control port
in KELMA_SIM_CONTROL (127.0.0.1:<port>); ended after the program, its log printed when the
program failed. --timeout: the program is ended after S seconds (SIGTERM, then SIGKILL 10 s
later; exit status 124). SIGTERM, SIGINT and SIGHUP reach the program through this process too.

Exit status: the program's; 1 when it passed but left a process running, which is named on
stderr and ended. This process is a subreaper (leftovers.py), so nothing the program started can
slip away by being orphaned.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import leftovers

TIMED_OUT = 124
SIMULATOR_START_S = 5


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--timeout", type=float, default=None)
    parser.add_argument("--simulator", default=None)
    parser.add_argument("--what", default=None, help="the name used in messages")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.command[:1] == ["--"]:
        args.command = args.command[1:]
    if not args.command:
        parser.error("no command")
    return args


class Simulator:
    """kelma_sim with its control port on 127.0.0.1, any free port, its output in a scratch
    folder."""

    def __init__(self, path):
        self.folder = Path(tempfile.mkdtemp(prefix="kelma-sim."))
        portfile = self.folder / "port"
        self.log = self.folder / "stderr"
        with open(self.folder / "stdout", "w") as out, open(self.log, "w") as err:
            self.process = subprocess.Popen(
                [path, "--control-port", "0", "--control-file", str(portfile)],
                stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        deadline = time.monotonic() + SIMULATOR_START_S
        while not (portfile.exists() and portfile.read_text().strip()):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("the simulator did not start")
            time.sleep(0.05)
        self.control = f"127.0.0.1:{portfile.read_text().strip()}"

    def text(self):
        return self.log.read_text(errors="replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(leftovers.GRACE_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def run(command, timeout, env):
    """Runs the command to its end (or its time-out); returns its exit status as a shell gives
    it."""
    program = subprocess.Popen(command, stdin=subprocess.DEVNULL, env=env)

    def pass_on(signum, _frame):
        if program.poll() is None:
            program.send_signal(signum)

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, pass_on)
    try:
        status = program.wait(timeout)
    except subprocess.TimeoutExpired:
        print(f"run_program: {command[0]} timed out after {timeout:g} s", file=sys.stderr)
        program.terminate()
        try:
            program.wait(leftovers.GRACE_S)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()
        return TIMED_OUT
    return 128 - status if status < 0 else status


def main():
    args = parse_arguments()
    what = args.what or os.path.basename(args.command[0])
    leftovers.become_subreaper()
    env = dict(os.environ)
    simulator = None
    if args.simulator:
        try:
            simulator = Simulator(args.simulator)
        except RuntimeError as error:
            print(f"run_program: {error}", file=sys.stderr)
            return 1
        env["KELMA_SIM_CONTROL"] = simulator.control
    try:
        status = run(args.command, args.timeout, env)
    finally:
        if simulator:
            simulator.stop()
    if simulator:
        if status != 0 and simulator.text():
            print("--- simulator log ---\n" + simulator.text(), file=sys.stderr, end="")
        simulator.remove()
    message = leftovers.check_and_end(what)
    if message:
        print(f"run_program: {message}", file=sys.stderr)
        return status or 1
    return status


if __name__ == "__main__":
    sys.exit(main())
