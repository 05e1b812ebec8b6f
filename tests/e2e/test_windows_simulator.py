"""A rehearsal on one PC with the Windows controller simulator: kelma_sim.exe plays the controller
on COM2, at the far end of a virtual null-modem cable (two linked pseudo-terminals joined by
pty_bridge.py), while the program on COM1 tracks a pass that predsim.exe plays."""

import contextlib
import subprocess
import sys
import time
from pathlib import Path

import pytest

import kelma_e2e as k

BRIDGE = Path(__file__).resolve().parent / "pty_bridge.py"
PASS_LIMIT_S = 60  # the pass takes 12 s
SAMPLE_S = 0.2
LINK_CHECK = 'source "$0"/tests/harness/wine-session.sh && _harness_check_com_links "$WINEPREFIX"'


class Bridge:
    """pty_bridge.py joining COM<a> and COM<b> of the session's prefix."""

    def __init__(self, session, workdir, a, b):
        ready = Path(workdir) / "bridge.ready"
        self.process = subprocess.Popen(
            [sys.executable, str(BRIDGE), session.env["WINEPREFIX"], str(a), str(b), str(ready)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(Path(workdir) / "bridge.err", "w"))
        try:
            k.wait_until(ready.exists, 10, what="the pty bridge")
            # Every COM link of the prefix leads to a pseudo-terminal, never a real device.
            subprocess.run(["bash", "-c", LINK_CHECK, str(k.REPO)], env=session.env, check=True,
                           stdin=subprocess.DEVNULL)
        except BaseException:
            self.stop()
            raise

    def stop(self):
        k.end_process(self.process)


class WindowsSim:
    """kelma_sim.exe under Wine, given its commands on standard input."""

    def __init__(self, session, exe, workdir, port, *options):
        self.out = Path(workdir) / "kelma_sim_exe.out"
        self.process = subprocess.Popen(
            [session.wine, str(exe), port, *options], env=session.env, stdin=subprocess.PIPE,
            stdout=open(self.out, "w"), stderr=subprocess.STDOUT)
        try:
            k.wait_until(lambda: "controller ready on " + port in self.out.read_text(), 30,
                         what="kelma_sim.exe")
        except BaseException:
            self.stop()
            raise

    def replies(self):
        return [line for line in self.out.read_text().splitlines()
                if line.startswith(("ok", "err"))]

    def command(self, line):
        before = len(self.replies())
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()
        reply = k.wait_until(lambda: self.replies()[before:], 10, what=f"reply to {line!r}")[0]
        if not reply.startswith("ok"):
            raise RuntimeError(f"kelma_sim.exe: {line!r} -> {reply!r}")
        return reply[2:].strip()

    def position(self):
        """(az, el, target az, target el, az moving, el moving)."""
        values = self.command("get").split()
        return tuple(float(v) for v in values[:4]) + tuple(v == "1" for v in values[4:])

    def stop(self):
        try:
            if self.process.poll() is None:
                self.command("quit")
                self.process.wait(k.STOP_WAIT_S)
        except (OSError, RuntimeError, TimeoutError, subprocess.TimeoutExpired):
            pass  # it did not end by itself: ended by its PID below
        finally:
            k.end_process(self.process)


@pytest.fixture
def started():
    """Processes of one test, ended newest first, every one even when another fails to end."""
    processes = []
    yield processes
    with contextlib.ExitStack() as stack:
        for process in processes:
            stack.callback(process.stop)


@pytest.mark.slow
def test_rehearsal_pass_through_the_windows_controller_simulator(session, build, workdir, started):
    started.append(Bridge(session, workdir, 1, 2))
    exe = build.windows_sim
    # Slower than the pass moves (3.3 and 6.7 degrees a second), so every report during it
    # says "moving".
    sim = WindowsSim(session, exe, workdir, "COM2", "--az-rate", "2", "--el-rate", "3")
    started.append(sim)
    sim.command("setpos 150 0")
    pred = k.PredSim(session, build, workdir)
    started.append(pred)
    pred.run("name ISS")
    pred.run("azel 150.0|-6.0")
    app = k.App(session, build, workdir, [1])
    started.append(app)
    app.wait_text(k.IDC_SAT_NAME, "ISS")

    # A 12-second pass: azimuth 150 to 110, elevation up to 40 and down again.
    script = "pass 0.1 120 40 150 110"
    pred.send(script)
    shown = set()
    deadline = time.monotonic() + PASS_LIMIT_S
    while not any(text == "ok " + script for _, text in pred.events()):
        assert time.monotonic() < deadline, "the pass did not end"
        window = app.state()
        shown.update((window.text(k.IDC_POS_AZ), window.text(k.IDC_POS_EL)))
        time.sleep(SAMPLE_S)
    # The controller's "moving" reports came back over the cable and were shown as such.
    assert any(text.startswith("<") and text.endswith(">") for text in shown), shown

    # kelma_sim.exe got exactly the commands the pass calls for, polls between them.
    expected = k.TrackingModel().feed(["150.0|-6.0"] + [text for _, text in pred.posts()])

    def received():
        """The commands once as many as expected have arrived (the last may still be on its way)."""
        commands, _ = k.split_commands([(0, bytes.fromhex(sim.command("recv")))])
        tracking = [(c.axis, c.arg) for c in commands if not c.is_poll]
        return (commands, tracking) if len(tracking) >= len(expected) else None

    commands, tracking = k.wait_until(received, 10, what="the pass's last commands")
    assert tracking == expected
    assert any(c.is_poll for c in commands)

    # Once the antenna stands, the window shows where kelma_sim.exe says it is.
    k.wait_until(lambda: not any(sim.position()[4:]), 30, what="the rotator to stand")
    az, el = sim.position()[:2]
    app.wait_text(k.IDC_POS_AZ, "%03d" % int(az), timeout=10)
    app.wait_text(k.IDC_POS_EL, "%03d" % int(el), timeout=10)
