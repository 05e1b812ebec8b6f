"""Side-by-side benchmark, one run: Hamlib's rotctld (EasycommI backend on a pseudo-terminal made
here) against KelmaRotator.exe under Wine (the end-to-end benchmark's measurements), and Wine's
floor for a program waiting on a COM port (comm_floor.exe). Prints figures and ratios; asserts
nothing. Run it through peer_bench.sh (a harness session of its own).

Peer latency: a network position command ("P az el") to the first byte on the serial line.
Program latency: the prediction program's post of a new position to the first byte of the
azimuth command. CPU: the process alone, during a pass of one update a second and while idle.
"""

import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import tty
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "e2e"))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import e2e_bench as bench  # noqa: E402
import kelma_e2e as k  # noqa: E402

ROTCTLD_EASYCOMM1 = 201  # rotctl -l: "Hamlib EasycommI"
ELEVATION = 45


def free_tcp_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Peer:
    """rotctld on a pseudo-terminal pair made here; we hold the controller's end."""

    def __init__(self, workdir):
        self.controller, line = os.openpty()
        tty.setraw(self.controller)
        self.line_fd = line  # kept open so the line stays up between rotctld's writes
        port = free_tcp_port()
        self.process = subprocess.Popen(
            ["rotctld", "-m", str(ROTCTLD_EASYCOMM1), "-r", os.ttyname(line), "-s", "9600",
             "-T", "127.0.0.1", "-t", str(port)],
            stdin=subprocess.DEVNULL, stdout=open(workdir / "rotctld.log", "w"),
            stderr=subprocess.STDOUT)
        try:
            self.client = k.wait_until(lambda: self._connect(port), 10, what="rotctld")
        except BaseException:
            self.stop()
            raise
        self.replies = self.client.makefile("rb")

    @staticmethod
    def _connect(port):
        try:
            return socket.create_connection(("127.0.0.1", port))
        except ConnectionRefusedError:
            return None

    def set_position(self, az, el):
        """Sends one position command; returns the ms until its first byte on the line."""
        sent = time.monotonic_ns()
        self.client.sendall(b"P %d %d\n" % (az, el))
        os.read(self.controller, 1)  # blocks until rotctld writes
        first = time.monotonic_ns()
        reply = self.replies.readline()
        if not reply.startswith(b"RPRT 0"):
            raise RuntimeError(f"rotctld: {reply!r}")
        self.drain()
        return (first - sent) / 1e6

    def drain(self):
        os.set_blocking(self.controller, False)
        try:
            while os.read(self.controller, 4096):
                pass
        except BlockingIOError:
            pass
        finally:
            os.set_blocking(self.controller, True)

    def stop(self):
        if getattr(self, "client", None):
            self.client.close()
        k.end_process(self.process)
        os.close(self.controller)
        os.close(self.line_fd)


def peer_figures(workdir, updates, interval, pass_seconds, idle_seconds):
    peer = Peer(workdir)
    try:
        latencies = []
        for i in range(updates):
            latencies.append(peer.set_position(i % 360, ELEVATION))
            time.sleep(interval)
        cpu_before, wall_before = bench.process_cpu_seconds(peer.process.pid), time.monotonic()
        for second in range(int(pass_seconds)):
            peer.set_position((second * 3) % 360, ELEVATION + second % 20)
            time.sleep(max(0.0, wall_before + second + 1 - time.monotonic()))
        pass_cpu = 100.0 * (bench.process_cpu_seconds(peer.process.pid) - cpu_before) / (
            time.monotonic() - wall_before)
        idle_cpu = bench.cpu_percent_over([peer.process.pid], idle_seconds)[0]
    finally:
        peer.stop()
    print(f"rotctld: {len(latencies)} position commands every {interval * 1000:.0f} ms: median "
          f"{statistics.median(latencies):.2f} ms, p99 {bench.percentile(latencies, 0.99):.2f} ms,"
          f" max {max(latencies):.2f} ms; pass CPU {pass_cpu:.2f} %, idle {idle_cpu:.2f} %")
    return latencies, pass_cpu, idle_cpu


class WineFloor:
    """comm_floor.exe, a bare overlapped WaitCommEvent, waiting on COM2 of its own controller
    simulator while the program runs on COM1: its CPU is measured over the same seconds as the
    program's, so both meet the same load on the machine."""

    PORT = 2

    def __init__(self, session, build, workdir):
        self.sim = k.Sim(session, build, workdir, ports=(self.PORT,))
        output = workdir / "comm_floor.out"
        exe = build.root / build.arch / "tools" / "bench" / "comm_floor.exe"
        self.process = subprocess.Popen([session.wine, str(exe), str(self.PORT)], env=session.env,
                                        stdin=subprocess.DEVNULL, stdout=open(output, "w"),
                                        stderr=subprocess.STDOUT)
        try:
            k.wait_until(lambda: "waiting" in output.read_text(), 30, what="comm_floor")
        except BaseException:
            self.stop()
            raise
        self.pid = self.process.pid

    def stop(self):
        k.end_process(self.process)
        self.sim.stop()


def row(name, peer, program, unit, ratio=True):
    quotient = f"{program / peer:8.2f}" if ratio and peer > 0 else "       -"
    print(f"  {name:<28}{peer:10.2f}{program:10.2f}  {unit:<4}{quotient}")


def verdict(text, met):
    print(f"  {'met    ' if met else 'NOT met'}  {text}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--updates", type=int, default=500, help="latency: updates")
    parser.add_argument("--interval", type=float, default=0.2, help="latency: seconds apart")
    parser.add_argument("--pass-seconds", type=float, default=60.0, help="1 update/s pass")
    parser.add_argument("--idle-seconds", type=float, default=60.0, help="idle (Wine's floor is measured beside the pass and the idle time)")
    args = parser.parse_args()
    build = k.Build.locate()
    comm_floor = build.root / build.arch / "tools" / "bench" / "comm_floor.exe"
    if build.missing() or not comm_floor.exists():
        sys.exit(f"peer_bench: not built: {', '.join(build.missing() + [str(comm_floor)])}")
    session = k.Session.from_environment()
    if session is None:
        sys.exit("peer_bench: run it through peer_bench.sh (it needs a harness session)")
    with tempfile.TemporaryDirectory(prefix="kelma-peer-bench.") as scratch:
        scratch = Path(scratch)
        for name in ("peer", "latency", "pass", "idle", "floor"):
            (scratch / name).mkdir()
        peer_lat, peer_pass, peer_idle = peer_figures(scratch / "peer", args.updates,
                                                      args.interval, args.pass_seconds,
                                                      args.idle_seconds)
        lat = bench.measure_latency(session, build, scratch / "latency", args.updates,
                                    args.interval)
        floor = WineFloor(session, build, scratch / "floor")
        try:
            prog_pass, floor_pass = bench.measure_pass(session, build, scratch / "pass",
                                                       args.pass_seconds, beside=floor.pid)
            prog_idle, floor_idle = bench.measure_idle(session, build, scratch / "idle",
                                                       args.idle_seconds, beside=floor.pid)
        finally:
            floor.stop()
    print(f"Wine's floor (comm_floor.exe waiting on COM{WineFloor.PORT}, measured beside the "
          f"program): {floor_pass:.2f} % during the pass, {floor_idle:.2f} % during the idle time")

    print("\nSide by side                    rotctld   program        ratio")
    row("latency median", statistics.median(peer_lat), statistics.median(lat), "ms")
    row("latency p99", bench.percentile(peer_lat, 0.99), bench.percentile(lat, 0.99), "ms")
    row("latency max", max(peer_lat), max(lat), "ms")
    row("CPU, 1 update/s pass", peer_pass, prog_pass, "%")
    row("CPU, idle", peer_idle, prog_idle, "%")
    print(f"  Wine's floor beside it {floor_pass:.2f} % / {floor_idle:.2f} %: the program above "
          f"it {prog_pass - floor_pass:.2f} % in the pass, {prog_idle - floor_idle:.2f} % idle")
    print("Targets:")
    verdict("p99 at most 3 x the peer's",
            bench.percentile(lat, 0.99) <= 3 * bench.percentile(peer_lat, 0.99))
    verdict("median at most the peer's", statistics.median(lat) <= statistics.median(peer_lat))
    verdict("pass CPU at most 1 % above the floor", prog_pass - floor_pass <= 1.0)
    verdict("idle CPU at most 1 % above the floor", prog_idle - floor_idle <= 1.0)


if __name__ == "__main__":
    main()
