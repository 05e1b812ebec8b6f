"""Fault and load suite: the real KelmaRotator.exe under Wine with both simulators, through the
faults a station meets (a controller that stalls or is unplugged, a prediction program killed,
port changes and closes under traffic, a long pass, a flooding controller). Prints a table of
scenario, repetitions, outcome and figures and exits non-zero when any scenario fails.

Throughout each scenario the window is pinged (a failure: a round trip of 1 s or more, or no
answer), the program's threads are sampled once a second (a failure: one thread runnable for 90 %
of three seconds running, whether it got the processor or waited for it, so a busy machine does
not pass for a spinning program) and the program must not end or show any other window. Every
byte the controller receives must be a well-formed command or poll, what the operator asked for
must arrive, and the window must show what the program should show once the fault is over.

Run it through fault_suite.sh (its own harness session); --short is the form the test command runs.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
import traceback
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import kelma_e2e as k  # noqa: E402
from test_tracking import start_tracking, tracking_commands  # noqa: E402

HANG_US = 1_000_000
PING_INTERVAL_MS = 200
PINGER_START_S = 20
SPIN_RUNNABLE = 0.97
SPIN_SECONDS = 3
EXIT_LIMIT_S = 2  # close to window gone, with the probe's own ~0.3 s per look
EXIT_WAIT_S = 60  # close to process end: Wine ends the program's process ~2 s after its window
RECONNECT_S = 10  # the partner check and the poll timer's retry both run within 4 s
FAST_AXES = "rate {port} 3600 3600"  # the rotator stands at its target at once
STREAM_PERIOD_S = 0.1
LINE_RATE_REPORTS = 7  # 7 reports of 14 bytes every 0.1 s: 980 bytes/s, 9600 bit/s 8N1
LINE_RATE_BYTES = 96
# After a flood the window needs three reports to show the rotator's position (the first may be
# lost with the flood's unfinished line, then one of each axis). Polls two apart are more than a
# poll period apart however late the timer's ticks come (check_polls in tests/e2e/
# test_tracking.py), so a window that has not shown it once two more polls have come has fallen
# a poll period behind the line.
CATCH_UP_POLLS = 4  # polls taken after the command, at most, before the last look without it
CATCH_UP_WAIT_S = 60
VALID_ARGUMENT = re.compile(r"S|-?\d{1,7}")
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
GROWTH_LIMITS = {"handles": 20, "gdi": 20, "user": 20, "windows": 2, "rss_kib": 4096,
                 "threads": 2}


class Failure(Exception):
    """What a scenario found wrong."""


@dataclass
class Result:
    name: str
    reps: int
    failures: list = field(default_factory=list)
    figures: dict = field(default_factory=dict)

    @property
    def outcome(self):
        return "pass" if not self.failures else "FAIL"


# ----------------------------------------------------------------------------------------------
# Watching the program


def thread_times_ns(pid):
    """{thread id: nanoseconds on a processor + nanoseconds waiting for one} of a process."""
    times = {}
    for stat in Path(f"/proc/{pid}/task").glob("*/schedstat"):
        try:
            running, waiting, _ = stat.read_text().split()
        except (OSError, ValueError):
            continue  # the thread ended
        times[stat.parent.name] = int(running) + int(waiting)
    return times


def process_status(pid):
    values = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        name, _, value = line.partition(":")
        values[name] = value.split()[0] if value.split() else ""
    return values


def start_pinger(app, path, *target):
    return k.start_pinger(app, path, PING_INTERVAL_MS, 100000000, *target)


class Watch:
    """Pings the window (and, for comparison, the idle desktop window) and samples the program's
    threads until stop()."""

    def __init__(self, app, workdir):
        self.app = app
        self.pings_file = Path(workdir) / f"pings-{app.pid}.jsonl"
        self.machine_file = Path(workdir) / f"machine-pings-{app.pid}.jsonl"
        self.pingers = [start_pinger(app, self.pings_file),
                        start_pinger(app, self.machine_file, "--desktop")]
        for path in (self.pings_file, self.machine_file):
            k.wait_until(lambda: k.read_pings(path), PINGER_START_S, what="the first ping")
        self.cpu_max = 0.0
        self.spin_run = 0
        self.spinning = None
        self.crashed = None
        self.stopping = threading.Event()
        self.sampler = threading.Thread(target=self._sample, daemon=True)
        self.sampler.start()

    def _sample(self):
        before, t_before = thread_times_ns(self.app.pid), time.monotonic_ns()
        while not self.stopping.wait(1.0):
            if not self.app.running():
                self.crashed = f"the program ended (status {self.app.process.returncode})"
                return
            now, t_now = thread_times_ns(self.app.pid), time.monotonic_ns()
            wall = max(1, t_now - t_before)
            busiest = max([(now[t] - before.get(t, now[t])) / wall for t in now] or [0.0])
            self.cpu_max = max(self.cpu_max, self._cpu_share(wall))
            self.spin_run = self.spin_run + 1 if busiest >= SPIN_RUNNABLE else 0
            if self.spin_run >= SPIN_SECONDS and self.spinning is None:
                self.spinning = f"a thread runnable {busiest:.0%} for {SPIN_SECONDS} s running"
            before, t_before = now, t_now

    def _cpu_share(self, wall_ns):
        """Processor time of the whole process per wall time, since the last call."""
        stat = Path(f"/proc/{self.app.pid}/stat").read_text().rsplit(")", 1)[1].split()
        ticks = int(stat[11]) + int(stat[12])
        last = getattr(self, "_ticks", ticks)
        self._ticks = ticks
        return (ticks - last) / CLOCK_TICKS / (wall_ns / 1e9)

    def stop(self):
        self.stopping.set()
        self.sampler.join()
        for pinger in self.pingers:
            k.end_process(pinger)
        return WatchFigures(k.read_pings(self.pings_file), k.read_pings(self.machine_file),
                            self.cpu_max, self.spinning, self.crashed)


@dataclass
class WatchFigures:
    pings: list  # [(start µs, round trip µs or -1)] to the program's window
    machine: list  # the same to the idle desktop window, over the same time
    cpu_max: float
    spinning: str | None
    crashed: str | None

    def hangs(self):
        """Pings unanswered, or of 1 s or more while the idle window answered in half the time."""
        return k.held_pings(self.pings, self.machine, HANG_US)

    def failures(self):
        found = []
        hangs = self.hangs()
        if hangs:
            longest = max(us for _, us in hangs)
            found.append(f"hang: {len(hangs)} pings of 1 s or more or unanswered "
                         f"(longest {'none' if longest < 0 else f'{longest / 1e6:.1f} s'})")
        if not self.pings:
            found.append("hang: no ping answered")
        for problem in (self.spinning, self.crashed):
            if problem:
                found.append(problem)
        return found

    def describe(self):
        def longest(pings):
            answered = [us for _, us in pings if us >= 0]
            return f"{max(answered) / 1000:.0f}" if answered else "none"
        return {"pings": len(self.pings), "ping max ms": longest(self.pings),
                "idle window max ms": longest(self.machine), "CPU max %": f"{100 * self.cpu_max:.0f}"}


def other_windows(app):
    """Titles of visible dialog windows of the program other than its operator window."""
    window = app.window()
    pid = window.data["pid"] if window else None
    return [w["title"] for w in app.probe.windows() if w["pid"] == pid and w["title"] != k.TITLE]


def check_wire(sim, port=1):
    """Every line the controller received belongs to a command or a poll."""
    commands, _ = k.split_commands(sim.chunks(port))
    for command in commands:
        if command.axis not in ("A", "E") or (
                command.arg is not None and not VALID_ARGUMENT.fullmatch(command.arg)):
            raise Failure(f"corrupted command on COM{port}: {command!r}")
    return commands


def arrives(sim, wanted, port=1, timeout=5, what="command"):
    """Waits until the controller's last tracking commands are 'wanted' [(axis, arg)]."""
    def tail():
        got = [(c.axis, c.arg) for c in tracking_commands(sim, port)]
        return got[-len(wanted):] == wanted
    try:
        k.wait_until(tail, timeout, what=what)
    except TimeoutError as error:
        raise Failure(f"lost: {what}: wanted {wanted}, got "
                      f"{[(c.axis, c.arg) for c in tracking_commands(sim, port)][-4:]}") from error


def shows(app, expected, timeout=10, what="the window"):
    """Waits until the window shows {control id: text}."""
    def check():
        window = app.window()
        return window and all(window.text(i) == text for i, text in expected.items())
    try:
        k.wait_until(check, timeout, interval=0.2, what=what)
    except TimeoutError as error:
        window = app.window()
        seen = {i: window.text(i) for i in expected} if window else None
        raise Failure(f"state after recovery: {what}: wanted {expected}, shows {seen}") from error


class Streamer:
    """Makes the controller send on its own, every STREAM_PERIOD_S, from a thread of its own."""

    def __init__(self, sim, commands):
        self.connection = sim.connect()
        self.commands = commands  # control commands sent each period, e.g. ["burst 1 2"]
        self.stopping = threading.Event()
        self.error = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stopping.wait(STREAM_PERIOD_S):
            for command in self.commands:
                try:
                    self.connection.command(command)
                except RuntimeError:
                    pass  # the port is unplugged for a moment
                except OSError as error:
                    self.error = error
                    return

    def stop(self):
        self.stopping.set()
        self.thread.join()
        self.connection.close()


# ----------------------------------------------------------------------------------------------
# Scenarios: each takes the processes, a work folder and its repetitions, and raises Failure or
# returns its own figures. The watch, the crash check and the wire check are common.


def start_fast(run, ports=(1,), initial="100|20"):
    """Controller, prediction program and the program, tracking, with the watch on."""
    sim, pred, app = start_tracking(run.procs, initial=initial, name="FAULT-1", ports=ports)
    for port in ports:
        sim.command(FAST_AXES.format(port=port))
    az, el = k.parse_azel(initial)
    if el >= -5:
        arrives(sim, [("A", "%03d" % az), ("E", "%03d" % max(el, 0))],
                what="the first commands")
    return run.watched(sim, pred, app)


def busy_pass(updates):
    """A pass of 10 updates a second whose azimuth changes about once a second, as in a real
    pass (the program pauses 100 ms after each azimuth command)."""
    return f"pass 0.1 {updates} 80 0 {updates // 10}"


def post(pred, az, el):
    pred.run(f"azel {az}|{el}")
    return [("A", "%03d" % az), ("E", "%03d" % el)]


def rotator_shows(app, az, el, timeout=10):
    """The position display once the standing rotator's reports have come in (polls: 4 s)."""
    shows(app, {k.IDC_POS_AZ: "%03d" % az, k.IDC_POS_EL: "%03d" % el}, timeout,
          what="the rotator's position")


def scenario_stall(run, reps):
    sim, pred, app = start_fast(run)
    if "stall" not in sim.command("help").split():
        raise Failure("kelma_sim has no 'stall' command")
    recoveries = []
    for rep in range(reps):
        sim.command("stall 1 on")
        post(pred, 200 + rep, 30)  # written while the controller takes nothing
        app.click(k.IDC_AZ_STOP)
        time.sleep(1.5)  # polls and tracking go on meanwhile
        sim.command("stall 1 off")
        resumed = time.monotonic()
        wanted = post(pred, 100 + rep, 40 + rep % 2)
        arrives(sim, wanted, what=f"the first command after stall {rep + 1}")
        recoveries.append(time.monotonic() - resumed)
    rotator_shows(app, 100 + reps - 1, 40 + (reps - 1) % 2)
    figures = {"recovery max s": f"{max(recoveries):.2f}"}
    # Closing the window must end the program while the controller stalls, too.
    sim.command("stall 1 on")
    post(pred, 300, 60)
    run.finish_watch(figures)
    gone, _ = close_and_time(app, "close box", 0)
    figures["close while stalled: window gone s"] = f"{gone:.1f}"
    if gone >= EXIT_LIMIT_S:
        raise Failure(f"hang: the window stayed {gone:.1f} s after the close box while the "
                      f"controller stalled", figures)
    return figures


def change_port(app, key):
    """The operator's arrow key in the port box (focused): the next or previous port."""
    app.xdotool("key", key)


def focus_port_box(app):
    app.click(k.IDC_PORT)  # the box's edit field: the list stays closed


def selected_port(app):
    return app.state().controls[k.IDC_PORT]["selected"]


def scenario_unplug(run, reps):
    sim, pred, app = start_fast(run, ports=(1, 2))
    focus_port_box(app)
    for rep in range(reps):
        sim.command("unplug 1")
        post(pred, 250 + rep, 25)  # written to an adapter that is not there
        time.sleep(0.5)
        sim.command("plug 1")
        sim.command(FAST_AXES.format(port=1))
        change_port(app, "Down")
        change_port(app, "Up")  # the operator picks another port and COM1 again
        k.wait_until(lambda: selected_port(app) == 0, 5, what="COM1 chosen again")
        wanted = post(pred, 10 + rep, 50 + rep % 2)
        arrives(sim, wanted, what=f"the first command after replug {rep + 1}")
    rotator_shows(app, 10 + reps - 1, 50 + (reps - 1) % 2)
    return {}


def scenario_port_changes(run, reps):
    sim, pred, app = start_fast(run, ports=(1, 2))
    sim.clear(1)  # the model below starts after the first commands
    streamer = Streamer(sim, ["burst 1 2", "burst 2 2"])
    focus_port_box(app)
    updates = max(20, reps * 2)
    pred.send(busy_pass(updates))
    started = time.monotonic()
    try:
        for rep in range(reps):
            change_port(app, "Down" if rep % 2 == 0 else "Up")
        pred.wait_event(r"^ok pass", updates * 0.1 * 3 + 60)
    finally:
        streamer.stop()
    took = time.monotonic() - started
    k.wait_until(lambda: selected_port(app) == reps % 2, 10, what="the last port chosen")
    port = 1 + reps % 2
    posted = [text for _, text in pred.posts()]
    figures = {"changes/s": f"{reps / took:.1f}",
               "last update shown after s": taken_up(app, posted[-1])}
    expected = k.TrackingModel(100, 20).feed(posted)
    received = {p: [(c.axis, c.arg) for c in check_wire(sim, p) if not c.is_poll] for p in (1, 2)}
    for p, commands in received.items():
        wrong = first_out_of_order(commands, expected)
        if wrong is not None:
            raise Failure(f"COM{p} got {commands[wrong]} (command {wrong + 1}) out of order or "
                          f"not asked for, after {commands[max(0, wrong - 3):wrong]}")
    lost, repeated = lost_and_repeated(expected, received.values())
    figures["commands"] = len(expected)
    if lost:
        raise Failure(f"lost: {len(lost)} of {len(expected)} tracking commands: {lost[:5]}",
                      figures)
    if repeated:
        raise Failure(f"sent more often than asked for: {repeated[:5]}", figures)
    wanted = post(pred, 123, 45)
    arrives(sim, wanted, port=port, what="a command on the port chosen last")
    return figures


def taken_up(app, text, limit=CATCH_UP_WAIT_S):
    """Seconds until the window shows the prediction's last update (the program may still be
    working through a queue when the prediction program has posted it), as a figure."""
    started = time.monotonic()
    az, el = k.parse_azel(text)
    shows(app, {k.IDC_DDE_AZ: "%03d" % az, k.IDC_DDE_EL: "%03d" % el}, limit,
          what="the last update of the pass")
    return f"{time.monotonic() - started:.1f}"


def first_out_of_order(items, sequence):
    """Index of the first item that does not follow the items before it in the sequence, or
    None."""
    at = 0
    for i, item in enumerate(items):
        while at < len(sequence) and sequence[at] != item:
            at += 1
        if at == len(sequence):
            return i
        at += 1
    return None


def lost_and_repeated(expected, received):
    """(commands asked for that no port received, commands received more often than asked for),
    counted rather than placed: a run of identical commands (E 000 while the satellite is below
    the horizon) may be split between the ports in any way, so which of them a port's copy is
    cannot be told."""
    wanted = Counter(expected)
    got = Counter(command for commands in received for command in commands)
    return list((wanted - got).elements()), list((got - wanted).elements())


def sent_home(sim, rep):
    """The last azimuth and elevation commands are 000 (each is sent only if it changed)."""
    def last_sent():
        last = {c.axis: c.arg for c in tracking_commands(sim)}
        return last.get("A") == "000" and last.get("E") == "000"
    try:
        k.wait_until(last_sent, 5, what="the rotator sent home")
    except TimeoutError as error:
        raise Failure(f"lost: the rotator not sent home after kill {rep + 1}: "
                      f"{tracking_commands(sim)[-4:]}") from error


def scenario_prediction_killed(run, reps):
    sim, pred, app = start_fast(run)
    reconnects = []
    for rep in range(reps):
        pred.send(f"pass 0.1 600 70 {rep * 3} 300")
        pred.wait_event(r"^post \d+ AzEl", 10, after=pred.events()[-1][0])
        time.sleep(0.5)
        pred.process.kill()  # no goodbye: no terminate message, the window just goes
        pred.process.wait(10)
        shows(app, {k.IDC_SAT_NAME: "none", k.IDC_DDE_AZ: "000", k.IDC_DDE_EL: "000"},
              RECONNECT_S, what="the prediction program gone")
        sent_home(sim, rep)
        sim.clear()
        gone = time.monotonic()
        pred = run.procs.predsim(name=f"predsim{rep + 1}")
        pred.run(f"name SAT-{rep + 1}")
        wanted = post(pred, 40 + rep, 10 + rep % 2)
        shows(app, {k.IDC_SAT_NAME: f"SAT-{rep + 1}", k.IDC_DDE_AZ: "%03d" % (40 + rep)},
              RECONNECT_S, what="the restarted prediction program")
        reconnects.append(time.monotonic() - gone)
        arrives(sim, wanted, what=f"tracking after restart {rep + 1}")
        if [(c.axis, c.arg) for c in tracking_commands(sim)] != wanted:
            raise Failure(f"more than the new position sent after restart {rep + 1}")
    return {"restart to shown max s": f"{max(reconnects):.1f}"}


CLOSE_WAYS = ("close box", "Esc", "Enter in an edit box")


def close_window(app, way):
    if way == "close box":
        app.probe.run("close")  # what the close box sends; there is no window manager to click
    elif way == "Esc":
        app.key("Escape")
    else:
        app.type_into(k.IDC_AZ_EDIT, "45")
        app.xdotool("key", "Return")


def scenario_close(run, reps):
    sim = run.procs.sim()
    sim.command(FAST_AXES.format(port=1))
    run.sims = [sim]
    pred = run.procs.predsim()
    pred.run("name CLOSE-1")
    pred.send(busy_pass(reps * 60))
    streamer = Streamer(sim, ["burst 1 2"])
    closes = []
    try:
        for rep in range(reps):
            app = run.procs.app()
            app.wait_text(k.IDC_SAT_NAME, "CLOSE-1", timeout=RECONNECT_S)
            watch = Watch(app, run.workdir)
            time.sleep(1.0)
            figures = watch.stop()
            problems = figures.failures() + [f"window {t!r}" for t in other_windows(app)]
            if problems:
                raise Failure(f"run {rep + 1}: {'; '.join(problems)}")
            way = CLOSE_WAYS[rep % len(CLOSE_WAYS)]
            try:
                closes.append((way,) + close_and_time(app, way, rep))
            except Failure as failure:
                raise Failure(failure.args[0], close_figures(closes, reps, check=False) if closes
                              else {}) from failure
            check_wire(sim)
    finally:
        streamer.stop()
    return close_figures(closes, reps)


def close_figures(closes, reps, check=True):
    """Median and longest times to the window gone and to the process ended, and how many were
    slow; with check, a failure when a window stayed EXIT_LIMIT_S or more."""
    def spread(values):
        values = sorted(values)
        return f"{values[len(values) // 2]:.1f}/{values[-1]:.1f}"
    slow = [f"{way} {gone:.1f} s" for way, gone, _ in closes if gone >= EXIT_LIMIT_S]
    figures = {"window gone median/max s": spread([gone for _, gone, _ in closes]),
               "process ended median/max s": spread([ended for _, _, ended in closes]),
               "closed": len(closes), f"slow (>= {EXIT_LIMIT_S} s)": len(slow)}
    if slow and check:
        raise Failure(f"hang: {len(slow)} of {reps} closes left the window {EXIT_LIMIT_S} s or "
                      f"more: {', '.join(slow[:5])}", figures)
    return figures


def close_and_time(app, way, rep):
    """Seconds from the operator's close until the window is gone and until the process has
    ended (a failure: it never ends, or ends with another status than 0)."""
    closed = time.monotonic()
    close_window(app, way)
    gone = None
    while app.running() and time.monotonic() - closed < EXIT_WAIT_S:
        if gone is None and app.window() is None:
            gone = time.monotonic() - closed
        time.sleep(0.05)
    try:
        status = app.wait_exit(1)
    except subprocess.TimeoutExpired as error:
        shown = "still shown" if app.window() is not None else "gone"
        raise Failure(f"hang: {way} did not end the program within {EXIT_WAIT_S} s "
                      f"(run {rep + 1}; its window {shown})") from error
    if status != 0:
        raise Failure(f"{way} ended the program with status {status} (run {rep + 1})")
    ended = time.monotonic() - closed
    return (ended if gone is None else gone), ended


def resources(app, win_pid):
    """Handles, GDI and USER objects (as far as the system counts them), memory and threads."""
    counted = app.probe.run("resources", str(win_pid))
    status = process_status(app.pid)
    values = dict(counted[0]) if counted else {}
    values.update(rss_kib=int(status["VmRSS"]), threads=int(status["Threads"]))
    return values


def scenario_long_pass(run, reps):
    sim, pred, app = start_fast(run, initial="0|-6")
    win_pid = app.state().data["pid"]
    interval = 0.05
    # At most one azimuth step per 10 updates: the program pauses 100 ms after each azimuth command.
    pred.send(f"pass {interval} {reps} 85 0 {min(359, reps // 10)}")
    samples = [resources(app, win_pid)]
    while not any(text.startswith("ok pass") for _, text in pred.events()):
        time.sleep(max(1.0, reps * interval / 20))
        samples.append(resources(app, win_pid))
    expected = k.TrackingModel().feed([text for _, text in pred.posts()])
    arrives(sim, expected[-2:], timeout=30, what="the last commands of the pass")
    got = [(c.axis, c.arg) for c in check_wire(sim) if not c.is_poll]
    if got != expected:
        raise Failure(f"lost or changed commands in the pass: {len(got)} sent, {len(expected)} "
                      f"due; first difference at {first_difference(got, expected)}")
    samples.append(resources(app, win_pid))
    return growth_figures(samples)


def first_difference(got, expected):
    return next((i for i, pair in enumerate(zip(got, expected)) if pair[0] != pair[1]),
                min(len(got), len(expected)))


def growth_figures(samples):
    """Growth from the end of the first quarter (after start-up) to the end; a failure when a
    count grows beyond its limit. Counts the system does not keep (None) are shown as n/a."""
    settled = samples[len(samples) // 4]
    figures, growing = {}, []
    for name, limit in GROWTH_LIMITS.items():
        first, last = settled.get(name), samples[-1].get(name)
        if first is None or last is None:
            figures[name] = "n/a"
            continue
        figures[name] = f"{first}->{last}"
        if last - first > limit:
            growing.append(f"{name} grew from {first} to {last}")
    if growing:
        raise Failure("; ".join(growing), figures)
    return figures


def scenario_flood(run, seconds, line_ends):
    sim, pred, app = start_fast(run)
    flood = f"burst 1 {LINE_RATE_REPORTS}" if line_ends else f"long 1 {LINE_RATE_BYTES}"
    streamer = Streamer(sim, [flood])
    checks = 0
    try:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            wanted = post(pred, 60 + checks % 200, 10 + checks % 2)
            arrives(sim, wanted, what="a command during the flood")
            checks += 1
            time.sleep(min(5.0, max(0.0, deadline - time.monotonic())))
    finally:
        streamer.stop()
    if streamer.error:
        raise Failure(f"the flood stopped: {streamer.error}")
    wanted = post(pred, 77, 33)
    ended = time.monotonic()
    arrives(sim, wanted, what="a command after the flood")
    figures = {"commands checked": checks + 1}
    polls = polls_before_shown(sim, app, 77, 33, since=tracking_commands(sim)[-1].t)
    figures["position shown after s"] = f"{time.monotonic() - ended:.1f}"
    if polls is None:
        figures["position shown after s"] = f"over {CATCH_UP_WAIT_S}"
        raise Failure("state after recovery: the rotator's position not shown", figures)
    figures["polls before"] = polls
    if polls > CATCH_UP_POLLS:
        raise Failure(f"state after recovery: the position display caught up only after "
                      f"{polls} polls", figures)
    return figures


def polls_before_shown(sim, app, az, el, since):
    """Looks at the window until it shows the rotator at az, el; returns how many polls the
    controller had received after `since` (its clock) when the last look that did not show it
    began, or None when it was not shown within CATCH_UP_WAIT_S. Counted in polls, not seconds:
    a busy machine delays the polls and the window alike."""
    expected = {k.IDC_POS_AZ: "%03d" % az, k.IDC_POS_EL: "%03d" % el}
    deadline = time.monotonic() + CATCH_UP_WAIT_S
    polls = 0
    while time.monotonic() < deadline:
        look_began = time.monotonic_ns() // 1000  # the controller's clock
        window = app.window()
        if window and all(window.text(i) == text for i, text in expected.items()):
            return polls
        polls = len([c for c in sim.commands() if c.is_poll and since < c.t < look_began])
        time.sleep(0.2)
    return None


# ----------------------------------------------------------------------------------------------
# Running and reporting

FULL = {"stall": 20, "unplug": 50, "ports": 500, "killed": 50, "close": 100, "pass": 3600,
        "flood": 60}
SHORT = {"stall": 2, "unplug": 2, "ports": 20, "killed": 2, "close": 3, "pass": 120, "flood": 5}

SCENARIOS = {
    "stall": ("controller stalls mid-pass, recovers", scenario_stall),
    "unplug": ("controller unplugged, plugged back", scenario_unplug),
    "ports": ("port changes, streaming, 10 updates/s", scenario_port_changes),
    "killed": ("prediction program killed, restarted", scenario_prediction_killed),
    "close": ("window closed (box, Esc, Enter) under load", scenario_close),
    "pass": ("long pass, 20 updates/s (1 h at 1/s)", scenario_long_pass),
    "flood": ("controller floods: lines / no line ends", None),
}


def run_scenario(session, build, workdir, key, reps):
    """Runs one scenario in its own processes; returns its Result."""
    title, function = SCENARIOS[key]
    workdir = Path(workdir) / key
    workdir.mkdir(parents=True, exist_ok=True)
    if key == "flood":
        results = [run_one(session, build, workdir / mode, f"controller floods, {mode}", reps,
                           lambda run, seconds, e=ends: scenario_flood(run, seconds, e))
                   for mode, ends in (("lines", True), ("no line ends", False))]
        return results
    return [run_one(session, build, workdir, title, reps, function)]


class Run:
    """One scenario's processes, work folder and the watch on its program."""

    def __init__(self, session, build, workdir):
        self.procs = k.Processes(session, build, workdir)
        self.workdir = Path(workdir)
        self.app = None
        self.watch = None
        self.watch_failures = []
        self.sims = []

    def watched(self, sim, pred, app):
        """Watches the program until the scenario ends; checks the controller's bytes then."""
        self.app, self.watch, self.sims = app, Watch(app, self.workdir), [sim]
        return sim, pred, app

    def finish_watch(self, figures):
        """Stops the watch before the scenario ends the program itself; what the watch found
        is reported at the end."""
        watched = self.watch.stop()
        self.watch = None
        figures.update(watched.describe())
        self.watch_failures = watched.failures()

    def finish(self, result):
        """Stops the watch and adds what it and the final checks found."""
        result.failures += self.watch_failures
        if self.watch is not None:
            figures = self.watch.stop()
            result.figures.update(figures.describe())
            result.failures += figures.failures()
        if self.app is not None and self.app.running():
            result.failures += [f"window {t!r}" for t in other_windows(self.app)]
        for sim in self.sims:
            try:
                check_wire(sim)
            except Failure as failure:
                result.failures.append(str(failure))


def run_one(session, build, workdir, title, reps, function):
    workdir.mkdir(parents=True, exist_ok=True)
    result = Result(title, reps)
    run = Run(session, build, workdir)
    started = time.monotonic()
    try:
        result.figures.update(function(run, reps))
    except Failure as failure:
        result.failures.append(str(failure.args[0]))
        if len(failure.args) > 1:
            result.figures.update(failure.args[1])
    except Exception as error:  # a broken step of the suite itself is a failure too
        result.failures.append(f"{type(error).__name__}: {error}")
        traceback.print_exc(file=sys.stderr)
    finally:
        try:
            run.finish(result)
        finally:
            run.procs.stop_all()
    result.figures["s"] = f"{time.monotonic() - started:.0f}"
    return result


def print_table(results, out=sys.stdout):
    rows = [("scenario", "reps", "outcome", "figures")]
    for r in results:
        figures = ", ".join(f"{name} {value}" for name, value in r.figures.items())
        rows.append((r.name, str(r.reps), r.outcome, figures))
    widths = [max(len(row[i]) for row in rows) for i in range(3)]
    for row in rows:
        print(" | ".join(cell.ljust(widths[i]) if i < 3 else cell for i, cell in enumerate(row)),
              file=out)
    for r in results:
        for failure in r.failures:
            print(f"FAIL {r.name}: {failure}", file=out)
    out.flush()


def run_suite(session, build, workdir, counts, only=None):
    results = []
    for key in SCENARIOS:
        if only and key not in only:
            continue
        results += run_scenario(session, build, workdir, key, counts[key])
        print_table(results[-1:], out=sys.stderr)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--short", action="store_true", help="a few repetitions of each")
    parser.add_argument("--only", nargs="*", choices=list(SCENARIOS), help="these scenarios")
    parser.add_argument("--table", type=Path, help="also write the table to this file")
    args = parser.parse_args()
    session, build = k.session_and_build("fault_suite", "fault_suite.sh")
    with tempfile.TemporaryDirectory(prefix="kelma-fault-suite.") as workdir:
        results = run_suite(session, build, workdir, SHORT if args.short else FULL, args.only)
    print_table(results)
    if args.table:
        with open(args.table, "w") as out:
            print_table(results, out)
    sys.exit(0 if all(r.outcome == "pass" for r in results) else 1)


if __name__ == "__main__":
    main()
