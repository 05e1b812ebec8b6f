"""The latency kelmafeed adds: the real KelmaRotator.exe under Wine tracking a ramp of positions
fed directly by the prediction-server simulator, then the same ramp from the simulator playing
Orbitron through kelmafeed. Prints figures; asserts nothing. Run it through feed_bench.sh (its own
harness session).

For each update: the simulator's post of the new position to the first byte of the azimuth
command at the controller (both chains), and the simulator's post to kelmafeed's post of the
"AzEl" item (the relay's own hop, both on the performance counter).
"""

import argparse
import re
import statistics
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "e2e"))

import kelma_e2e as k  # noqa: E402
from e2e_bench import (  # noqa: E402
    ELEVATION, check_clock, command_latencies, percentile, play_ramp)

NAME = "BENCH-1"
SOURCE = "orbitron"
AZIMUTH = re.compile(r"(?:^|\s)AZ(\d+)")


def azimuth_of(text):
    """The azimuth of an "AzEl" text or of a tracking program's text."""
    match = AZIMUTH.search(text)
    return int(match.group(1)) if match else k.parse_azel(text)[0]


def relay_posts(log):
    """{az: performance-counter µs} of kelmafeed's "AzEl" posts, from its --log."""
    posts = {}
    for line in log.read_text().splitlines():
        parts = line.split(" ", 5)
        if len(parts) == 6 and parts[1] == "post" and parts[3] == "AzEl":
            posts.setdefault(k.parse_azel(parts[5])[0], int(parts[0]))
    return posts


def start_chain(procs, program, workdir):
    sim = procs.sim()
    pred = procs.predsim(program=program)
    pred.run(f"name {NAME}")
    pred.run(f"azel 0|{ELEVATION}")
    if program:
        feed = procs.feed("--source", program, "--log", workdir / "feed.log")
        feed.wait_line(r"^Connected to ")
    app = procs.app()
    app.wait_text(k.IDC_SAT_NAME, NAME)
    return sim, pred, app


def measure(session, build, workdir, program, updates, interval):
    """(post -> azimuth command latencies in ms, post -> relay post in ms or None)."""
    workdir.mkdir(parents=True, exist_ok=True)
    procs = k.Processes(session, build, workdir)
    try:
        sim, pred, app = start_chain(procs, program, workdir)
        commands, offset_before, offset_after = play_ramp(sim, pred, app, updates, interval)
        item = "TrackingData" if program else "AzEl"
        posts = [(t, azimuth_of(text)) for t, text in pred.posts(item)]
    finally:
        procs.stop_all()
    latencies = command_latencies(posts, commands, offset_before, offset_after)
    hops = None
    if program:
        relayed = relay_posts(workdir / "feed.log")
        hops = [(relayed[az] - t) / 1000.0 for t, az in posts if az in relayed]
    return latencies, hops


def report(title, values):
    print(f"  {title}: median {statistics.median(values):.2f} ms, "
          f"p90 {percentile(values, 0.9):.2f} ms, p99 {percentile(values, 0.99):.2f} ms, "
          f"min {min(values):.2f} ms, max {max(values):.2f} ms ({len(values)} updates)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--updates", type=int, default=300, help="updates per chain")
    parser.add_argument("--interval", type=float, default=0.2,
                        help="seconds between updates (the window pauses 0.1 s after each)")
    args = parser.parse_args()
    session, build = k.session_and_build("feed_bench", "feed_bench.sh")
    with tempfile.TemporaryDirectory(prefix="kelma-feed-bench.") as workdir:
        check_clock(session, build, Path(workdir))
        direct, _ = measure(session, build, Path(workdir) / "direct", None, args.updates,
                            args.interval)
        relayed, hops = measure(session, build, Path(workdir) / "relay", SOURCE, args.updates,
                                args.interval)
    print(f"Post of a new position -> first byte of the azimuth command at the controller, "
          f"one update every {args.interval * 1000:.0f} ms:")
    report("prediction simulator -> window (direct)", direct)
    report(f"simulator as {SOURCE} -> kelmafeed -> window", relayed)
    print(f"  added by the relay (difference of the medians): "
          f"{statistics.median(relayed) - statistics.median(direct):.2f} ms")
    report("the relay's own hop (simulator's post -> kelmafeed's post)", hops)


if __name__ == "__main__":
    main()
