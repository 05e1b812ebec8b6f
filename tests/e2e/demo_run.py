"""The demo's driver (tools/demo.sh runs it inside a harness session): the real KelmaRotator.exe
tracks a simulated pass, with the controller simulator and the prediction-server simulator in
their own processes; with --source orbitron or satpc32 the simulator plays that tracking program
and kelmafeed relays it to the window; with --source sky kelmafeed's own prediction rehearses a
real pass across north, planned over the top. Prints a live summary once a second, saves
screenshots of the window (with --console, of kelmafeed's console too), and ends after the pass or
on Ctrl-C, ending every process it started."""

import argparse
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import kelma_e2e as k

SATELLITE = "ISS (ZARYA)"
SCREENSHOT_EVERY_S = 10
AFTER_PASS_S = 6  # a last poll of each axis after the pass
# The sky source's pass: SO-50 from 60 N 10 E rises in the west at 11:35:08, crosses north and
# sets in the east at 11:48:45 (tools/bench/data); the lead time begins at 11:34:08.
SKY_SATELLITE = "SAUDISAT 1C (SO-50)"
SKY_START = "2024-02-12 11:34:00"
SKY_SECONDS = 900  # of the sky clock, from SKY_START to after the set
SKY_ARGS = ["--source=sky", "--elements", k.REPO / "tools" / "bench" / "data" /
            "amateur-2024-02-12.txt", "--station", "60,10", "--track", SKY_SATELLITE,
            "--at", SKY_START]
SIM_RATES = (6, 4)  # the controller simulator's own, in degrees per second
CONSOLE_TITLE = "kelmafeed"  # the title kelmafeed gives its console
# As wide as Windows' console, with as many lines kept: Wine's 80 columns would cut the status
# line. 20 rows hold the demo's messages; Wine shows no fewer.
CONSOLE_COLUMNS, CONSOLE_ROWS, CONSOLE_BUFFER_ROWS = 120, 20, 9001
RELAYED = ("orbitron", "satpc32")

# Ctrl-C reaches the simulators and the program too (one process group): the driver notes it and
# stops at the next step, whatever the half-ended processes made that step raise.
stop_requested = False


def request_stop(signum, frame):
    global stop_requested
    stop_requested = True


def check_stop():
    if stop_requested:
        raise KeyboardInterrupt


class ConsoleFeed:
    """kelmafeed in a console window of its own, as Orbitron starts it: what the operator sees,
    for screenshots. Its output is on that screen only, so the demo reads no status from it."""

    def __init__(self, session, build, args):
        self.session = session
        sizes = (("WindowSize", CONSOLE_ROWS), ("ScreenBufferSize", CONSOLE_BUFFER_ROWS))
        for value, rows in sizes:
            subprocess.run([session.wine, "reg", "add", r"HKCU\Console", "/v", value, "/t",
                            "REG_DWORD", "/d", str(rows << 16 | CONSOLE_COLUMNS), "/f"],
                           env=session.env, check=True, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.process = subprocess.Popen(
            [session.wine, "wineconsole", str(build.feed), *args], env=session.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        k.wait_until(lambda: k.x_window(session, CONSOLE_TITLE), 30, interval=0.2,
                     what="kelmafeed's console")

    def status(self):
        return None

    def screenshot(self, path):
        k.screenshot(self.session, CONSOLE_TITLE, path)

    def stop(self):
        """Ctrl-C in the console, as an operator ends kelmafeed; by its PID if that fails."""
        xid = k.x_window(self.session, CONSOLE_TITLE)
        if xid and self.process.poll() is None:
            subprocess.run(["xdotool", "windowfocus", "--sync", xid, "key", "ctrl+c"],
                           env=self.session.env, check=False, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self.process.wait(k.STOP_WAIT_S)
            except subprocess.TimeoutExpired:
                pass
        k.end_process(self.process)


def last_commanded(sim):
    """The last azimuth and elevation commanded, as the controller received them."""
    az = el = "---"
    for command in sim.commands():
        if not command.is_poll and command.arg != "S":
            if command.axis == "A":
                az = command.arg
            else:
                el = command.arg
    return az, el


def summary_line(elapsed, window, sim, feed):
    az, el = last_commanded(sim)
    line = (f"[{elapsed:4.0f} s] {window.text(k.IDC_SAT_NAME):<12} "
            f"prediction az {window.text(k.IDC_DDE_AZ):>5} el {window.text(k.IDC_DDE_EL):>4} | "
            f"commanded az {az:>4} el {el:>4} | "
            f"reported az {window.text(k.IDC_POS_AZ):>6} el {window.text(k.IDC_POS_EL):>6}")
    status = feed.status() if feed else None
    if status:
        line += f" | kelmafeed {status['received']} in, {status['published']} out"
    return line


def start_sky(session, build, workdir, sim, seconds, started):
    """kelmafeed's own prediction, its sky clock fast enough for the pass to take `seconds`, and
    the controller as fast on that clock; a test for the end of the pass."""
    speed = SKY_SECONDS / seconds
    sim.command(f"rate 1 {SIM_RATES[0] * speed:g} {SIM_RATES[1] * speed:g}")
    feed = k.Feed(session, build, workdir, [*SKY_ARGS, "--speed", f"{speed:g}"])
    started.append(feed)
    print(feed.wait_line(r"^Serving "), flush=True)
    return feed, lambda: any(line.endswith(": pass ended") for line in feed.lines())


def start_source(session, build, workdir, source, console, started):
    """The prediction program, or the tracking program and kelmafeed (in a console window of its
    own when console is true); the name the window shows."""
    program = None if source == "winorbit" else source
    pred = k.PredSim(session, build, workdir, program=program)
    started.append(pred)
    pred.run(f"name {SATELLITE}")
    pred.run("azel 200.0|10.0" if program else "azel 200.0|-6.0")
    if not program:
        return pred, None, SATELLITE
    feed = (ConsoleFeed(session, build, ["--source", source]) if console
            else k.Feed(session, build, workdir, ["--source", source]))
    started.append(feed)
    if not console:
        print(feed.wait_line(r"^Connected to "), flush=True)
    # Orbitron writes the spaces of a name as underscores.
    return pred, feed, SATELLITE.replace(" ", "_") if source == "orbitron" else SATELLITE


def start_pass(session, build, workdir, seconds, source, console, sim, started):
    """The window and what feeds it, the pass under way; the window, kelmafeed (if it runs) and a
    test for the end of the pass."""
    if source == "sky":
        # The window first: the sky clock runs from the moment kelmafeed serves.
        app = k.App(session, build, workdir)
        started.append(app)
        feed, over = start_sky(session, build, workdir, sim, seconds, started)
        app.wait_text(k.IDC_SAT_NAME, SKY_SATELLITE)
        print(f"KelmaRotator is tracking {SKY_SATELLITE} from kelmafeed's own prediction: its "
              f"pass across north in {seconds:.0f} s (Ctrl-C stops it)", flush=True)
        return app, feed, over
    pred, feed, shown_name = start_source(session, build, workdir, source, console, started)
    app = k.App(session, build, workdir)
    started.append(app)
    app.wait_text(k.IDC_SAT_NAME, shown_name)
    updates = max(2, int(seconds * 2))
    print(f"KelmaRotator is tracking {SATELLITE}: a {seconds:.0f} s pass, {updates} updates "
          f"(Ctrl-C stops it)", flush=True)
    pred.send(f"pass {seconds / updates:.3f} {updates} 72 200 20")
    return app, feed, lambda: any(t.startswith("ok pass") for _, t in pred.events())


def run(session, build, workdir, shots, seconds, source, console):
    started = []
    try:
        sim = k.Sim(session, build, workdir, ports=(1,))
        started.append(sim)
        app, feed, pass_over = start_pass(session, build, workdir, seconds, source, console, sim,
                                          started)
        begin = time.monotonic()
        next_shot = 0.0
        shot = 0
        ended_at = None
        while ended_at is None or time.monotonic() - ended_at < AFTER_PASS_S:
            check_stop()
            elapsed = time.monotonic() - begin
            print(summary_line(elapsed, app.state(), sim, feed), flush=True)
            if elapsed >= next_shot:
                shot += 1
                app.screenshot(shots / f"kelma-demo-{shot:02d}.png")
                if console:
                    feed.screenshot(shots / f"kelmafeed-{shot:02d}.png")
                next_shot += SCREENSHOT_EVERY_S
            if ended_at is None and pass_over():
                ended_at = time.monotonic()
            time.sleep(1)
        app.screenshot(shots / "kelma-demo-end.png")
        print(f"Pass over. Screenshots: {shots}/kelma-demo-*.png", flush=True)
        app.key("Escape")
        app.wait_exit()
    except Exception:
        check_stop()
        raise
    finally:
        for process in reversed(started):
            process.stop()


def main():
    parser = argparse.ArgumentParser(description="KelmaRotator demo")
    parser.add_argument("--seconds", type=float, default=60.0, help="length of the pass")
    parser.add_argument("--shots", default=str(k.REPO / "build" / "demo"),
                        help="folder for the screenshots")
    parser.add_argument("--source", choices=["winorbit", "orbitron", "satpc32", "sky"],
                        default="winorbit",
                        help="the program that feeds the window: the prediction program, "
                             "Orbitron or SatPC32 through kelmafeed, or kelmafeed's own "
                             "prediction")
    parser.add_argument("--console", action="store_true",
                        help="kelmafeed in a console window of its own, as Orbitron starts it, "
                             "with screenshots of it (orbitron and satpc32 only)")
    args = parser.parse_args()
    if args.console and args.source not in RELAYED:
        parser.error("--console needs --source orbitron or satpc32")
    session, build = k.session_and_build("demo", "tools/demo.sh")
    shots = Path(args.shots)
    shots.mkdir(parents=True, exist_ok=True)
    signal.signal(signal.SIGINT, request_stop)
    signal.signal(signal.SIGTERM, request_stop)
    with tempfile.TemporaryDirectory(prefix="kelma-demo.") as workdir:
        try:
            run(session, build, Path(workdir), shots, args.seconds, args.source, args.console)
        except KeyboardInterrupt:
            print("\nStopped.", flush=True)
            sys.exit(130)


if __name__ == "__main__":
    main()
