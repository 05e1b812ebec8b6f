"""kelmarotd beside Hamlib's rotctld (EasycommI), both on pseudo-terminals this script owns, in
one run: latency from a P command to the first byte on the serial line, and CPU while idle and
while following a pass at one update a second. Prints a table with ratios; asserts nothing.
  kelmarotd_bench.py KELMAROTD [--samples N] [--idle-seconds S] [--pass-seconds S]
"""

import argparse
import os
import pty
import re
import select
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty
from pathlib import Path

EASYCOMM_I = "201"
START_WAIT_S = 10
ANSWER_WAIT_S = 5


def now_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC)


class SerialEnd:
    """The controller's side of a pseudo-terminal: records when each burst of bytes arrives."""

    def __init__(self):
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.path = os.ttyname(slave)
        self.slave = slave  # kept open so the pty lives while the server reopens it
        self.arrivals = []
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self.read_loop, daemon=True)
        self.thread.start()

    def read_loop(self):
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.2)
            if ready:
                stamp = now_ns()
                try:
                    os.read(self.master, 4096)
                except OSError:
                    return
                with self.lock:
                    self.arrivals.append(stamp)

    def first_after(self, start):
        with self.lock:
            later = [t for t in self.arrivals if t >= start]
        return later[0] if later else None

    def close(self):
        self.running = False
        self.thread.join()
        os.close(self.master)
        os.close(self.slave)


class Server:
    def __init__(self, name, command, port, workdir):
        self.name = name
        self.port = port
        self.log = open(Path(workdir) / f"{name}.log", "w")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        deadline = time.monotonic() + START_WAIT_S
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port), timeout=ANSWER_WAIT_S)
                break
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise RuntimeError(f"{name} did not start")
                time.sleep(0.05)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.reader = self.socket.makefile("rb")

    def set_position(self, az, el):
        self.socket.sendall(f"P {az:.2f} {el:.2f}\n".encode())
        return self.reader.readline().decode().strip()

    def cpu_ns(self):
        """Time on a CPU so far of all its threads (rotctld has one per client), from the
        scheduler's own account in nanoseconds."""
        total = 0
        for task in Path(f"/proc/{self.process.pid}/task").iterdir():
            try:
                total += int((task / "schedstat").read_text().split()[0])
            except (FileNotFoundError, ProcessLookupError):
                pass  # a thread that just ended
        return total

    def stop(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait(ANSWER_WAIT_S)
        self.log.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def measure_latency(servers, ends, samples):
    results = {s.name: [] for s in servers}
    for i in range(samples):
        # Both axes change every time, so every P reaches the serial line.
        az, el = 10 + (i % 300), 5 + (i % 80)
        for server in servers:
            start = now_ns()
            reply = server.set_position(az + 0.25, el + 0.25)
            if reply != "RPRT 0":
                raise RuntimeError(f"{server.name}: P answered {reply!r}")
            first = None
            deadline = time.monotonic() + ANSWER_WAIT_S
            while first is None and time.monotonic() < deadline:
                first = ends[server.name].first_after(start)
                if first is None:
                    time.sleep(0.001)
            if first is None:
                raise RuntimeError(f"{server.name}: nothing reached the serial line")
            results[server.name].append((first - start) / 1e6)
    return results


def cpu_percent(servers, seconds, each_second=None):
    before = {s.name: s.cpu_ns() for s in servers}
    started = time.monotonic()
    for tick in range(int(seconds)):
        if each_second:
            each_second(tick)
        time.sleep(max(0.0, started + tick + 1 - time.monotonic()))
    elapsed = time.monotonic() - started
    return {s.name: 100.0 * (s.cpu_ns() - before[s.name]) / 1e9 / elapsed for s in servers}


def p99(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(0.99 * (len(ordered) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kelmarotd")
    parser.add_argument("--samples", type=int, default=100)
    parser.add_argument("--idle-seconds", type=int, default=20)
    parser.add_argument("--pass-seconds", type=int, default=30)
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="kelmarotd-bench.")
    ends = {"kelmarotd": SerialEnd(), "rotctld": SerialEnd()}
    ports = {name: free_port() for name in ends}
    servers = []
    try:
        servers.append(Server("kelmarotd", [args.kelmarotd, "-r", ends["kelmarotd"].path, "-t",
                                            str(ports["kelmarotd"])], ports["kelmarotd"], workdir))
        servers.append(Server("rotctld", ["rotctld", "-m", EASYCOMM_I, "-r", ends["rotctld"].path,
                                          "-T", "127.0.0.1", "-t", str(ports["rotctld"])],
                              ports["rotctld"], workdir))
        time.sleep(1)  # both settled after their start
        idle = cpu_percent(servers, args.idle_seconds)

        def pass_step(tick):  # a pass: azimuth sweeps, elevation rises and falls
            az = (120 + tick * 1.7) % 360
            el = 60 - abs(tick - args.pass_seconds / 2) * 120 / args.pass_seconds
            for server in servers:
                server.set_position(az, max(el, 0))

        tracking = cpu_percent(servers, args.pass_seconds, pass_step)
        latency = measure_latency(servers, ends, args.samples)
    finally:
        for server in servers:
            server.stop()
        for end in ends.values():
            end.close()

    version = subprocess.run(["rotctld", "-V"], capture_output=True, text=True).stdout
    version = version.splitlines()[0] if version else "rotctld"
    rows = [
        ("P -> first serial byte, median (ms)", statistics.median(latency["kelmarotd"]),
         statistics.median(latency["rotctld"])),
        ("P -> first serial byte, p99 (ms)", p99(latency["kelmarotd"]), p99(latency["rotctld"])),
        ("CPU idle (% of one core)", idle["kelmarotd"], idle["rotctld"]),
        ("CPU, pass at 1 update/s (% of one core)", tracking["kelmarotd"], tracking["rotctld"]),
    ]
    print(f"kelmarotd vs {version} (EasycommI), {args.samples} latency samples, "
          f"{args.idle_seconds} s idle, {args.pass_seconds} s pass")
    print(f"| {'measure':<42} | {'kelmarotd':>10} | {'rotctld':>10} | {'ratio':>6} |")
    print(f"|{'-' * 44}|{'-' * 12}|{'-' * 12}|{'-' * 8}|")
    for name, ours, theirs in rows:
        ratio = f"{ours / theirs:.2f}" if theirs > 0 else "n/a"
        print(f"| {name:<42} | {ours:>10.3f} | {theirs:>10.3f} | {ratio:>6} |")
    print("ratio = kelmarotd / rotctld; below 1 means kelmarotd is faster or lighter")


if __name__ == "__main__":
    sys.exit(main())
