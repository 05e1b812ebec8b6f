"""kelmatrack end to end: a pass that crosses north rehearsed with --at and --speed against
kelmarotd (driving the controller simulator) and against Hamlib's rotctld (dummy rotator, whose
azimuth runs -180..450 and elevation 0..90), and a server that falls silent or goes away."""

import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "kelmarotd"))
from kelmarotd_e2e import Server, orders, start_sim, wait_until  # noqa: E402
from kelma_e2e import end_process  # noqa: E402

ELEMENTS = Path(__file__).resolve().parents[2] / "tools" / "bench" / "data" / "amateur-2024-02-12.txt"
# SO-50 seen from 60 N 10 E: rises in the west at 11:35:08, crosses north, sets in the east at
# 11:48:45; the lead time begins at 11:34:08.
PASS = ["--station", "60,10", "--track", "SAUDISAT 1C (SO-50)", "--at", "2024-02-12 11:34:00",
        "--speed", "150"]
PASS_WAIT_S = 30
ANSWER_WAIT_S = 10
# A step of the antenna between two commands; a swing across the stop is 180 or more.
LARGEST_STEP = 45
SIM_PORT = 1


class Tracker:
    """kelmatrack in its own process, its output in a file."""

    def __init__(self, workdir, *args):
        self.out = Path(workdir) / "kelmatrack.out"
        self.process = subprocess.Popen(
            [os.environ["KELMATRACK"], "--elements", str(ELEMENTS), *args],
            stdin=subprocess.DEVNULL, stdout=open(self.out, "w"), stderr=subprocess.STDOUT)

    def text(self):
        return self.out.read_text(errors="replace")

    def wait_for(self, pattern, timeout=PASS_WAIT_S):
        return wait_until(lambda: re.search(pattern, self.text()), timeout, what=pattern)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(ANSWER_WAIT_S)
            except subprocess.TimeoutExpired:
                end_process(self.process)
        return self.process.returncode


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def sent(tracker):
    return re.findall(r"  P (-?\d+) (\d+)\n", tracker.text())


def taken(tracker):
    return re.findall(r"Rotator took az (-?\d+) el (\d+)", tracker.text())


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port)).close()
        return True
    except OSError:
        return False


def assert_no_step_across_the_stop(azimuths, low, high):
    assert azimuths, "no azimuth commanded"
    assert all(low <= az <= high for az in azimuths), azimuths
    steps = [abs(b - a) for a, b in zip(azimuths, azimuths[1:])]
    assert max(steps, default=0) < LARGEST_STEP, azimuths


@pytest.fixture
def kelmarotd(tmp_path):
    (tmp_path / "prefix" / "dosdevices").mkdir(parents=True)
    env = {"WINEPREFIX": str(tmp_path / "prefix"), "PATH": "/usr/bin:/bin"}
    sim = start_sim(env, tmp_path / "sim", SIM_PORT)
    server = None
    try:
        device = tmp_path / "prefix" / "dosdevices" / f"com{SIM_PORT}"
        server = Server([os.environ["KELMAROTD"], "-r", str(device)], tmp_path)
        yield server, sim
    finally:
        if server:
            server.stop()
        sim.stop()


def test_over_the_top_across_north_with_kelmarotd(kelmarotd, tmp_path):
    server, sim = kelmarotd
    tracker = Tracker(tmp_path, "-r", f"127.0.0.1:{server.port}", "--park", "0,0", *PASS)
    try:
        tracker.wait_for(r"Rotator limits az 0\.\.360, el 0\.\.180: over the top")
        tracker.wait_for(r"plan: over the top")
        tracker.wait_for(r"Parking at az 0 el 0")
        wait_until(lambda: orders(sim, SIM_PORT)[-2:] == [("A", "000"), ("E", "000")],
                   ANSWER_WAIT_S, what="the antenna parked")
    finally:
        assert tracker.stop() == 0
    commands = orders(sim, SIM_PORT)
    azimuths = [int(arg) for axis, arg in commands if axis == "A"]
    elevations = [int(arg) for axis, arg in commands if axis == "E"]
    assert azimuths[-1] == 0 and elevations[-1] == 0  # parked
    assert_no_step_across_the_stop(azimuths[:-1], 0, 360)
    assert elevations[0] >= 178 and max(elevations) == 180 and min(elevations[:-1]) > 90


def test_in_the_overlap_across_north_with_hamlib_rotctld(tmp_path):
    port = free_port()
    rotctld = subprocess.Popen(["rotctld", "-m", "1", "-T", "127.0.0.1", "-t", str(port)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    tracker = None
    try:
        wait_until(lambda: listening(port), ANSWER_WAIT_S, what="rotctld listening")
        tracker = Tracker(tmp_path, "-r", f"127.0.0.1:{port}", "-v", *PASS)
        tracker.wait_for(r"Rotator limits az -180\.\.450, el 0\.\.90: not over the top")
        tracker.wait_for(r"plan: as predicted")
        tracker.wait_for(r"pass ended")
        wait_until(lambda: len(sent(tracker)) == len(taken(tracker)), ANSWER_WAIT_S,
                   what="the last position answered")
    finally:
        if tracker:
            assert tracker.stop() == 0
        end_process(rotctld)
    assert sent(tracker) == taken(tracker) and "refused" not in tracker.text()
    sent_positions = [(int(az), int(el)) for az, el in sent(tracker)]
    assert_no_step_across_the_stop([az for az, _ in sent_positions], -180, 450)
    assert max(az for az, _ in sent_positions) > 360
    assert max(el for _, el in sent_positions) <= 90


class SilentThenVanishing:
    """A server whose first client gets no answer at all, and whose second gets its limits
    (protocol 0) and then loses the connection at its first position."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.connections = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        try:
            silent, _ = self.listener.accept()
            self.connections.append(silent)
            second, _ = self.listener.accept()
            self.connections.append(second)
            reader = second.makefile("rb")
            assert reader.readline() == b"\\dump_state\n"
            second.sendall(b"0\n1\n0.0\n360.0\n0.0\n180.0\n")
            reader.readline()
            reader.close()  # the connection ends only when its file object is closed too
            second.close()
            while True:
                self.connections.append(self.listener.accept()[0])
        except OSError:
            pass  # closed at the end of the test

    def close(self):
        self.listener.close()
        for c in self.connections:
            c.close()


def test_outlasts_a_silent_server_and_one_that_goes_away(tmp_path):
    server = SilentThenVanishing()
    # The pass is under way: a position goes out as soon as the limits are known.
    tracker = Tracker(tmp_path, "-r", f"127.0.0.1:{server.port}", "--station", "60,10",
                      "--track", "SAUDISAT 1C (SO-50)", "--at", "2024-02-12 11:40:00")
    try:
        tracker.wait_for(r"No rotator at .*: no answer within 5 s; trying again every 2 s",
                         ANSWER_WAIT_S)
        tracker.wait_for(r"Rotator limits az 0\.\.360, el 0\.\.180", ANSWER_WAIT_S)
        tracker.wait_for(r"No rotator at .*: the server closed the connection", ANSWER_WAIT_S)
        wait_until(lambda: len(server.connections) >= 3, ANSWER_WAIT_S, what="a third connection")
        started = time.monotonic()
    finally:
        code = tracker.stop()
        server.close()
    assert code == 0 and time.monotonic() - started < 2
