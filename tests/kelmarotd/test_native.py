"""kelmarotd built for Linux, driving the simulated controller on a pseudo-terminal."""

import os
import re
import signal
import subprocess
import time

import pytest

from client_matrix import SERVER_OPTIONS, STANDING, run_matrix
from kelmarotd_e2e import (ANSWER_WAIT_S, REPORT_WAIT_S, Client, Server, drive_with_rotctl,
                           orders, pty_device, serve_on_a_pty, start_sim, unplug_and_replug,
                           wait_until)

PORT = 1
HOG_BYTES = 200_000
IDLE_CHECK_S = 2
# Far above what an idle server uses, far below a spinning core.
SPIN_LIMIT = 0.25
# Slow enough that the standing controller reports the same whole degrees throughout a test.
CRAWL_RATE = 0.001
# Long enough for the server to try a missing port again.
RETRIES_S = 1.5
SILENCE_S = 5  # without a report for this long the controller does not answer


def serving(tmp_path, options=(), plugged=True):
    yield from serve_on_a_pty([os.environ["KELMAROTD"]], tmp_path, PORT, options, plugged)


@pytest.fixture
def rig(tmp_path):
    yield from serving(tmp_path)


@pytest.fixture
def matrix_rig(tmp_path):
    yield from serving(tmp_path, SERVER_OPTIONS)


@pytest.fixture
def unplugged_rig(tmp_path):
    yield from serving(tmp_path, plugged=False)


def test_rotctl_drives_the_controller(rig):
    drive_with_rotctl(*rig, PORT)


def test_clients_share_the_controller_and_outlast_bad_input(rig):
    server, sim = rig
    first, second, hog = server.client(), server.client(), server.client()
    hog.send(b"x" * HOG_BYTES)  # one huge line without its end
    assert first.ask("Z") == ["RPRT -1\n"]
    assert first.ask("P 400 0") == ["RPRT -1\n"]
    assert first.ask("\\set_pos 1 2 3") == ["RPRT -1\n"]
    assert first.ask("+P 10 20", 2) == ["set_pos: 10 20\n", "RPRT 0\n"]
    assert second.ask("|\\set_pos 10 20") == ["set_pos: 10 20|RPRT 0\n"]
    assert re.fullmatch(r"get_info:;Info: KELMA rotator controller: [^;\n]+;RPRT 0\n",
                        second.ask(";\\get_info")[0])
    assert hog.ask("") == ["RPRT -1\n"]  # its line ends at last: one answer, still connected
    assert hog.ask("_")[0].startswith("KELMA rotator controller: ")  # and the controller's state

    # A client that leaves right after its command: the command completes, the next follows.
    # The answers come before the elevation commands: the first set's must be out before.
    wait_until(lambda: ("E", "020") in orders(sim, PORT), 5, what="the first elevation")
    sim.clear(PORT)
    leaver = server.client()
    leaver.send(b"P 100 50\n")
    leaver.close()
    wait_until(lambda: orders(sim, PORT)[:1] == [("A", "100")], 5, what="the leaver's command")
    assert second.ask("P 200 60") == ["RPRT 0\n"]
    both = [("A", "100"), ("E", "050"), ("A", "200"), ("E", "060")]
    wait_until(lambda: orders(sim, PORT) == both, 5, what="both commands in order")

    # Controller junk among the reports changes nothing.
    sim.command(f"setpos {PORT} 77 33")
    for junk in (f"junk {PORT} 40", f"long {PORT} 300", f"nul {PORT}", f"junk {PORT} 5"):
        sim.command(junk)
    wait_until(lambda: first.ask("p", 2) == ["77.000000\n", "33.000000\n"], 5,
               what="the position after junk")
    for client in (first, second, hog):
        client.close()


def test_listens_on_every_address_given_and_refuses_one_it_cannot_take(tmp_path):
    """Loopback and a second address together (here both loopback: tests bind nothing else); an
    address this computer does not have ends it with status 1, not skipped for the others."""
    for server, _ in serving(tmp_path, ["-T", "127.0.0.1", "--listen-addr=127.0.0.2"]):
        port = str(server.port)
        listening = re.findall(r"listening on (\S+) port (\d+)", server.text())
        assert listening == [("127.0.0.1", port), ("127.0.0.2", port)]
        for address, _ in listening:
            client = Client(server.port, address)
            assert client.ask("_")[0].startswith("KELMA rotator controller: ")
            client.close()
        assert "warning" not in server.text()
    # TEST-NET-1 (RFC 5737): an address no computer here has.
    device = tmp_path / "never-opened"
    done = subprocess.run([os.environ["KELMAROTD"], "-r", str(device), "-t", "0", "-T",
                           "127.0.0.1", "-T", "192.0.2.1"], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=ANSWER_WAIT_S)
    assert done.returncode == 1 and "cannot listen on 192.0.2.1 port " in done.stderr, done.stderr
    assert not device.exists()


def test_idle_server_with_a_stalled_client_does_not_spin(rig):
    server, _ = rig
    hog = server.client()
    hog.send(b"P 1")  # an unfinished line
    before = server.cpu_seconds()
    time.sleep(IDLE_CHECK_S)
    assert server.cpu_seconds() - before < SPIN_LIMIT * IDLE_CHECK_S
    hog.close()


def test_unplugged_controller_gives_io_errors_until_it_is_back(rig):
    unplug_and_replug(*rig, PORT)


def test_the_owner_is_told_once_what_the_controller_does(unplugged_rig, tmp_path):
    """A port not there yet, tried every second; then plugged, the controller answering; then
    silent. The log tells each change once, naming the port, and get_info the state now."""
    server, sim = unplugged_rig
    device = pty_device(tmp_path, PORT)
    client = server.client()
    assert client.ask("_") == ["KELMA rotator controller: port missing, retrying every second\n"]
    time.sleep(RETRIES_S)

    sim.command(f"plug {PORT}")
    wait_until(lambda: client.ask("_") == ["KELMA rotator controller: answering\n"],
               REPORT_WAIT_S, what="get_info telling the controller answers")
    sim.command(f"auto {PORT} off")
    wait_until(lambda: client.ask("_") == ["KELMA rotator controller: not answering\n"],
               SILENCE_S + REPORT_WAIT_S, what="get_info telling the controller is silent")
    client.close()
    told = re.findall(r"^kelmarotd: controller ([^<>].*)$", server.text(), re.MULTILINE)
    assert told == [f"port {device}: No such file or directory; retrying every second",
                    f"port {device} open, no report yet", f"answering on {device}",
                    f"not answering on {device}: no position report for 5 s"]


def test_ctrl_c_ends_the_server_cleanly(rig):
    server, _ = rig
    client = server.client()
    assert server.stop(signal.SIGINT) == 0
    assert "stopping" in server.text()
    assert client.reader.read() == b""  # its connection was closed, not left hanging
    client.close()


def test_every_client_of_the_matrix_drives_the_controller(matrix_rig):
    """The tracking programs of tests/kelmarotd/client_matrix.py, one after the other."""
    server, sim = matrix_rig
    sim.command(f"rate {PORT} {CRAWL_RATE} {CRAWL_RATE}")
    sim.command(f"setpos {PORT} {STANDING[0]:.0f} {STANDING[1]:.0f}")
    client = server.client()
    expected = [f"{angle:f}\n" for angle in STANDING]
    wait_until(lambda: client.ask("p", 2) == expected, REPORT_WAIT_S, what="the standing position")
    client.close()
    table, failures = run_matrix(server, sim, PORT)
    print(table)
    assert not failures, "\n".join(failures)
