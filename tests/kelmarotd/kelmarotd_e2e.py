"""End-to-end helpers for kelmarotd: the server in its own process (native, or the Windows build
under Wine through tests/harness/wine-run.sh), the KELMA controller simulator on a
pseudo-terminal, raw protocol clients and Hamlib's own rotctl as the real peer. The scenarios
here are shared by the native and the Wine tests.
"""

import os
import re
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path
from types import SimpleNamespace

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from kelma_e2e import Sim, end_process, split_commands, wait_until  # noqa: E402

START_WAIT_S = 30
ANSWER_WAIT_S = 10
# A report is at most 2 s old when answered; a position set at the simulator shows within that.
REPORT_WAIT_S = 5
DUMP_STATE = ("1\n2\nmin_az=0.000000\nmax_az=360.000000\nmin_el=0.000000\nmax_el=180.000000\n"
              "south_zero=0\nrot_type=AzEl\ndone\n")


def start_sim(env, workdir, port, plugged=True):
    """kelma_sim with `port` plugged (or to be plugged later); env must name a WINEPREFIX with
    dosdevices/."""
    return Sim(SimpleNamespace(env=env), SimpleNamespace(sim=os.environ["KELMA_SIM"]), workdir,
               ports=(port,) if plugged else ())


def pty_device(workdir, port):
    """The link to the simulated controller's pseudo-terminal that serve_on_a_pty names."""
    return Path(workdir) / "prefix" / "dosdevices" / f"com{port}"


def serve_on_a_pty(program, workdir, port, options=(), plugged=True):
    """kelmarotd for Linux (`program`: its command line before the options, an emulator's too)
    with `options` on the simulated controller's `port`; yields (server, sim), then ends both, the
    server by SIGTERM, which must end it cleanly."""
    (Path(workdir) / "prefix" / "dosdevices").mkdir(parents=True)
    env = {"WINEPREFIX": str(Path(workdir) / "prefix"), "PATH": "/usr/bin:/bin"}
    sim = start_sim(env, Path(workdir) / "sim", port, plugged)
    server = None
    try:
        server = Server([*program, "-r", str(pty_device(workdir, port)), *options], workdir)
        yield server, sim
        assert server.stop(signal.SIGTERM) == 0
    finally:
        if server:
            server.stop()
        sim.stop()


class Server:
    """kelmarotd listening on a free loopback port, its stderr in a file."""

    def __init__(self, command, workdir, env=None, new_session=False):
        self.log = Path(workdir) / "kelmarotd.err"
        self.process = subprocess.Popen(
            command + ["-t", "0", "-v"], env=env, stdin=subprocess.DEVNULL,
            stdout=open(Path(workdir) / "kelmarotd.out", "w"), stderr=open(self.log, "w"),
            start_new_session=new_session)
        try:
            found = wait_until(lambda: re.search(r"listening on \S+ port (\d+)", self.text()),
                               START_WAIT_S, what="kelmarotd listening")
        except BaseException:
            self.stop()
            raise
        self.port = int(found.group(1))

    def text(self):
        return self.log.read_text(errors="replace")

    def rotctl(self, *args):
        """Hamlib's NET rotctl (model 2) against us; returns (exit code, what it printed)."""
        done = subprocess.run(["rotctl", "-m", "2", "-r", f"127.0.0.1:{self.port}", *args],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=ANSWER_WAIT_S * 3)
        return done.returncode, done.stdout

    def client(self):
        return Client(self.port)

    def cpu_seconds(self):
        fields = Path(f"/proc/{self.process.pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self, sig=signal.SIGTERM):
        """Sends sig to the server we started and returns its exit code."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                self.process.wait(ANSWER_WAIT_S)
            except subprocess.TimeoutExpired:
                end_process(self.process)
        return self.process.returncode


class Client:
    """A raw protocol client: one line out, the expected number of lines back."""

    def __init__(self, port, address="127.0.0.1"):
        self.socket = socket.create_connection((address, port), timeout=ANSWER_WAIT_S)
        self.reader = self.socket.makefile("rb")

    def send(self, data):
        self.socket.sendall(data)

    def ask(self, line, lines=1):
        self.send(line.encode() + b"\n")
        return [self.reader.readline().decode() for _ in range(lines)]

    def close(self):
        self.reader.close()
        self.socket.close()


def orders(sim, port):
    """The commands (not the polls) the controller received, as (axis, argument); checks that
    everything else was a poll and nothing is left over."""
    commands, rest = split_commands(sim.chunks(port))
    assert rest == b""
    return [(c.axis, c.arg) for c in commands if not c.is_poll]


def drive_with_rotctl(server, sim, port):
    """A tracking program's session through Hamlib's client: set, read, stop, park, state."""
    sim.clear(port)
    assert server.rotctl("set_pos", "45.4", "10.6") == (0, "")
    assert server.rotctl("dump_state") == (0, DUMP_STATE)
    # The controller's state after its name; rotctl ends the line with an empty one of its own.
    wait_until(lambda: server.rotctl("get_info") == (0, "KELMA rotator controller: answering\n\n"),
               REPORT_WAIT_S, what="get_info telling the controller answers")
    wait_until(lambda: orders(sim, port) == [("A", "045"), ("E", "011")], ANSWER_WAIT_S,
               what="the set_pos commands")

    sim.command(f"setpos {port} 123 45")
    wait_until(lambda: server.rotctl("get_pos") == (0, "123.00\n45.00\n"), REPORT_WAIT_S,
               what="the reported position")

    sim.clear(port)
    assert server.rotctl("stop") == (0, "")
    assert server.rotctl("park") == (0, "")
    wait_until(lambda: orders(sim, port) == [("A", "S"), ("E", "S"), ("A", "000"), ("E", "000")],
               ANSWER_WAIT_S, what="stop and park")


def unplug_and_replug(server, sim, port):
    """The controller's adapter pulled and put back: errors meanwhile, then service again
    without a restart."""
    client = server.client()
    sim.command(f"unplug {port}")
    assert client.ask("P 10 10") == ["RPRT -6\n"]
    assert client.ask("p") == ["RPRT -6\n"]
    code, printed = server.rotctl("set_pos", "20", "20")
    assert code != 0 and printed.rstrip().endswith("IO error")

    sim.command(f"plug {port}")
    sim.clear(port)
    wait_until(lambda: client.ask("P 20 30") == ["RPRT 0\n"], REPORT_WAIT_S,
               what="the reopened port")
    wait_until(lambda: orders(sim, port) == [("A", "020"), ("E", "030")], ANSWER_WAIT_S,
               what="commands on the reopened port")
    client.close()
    assert server.process.poll() is None
