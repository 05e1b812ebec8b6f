"""End-to-end benchmark of the real KelmaRotator.exe under Wine, with both simulators in their own
processes. Prints figures; asserts nothing. Run it through e2e_bench.sh (its own harness session).

1. Tracking latency: from the prediction simulator's post of a new position to the first byte of
   the azimuth command at the controller, over many updates, beside the command's wire time.
2. CPU time and peak memory of the program's process during a simulated pass.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "e2e"))

import kelma_e2e as k  # noqa: E402

BITS_PER_BYTE = 10  # 8N1: start bit, 8 data bits, stop bit
BAUD = 9600
ELEVATION = 45
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def wire_ms(command):
    return len(command) * BITS_PER_BYTE * 1000.0 / BAUD


def start(session, build, workdir):
    sim = k.Sim(session, build, workdir, ports=(1,))
    pred = k.PredSim(session, build, workdir)
    pred.run("name BENCH-1")
    pred.run(f"azel 0|{ELEVATION}")
    app = k.App(session, build, workdir)
    app.wait_text(k.IDC_SAT_NAME, "BENCH-1")
    return sim, pred, app


def check_clock(session, build, workdir):
    """The latency figures assume that Wine's performance counter runs on CLOCK_MONOTONIC_RAW."""
    before = time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) // 1000
    counter = k.Probe(session, build, workdir).now()
    after = time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) // 1000
    if not before <= counter <= after:
        print(f"  WARNING: the performance counter ({counter}) is not CLOCK_MONOTONIC_RAW "
              f"({before}..{after}); the latency figures below are off")


def command_latencies(posts, commands, offset_before, offset_after):
    """ms from each post [(performance-counter µs, azimuth)] to the first byte of its azimuth
    command ({"%03d" text: CLOCK_MONOTONIC µs}), with the clocks' offset measured before and
    after the run; posts without a command are left out."""
    first, last = posts[0][0], posts[-1][0]
    latencies = []
    for t_raw, az in posts:
        sent = commands.get("%03d" % az)
        if sent is None:
            continue
        share = (t_raw - first) / max(1, last - first)  # the two clocks drift apart slowly
        offset = offset_before + (offset_after - offset_before) * share
        latencies.append((sent - (t_raw + offset)) / 1000.0)
    return latencies


def play_ramp(sim, pred, app, updates, interval):
    """Once the first commands are out, a ramp of azimuths 1..updates; returns the azimuth
    commands ({"%03d" text: CLOCK_MONOTONIC µs}) and the clocks' offset before and after."""
    k.wait_until(lambda: len([c for c in sim.commands() if not c.is_poll]) >= 2, 10,
                 what="the first commands")
    sim.clear()
    offset_before = k.raw_to_monotonic_offset_us()
    pred.run(f"ramp {updates} {interval} {ELEVATION}", timeout=updates * interval * 3 + 60)
    app.wait_text(k.IDC_DDE_AZ, "%03d" % updates, timeout=60)
    time.sleep(0.5)
    offset_after = k.raw_to_monotonic_offset_us()
    commands = {c.arg: c.t for c in sim.commands() if not c.is_poll and c.axis == "A"}
    return commands, offset_before, offset_after


def measure_latency(session, build, workdir, updates, interval):
    """Prints the figures and returns the latencies in ms."""
    workdir.mkdir(parents=True, exist_ok=True)
    check_clock(session, build, workdir)
    sim, pred, app = start(session, build, workdir)
    try:
        commands, offset_before, offset_after = play_ramp(sim, pred, app, updates, interval)
        posts = pred.posts()
    finally:
        for process in (app, pred, sim):
            process.stop()
    latencies = command_latencies([(t, k.parse_azel(text)[0]) for t, text in posts], commands,
                                  offset_before, offset_after)
    command = b"A\r\n%03d\r\n" % updates
    print("Tracking latency (post of a new position -> first byte of the azimuth command):")
    print(f"  updates posted {len(posts)}, azimuth commands matched {len(latencies)}, "
          f"every {interval * 1000:.0f} ms")
    print(f"  median {statistics.median(latencies):.2f} ms, p99 {percentile(latencies, 0.99):.2f} ms,"
          f" min {min(latencies):.2f} ms, max {max(latencies):.2f} ms")
    print(f"  wire time of the {len(command)}-byte azimuth command at {BAUD} bit/s 8N1: "
          f"{wire_ms(command):.2f} ms (the simulated port itself has no bit rate)")
    print(f"  clock offset CLOCK_MONOTONIC - performance counter: {offset_before / 1000:.3f} ms, "
          f"drift over the run {(offset_after - offset_before):.1f} us")
    return latencies


def process_cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def process_memory_kib(pid):
    values = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        name, _, value = line.partition(":")
        if name in ("VmHWM", "VmRSS", "VmPeak"):
            values[name] = int(value.split()[0])
    return values


def measure_pass(session, build, workdir, seconds, beside=None):
    """Prints the figures and returns the CPU time of the program and of `beside` (a process ID,
    or None) over the same time, as percentages of one core."""
    sim, pred, app = start(session, build, workdir)
    try:
        updates = max(2, int(seconds))
        cpu_before, wall_before = process_cpu_seconds(app.pid), time.monotonic()
        beside_before = process_cpu_seconds(beside) if beside else 0.0
        pred.send(f"pass {seconds / updates:.3f} {updates} 75 200 20")
        peak_rss = 0
        while not any(text.startswith("ok pass") for _, text in pred.events()):
            peak_rss = max(peak_rss, process_memory_kib(app.pid)["VmRSS"])
            time.sleep(1)
        cpu = process_cpu_seconds(app.pid) - cpu_before
        beside_cpu = process_cpu_seconds(beside) - beside_before if beside else 0.0
        wall = time.monotonic() - wall_before
        memory = process_memory_kib(app.pid)
        commands = [c for c in sim.commands() if not c.is_poll]
        polls = [c for c in sim.commands() if c.is_poll]
    finally:
        for process in (app, pred, sim):
            process.stop()
    print(f"Simulated pass of {wall:.0f} s ({updates} updates; {len(commands)} rotator commands, "
          f"{len(polls)} polls), the program's process alone (PID {app.pid}):")
    print(f"  CPU time {cpu:.2f} s ({100.0 * cpu / wall:.2f} % of one core)")
    print(f"  peak resident memory {memory['VmHWM'] / 1024:.1f} MiB (sampled during the pass: "
          f"{peak_rss / 1024:.1f} MiB; virtual peak {memory['VmPeak'] / 1024:.1f} MiB)")
    return 100.0 * cpu / wall, (100.0 * beside_cpu / wall if beside else None)


def cpu_percent_over(pids, seconds):
    """CPU time of each process over the next seconds, as percentages of one core."""
    cpu_before, wall_before = [process_cpu_seconds(pid) for pid in pids], time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - wall_before
    return [100.0 * (process_cpu_seconds(pid) - before) / wall
            for pid, before in zip(pids, cpu_before)]


def measure_idle(session, build, workdir, seconds, beside=None):
    """CPU of the program's process with its port open and its polls answered, and no
    prediction updates; prints it and returns it and the CPU of `beside` (a process ID, or None)
    over the same time, as percentages of one core."""
    sim, pred, app = start(session, build, workdir)
    try:
        time.sleep(1)  # the first commands are out
        percents = cpu_percent_over([app.pid] + ([beside] if beside else []), seconds)
        polls = len([c for c in sim.commands() if c.is_poll])
    finally:
        for process in (app, pred, sim):
            process.stop()
    print(f"Idle for {seconds:.0f} s with the port open and {polls} polls answered: "
          f"{percents[0]:.2f} % of one core")
    return percents[0], (percents[1] if beside else None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--updates", type=int, default=600, help="latency: updates (>= 500)")
    parser.add_argument("--interval", type=float, default=0.2,
                        help="latency: seconds between updates (the program pauses 0.1 s each)")
    parser.add_argument("--pass-seconds", type=float, default=600.0, help="length of the pass")
    args = parser.parse_args()
    session, build = k.session_and_build("e2e_bench", "e2e_bench.sh")
    with tempfile.TemporaryDirectory(prefix="kelma-e2e-bench.") as workdir:
        measure_latency(session, build, Path(workdir) / "latency", args.updates, args.interval)
        measure_pass(session, build, Path(workdir) / "pass", args.pass_seconds)


if __name__ == "__main__":
    main()
