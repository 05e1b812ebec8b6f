"""kelmarotd built for Windows, run under Wine in the harness session's private prefix: Hamlib's
rotctl drives the simulated controller on a COM port that is a kelma_sim pseudo-terminal."""

import os
import signal

import pytest

from kelmarotd_e2e import Server, drive_with_rotctl, start_sim, unplug_and_replug
from kelma_e2e import Session

PORT = 4


@pytest.fixture
def rig(tmp_path):
    session = Session.from_environment()
    if session is None:
        pytest.fail("needs a harness session (tests/harness/wine-session.sh): never Wine bare")
    env = dict(session.env)
    env.pop("KELMA_SIM", None)  # wine-run.sh would start a second simulator
    sim = start_sim(env, tmp_path / "sim", PORT)
    server = None
    try:
        command = [os.environ["WINE_RUN"], os.environ["KELMAROTD_EXE"], "-r", f"COM{PORT}"]
        # Its own process group: the signal reaches wine-run.sh and, through timeout, Wine.
        server = Server(command, tmp_path, env=env, new_session=True)
        yield server, sim
    finally:
        if server:
            os.killpg(server.process.pid, signal.SIGTERM)
            server.stop()
        sim.stop()


def test_windows_build_serves_rotctl_and_survives_an_unplug(rig):
    server, sim = rig
    drive_with_rotctl(server, sim, PORT)
    unplug_and_replug(server, sim, PORT)
