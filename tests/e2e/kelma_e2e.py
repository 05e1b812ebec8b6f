"""Drives the real KelmaRotator.exe under Wine from the outside, with both simulators in their own
processes: the KELMA controller simulator (kelma_sim, native) and the prediction-server simulator
(predsim.exe, Windows). Used by the end-to-end tests, the demo and the end-to-end benchmark.

Every Wine process runs in the harness session's private prefix with its preload library that
hides the machine's serial devices; Session.check() refuses anything else. Processes are ended by
their PID only. Output of Wine processes goes to files, never to pipes: Wine's helper processes
inherit them and would keep a pipe open.
"""

import fcntl
import json
import os
import re
import shlex
import socket
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SESSION_SCRIPT = REPO / "tests" / "e2e" / "session.sh"
TITLE = "KelmaRotator"
ABOUT_TITLE = "About...."
ERROR_TITLE = "Error"

# Control ids of the operator window (ui/resource.h).
IDC_AZ_EDIT, IDC_EL_EDIT, IDC_AZ_SET, IDC_EL_SET, IDC_MANUAL, IDC_PORT = range(1000, 1006)
IDC_POS_AZ, IDC_POS_EL, IDC_AZ_STOP, IDC_SAT_NAME = 1006, 1007, 1008, 1009
IDC_DDE_AZ, IDC_DDE_EL, IDC_LOG, IDC_EL_STOP = 1010, 1011, 1012, 1013

SESSION_VARS = ("WINEPREFIX", "DISPLAY", "LD_PRELOAD", "WINE", "WINEDEBUG", "WINEDLLOVERRIDES")
PRELOAD_NAME = "libhideserial.so"
STOP_WAIT_S = 10
# A test runner waits this long for a session of the pool that another runner holds.
POOL_WAIT_S = 600
# xdotool's "mousemove --sync" waits ~15 s when the pointer is already there; a pause does instead.
POINTER_SETTLE_S = 0.1


def wait_until(condition, timeout, interval=0.05, what="condition"):
    """Polls condition() until it returns something true; returns that, or raises on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def end_process(process, grace=STOP_WAIT_S):
    """Ends a process we started, by its PID: SIGTERM, then SIGKILL after the grace time."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(grace)


# ----------------------------------------------------------------------------------------------
# Session and build


def read_session_env(envfile):
    """The environment of a session, from the NAME=value lines harness_save_env wrote."""
    env = dict(os.environ)
    for line in Path(envfile).read_text().splitlines():
        name, _, value = line.partition("=")
        parts = shlex.split(value)
        env[name] = parts[0] if parts else ""
    for name in ("HARNESS_WINESERVER_PID", "HARNESS_XVFB_PID", "HARNESS_KEEPER_PID",
                 "HARNESS_SAVED_LD_PRELOAD"):
        env.pop(name, None)
    return env


class Session:
    """The Wine/X environment of a harness session (tests/harness/wine-session.sh)."""

    def __init__(self, env, envfile=None):
        self.env = env
        self.envfile = envfile  # set when this object started the session and must stop it
        self.lock = None  # set when this object holds a session of a pool
        self.check()

    @classmethod
    def from_environment(cls):
        """The session tools/test.sh started, when its environment is exported; else None."""
        if not all(os.environ.get(v) for v in ("WINEPREFIX", "DISPLAY", "LD_PRELOAD")):
            return None
        return cls(dict(os.environ))

    @classmethod
    def start(cls, workdir):
        workdir = Path(workdir)
        workdir.mkdir(parents=True, exist_ok=True)
        envfile = workdir / "session.env"
        log = workdir / "session.log"
        with open(log, "w") as out:
            subprocess.run(["bash", str(SESSION_SCRIPT), "start", str(workdir), str(envfile)],
                           stdin=subprocess.DEVNULL, stdout=out, stderr=out, check=True)
        return cls(read_session_env(envfile), envfile)

    @classmethod
    def claim_from_pool(cls):
        """A free session of the pool tools/test.sh started (HARNESS_POOL), held until release():
        the same lock wine-run.sh takes, so no other program shares its COM links, DDE and
        display, and test runners side by side (pytest -n) each get a session of their own.
        None without a pool."""
        pool = os.environ.get("HARNESS_POOL")
        if not pool:
            return None
        envfiles = sorted(Path(pool).glob("session*.env"))
        if not envfiles:
            raise RuntimeError(f"HARNESS_POOL {pool} holds no session")

        def claim():
            for envfile in envfiles:
                lock = open(envfile.with_suffix(".lock"), "a")
                try:
                    fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except BlockingIOError:
                    lock.close()
                    continue
                return envfile, lock
            return None

        envfile, lock = wait_until(claim, POOL_WAIT_S, interval=0.1, what="a free Wine session")
        session = cls(read_session_env(envfile))
        session.lock = lock
        return session

    def check(self):
        """Refuses to let any Wine process run outside a private prefix with the preload."""
        prefix = Path(self.env.get("WINEPREFIX", "")).resolve()
        home_wine = (Path.home() / ".wine").resolve()
        if not self.env.get("WINEPREFIX") or prefix == home_wine or home_wine in prefix.parents:
            raise RuntimeError(f"unsafe WINEPREFIX: {self.env.get('WINEPREFIX')!r}")
        if not self.env.get("LD_PRELOAD", "").endswith("/$LIB/" + PRELOAD_NAME):
            raise RuntimeError(f"LD_PRELOAD is not the harness library: {self.env.get('LD_PRELOAD')!r}")
        if not (prefix / "dosdevices").is_dir():
            raise RuntimeError(f"{prefix} is not a Wine prefix")
        self.env.setdefault("WINE", "wine")

    @property
    def wine(self):
        return self.env["WINE"]

    def release(self):
        if self.lock:
            self.lock.close()
            self.lock = None

    def stop(self):
        if self.envfile:
            subprocess.run(["bash", str(SESSION_SCRIPT), "stop", str(self.envfile)],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
            self.envfile = None


@dataclass
class Build:
    """Where the programs are: <build>/i686 (MinGW; KELMA_E2E_ARCH=x86_64 picks the 64-bit build,
    for machines that cannot run 32-bit code) and the native kelma_sim."""

    root: Path
    arch: str = "i686"

    @classmethod
    def locate(cls):
        return cls(Path(os.environ.get("KELMA_BUILD", REPO / "build")),
                   os.environ.get("KELMA_E2E_ARCH", "i686"))

    @property
    def app(self):
        return self.root / self.arch / "KelmaRotator.exe"

    @property
    def predsim(self):
        return self.root / self.arch / "tools" / "predsim" / "predsim.exe"

    @property
    def feed(self):
        return self.root / self.arch / "feed" / "kelmafeed.exe"

    @property
    def probe(self):
        return self.root / self.arch / "tools" / "probe" / "kelma_probe.exe"

    @property
    def windows_sim(self):
        return self.root / self.arch / "tools" / "kelma_sim" / "kelma_sim.exe"

    @property
    def sim(self):
        return Path(os.environ.get("KELMA_SIM", self.root / "native" / "tools" / "kelma_sim" / "kelma_sim"))

    def missing(self):
        return [str(p) for p in (self.app, self.predsim, self.feed, self.probe, self.sim)
                if not p.exists()]


def session_and_build(tool, wrapper):
    """The harness session and the build that a tool run through its wrapper script uses; ends
    the tool with a message when either is missing."""
    build = Build.locate()
    if build.missing():
        sys.exit(f"{tool}: not built: {', '.join(build.missing())}")
    session = Session.from_environment()
    if session is None:
        sys.exit(f"{tool}: run it through {wrapper} (it needs a harness session)")
    return session, build


# ----------------------------------------------------------------------------------------------
# Clocks: kelma_sim stamps with CLOCK_MONOTONIC; Wine's performance counter (predsim, the probe)
# runs on CLOCK_MONOTONIC_RAW. The two differ by an offset that drifts slowly.


def raw_to_monotonic_offset_us():
    """CLOCK_MONOTONIC minus CLOCK_MONOTONIC_RAW, in microseconds (best of a few tight reads)."""
    best = None
    for _ in range(20):
        a = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        raw = time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)
        b = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        if best is None or b - a < best[0]:
            best = (b - a, (a + b) // 2 - raw)
    return best[1] / 1000.0


# ----------------------------------------------------------------------------------------------
# The controller simulator


@dataclass
class Command:
    """One command or poll as the controller received it."""

    t: int  # CLOCK_MONOTONIC µs of the read that brought its first byte
    axis: str  # "A" or "E"
    arg: str | None  # "045", "S", ... or None for a poll

    @property
    def is_poll(self):
        return self.arg is None

    @property
    def wire(self):
        text = self.axis + "\r\n" + ("" if self.arg is None else self.arg + "\r\n")
        return text.encode()

    def __repr__(self):
        return f"{self.axis}{'?' if self.arg is None else ' ' + self.arg}@{self.t}"


def split_commands(chunks):
    """Cuts the bytes the controller received into commands and polls. An axis line followed by an
    argument line is a command; an axis line followed by another axis line, or last, is a poll.
    Returns (commands, rest): rest holds bytes after the last complete line."""
    lines = []  # (t of first byte, text)
    current, started = b"", None
    for t, data in chunks:
        for byte in data:
            if byte in (0x0D, 0x0A):
                if current:
                    lines.append((started, current.decode("latin-1")))
                current, started = b"", None
            else:
                if not current:
                    started = t
                current += bytes([byte])
    commands = []
    i = 0
    while i < len(lines):
        t, text = lines[i]
        following = lines[i + 1][1] if i + 1 < len(lines) else None
        if text in ("A", "E") and following is not None and following not in ("A", "E"):
            commands.append(Command(t, text, following))
            i += 2
        else:
            commands.append(Command(t, text, None))
            i += 1
    return commands, current


class Sim:
    """kelma_sim in its own process, with a control connection on 127.0.0.1."""

    def __init__(self, session, build, workdir, ports=(1,)):
        self.workdir = Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        portfile = self.workdir / "sim.port"
        portfile.unlink(missing_ok=True)  # never a port number left by an earlier simulator
        args = [str(build.sim), "--control-port", "0", "--control-file", str(portfile)]
        if ports:
            args += ["--ports", ",".join(str(p) for p in ports)]
        self.process = subprocess.Popen(
            args, env=session.env, stdin=subprocess.DEVNULL,
            stdout=open(self.workdir / "sim.out", "w"), stderr=open(self.workdir / "sim.err", "w"))
        try:
            wait_until(lambda: portfile.exists() and portfile.read_text().strip(), 10,
                       what="kelma_sim control port")
            self.control_port = int(portfile.read_text())
            self.control = SimConnection(self.control_port)
        except BaseException:
            end_process(self.process)  # a half-started simulator is not left behind
            raise

    def connect(self):
        """Another control connection, for a thread of its own (the simulator takes several)."""
        return SimConnection(self.control_port)

    def command(self, line):
        return self.control.command(line)

    def received(self, port=1):
        return bytes.fromhex(self.command(f"recv {port}"))

    def chunks(self, port=1):
        result = []
        for item in self.command(f"chunks {port}").split():
            t, _, data = item.partition(":")
            result.append((int(t), bytes.fromhex(data)))
        return result

    def commands(self, port=1):
        return split_commands(self.chunks(port))[0]

    def clear(self, port=1):
        self.command(f"clear {port}")

    def position(self, port=1):
        """(az, el, target az, target el, az moving, el moving)."""
        values = self.command(f"get {port}").split()
        return tuple(float(v) for v in values[:4]) + tuple(v == "1" for v in values[4:])

    def now(self):
        return int(self.command("now"))

    def stop(self):
        self.control.close()
        end_process(self.process)


class SimConnection:
    """One control connection to kelma_sim: a command line out, its reply line back."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port))
        self.reader = self.socket.makefile("rb")

    def command(self, line):
        self.socket.sendall(line.encode() + b"\n")
        reply = self.reader.readline().decode().strip()
        if not reply.startswith("ok"):
            raise RuntimeError(f"kelma_sim: {line!r} -> {reply!r}")
        return reply[2:].strip()

    def close(self):
        try:
            self.reader.close()
            self.socket.close()
        except OSError:
            pass


# ----------------------------------------------------------------------------------------------
# The prediction-server simulator


class PredSim:
    """predsim.exe under Wine, fed its script line by line on standard input. program: the
    tracking program it plays instead of the prediction program ("orbitron", "satpc32"); ddeml:
    it serves through the DDE library, as those programs do."""

    def __init__(self, session, build, workdir, registered=True, name="predsim", program=None,
                 ddeml=False):
        self.workdir = Path(workdir)
        self.log = self.workdir / f"{name}.log"
        self.log.write_text("")
        args = [session.wine, str(build.predsim), "--log", str(self.log)]
        if not registered:
            args.insert(2, "--unregistered")
        if program:
            args[2:2] = ["--as", program]
        if ddeml:
            args.insert(2, "--ddeml")
        self.process = subprocess.Popen(
            args, env=session.env, stdin=subprocess.PIPE,
            stdout=open(self.workdir / f"{name}.out", "w"), stderr=subprocess.STDOUT)
        try:
            self.wait_event(r"ready", 30)
        except BaseException:
            self.stop()
            raise

    def send(self, *lines):
        for line in lines:
            self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()

    def events(self):
        """[(performance-counter µs, text)] of every complete line so far."""
        result = []
        for line in self.log.read_text(errors="replace").splitlines(keepends=True):
            if not line.endswith("\n"):
                break
            t, _, text = line.strip().partition(" ")
            result.append((int(t), text))
        return result

    def wait_event(self, pattern, timeout, after=0):
        """The first event matching pattern (a regular expression) later than 'after'."""
        regex = re.compile(pattern)

        def find():
            for t, text in self.events():
                if t > after and regex.search(text):
                    return t, text
            return None

        return wait_until(find, timeout, what=f"predsim event {pattern!r}")

    def run(self, line, timeout=60):
        """Sends one script line and waits until predsim has carried it out."""
        start = self.events()[-1][0] if self.events() else 0
        self.send(line)
        return self.wait_event(r"^ok " + re.escape(line.strip()) + "$", timeout, after=start)

    def posts(self, item="AzEl"):
        """[(µs, text)] of the data predsim posted on advise loops."""
        result = []
        for t, text in self.events():
            parts = text.split(" ", 4)
            if parts[0] == "post" and len(parts) >= 4 and parts[2] == item:
                result.append((t, parts[4] if len(parts) > 4 else ""))
        return result

    def quit(self, timeout=STOP_WAIT_S):
        if self.process.poll() is None:
            self.send("quit")
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                pass
        self.stop()

    def stop(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        end_process(self.process)


# ----------------------------------------------------------------------------------------------
# The relay

FEED_STATUS = re.compile(r"^(?P<source>.+): (?P<state>connected|waiting) \| (?P<shown>.*) \| "
                         r"received (?P<received>\d+), published (?P<published>\d+), "
                         r"garbled (?P<garbled>\d+)$")


class Feed:
    """kelmafeed.exe under Wine; its console output (messages, and the status line as a line
    whenever it changes) goes to a file."""

    def __init__(self, session, build, workdir, args=(), name="kelmafeed"):
        self.out = Path(workdir) / f"{name}.out"
        self.process = subprocess.Popen(
            [session.wine, str(build.feed), *map(str, args)], env=session.env,
            stdin=subprocess.DEVNULL, stdout=open(self.out, "w"), stderr=subprocess.STDOUT)

    def lines(self):
        text = self.out.read_text(errors="replace") if self.out.exists() else ""
        return [line.rstrip("\r") for line in text.split("\n")[:-1]]  # complete lines only

    def wait_line(self, pattern, timeout=10, count=1):
        """The count-th line matching pattern (a regular expression)."""
        regex = re.compile(pattern)

        def find():
            found = [line for line in self.lines() if regex.search(line)]
            return found[count - 1] if len(found) >= count else None

        return wait_until(find, timeout, what=f"kelmafeed line {pattern!r} (#{count})")

    def status(self):
        """The last status line, as a match with source, state, shown and the counts."""
        for line in reversed(self.lines()):
            match = FEED_STATUS.match(line)
            if match:
                return match
        return None

    def wait_status(self, condition, timeout=10):
        def check():
            status = self.status()
            return status if status and condition(status) else None

        return wait_until(check, timeout, what="kelmafeed status")

    def stop(self):
        end_process(self.process)


# ----------------------------------------------------------------------------------------------
# The program and the probe


class Probe:
    """kelma_probe.exe: the program's windows, read from the outside."""

    def __init__(self, session, build, workdir):
        self.session, self.build, self.workdir = session, build, Path(workdir)

    def run(self, *args, timeout=30):
        return self.answer(*args, timeout=timeout)[0]

    def answer(self, *args, timeout=30):
        """The probe's answer lines, with its exit status and the end of what Wine and the probe
        wrote to stderr (to say why a probe that must answer did not)."""
        with tempfile.NamedTemporaryFile("w+", dir=self.workdir, suffix=".probe") as out:
            done = subprocess.run([self.session.wine, str(self.build.probe), *args],
                                  env=self.session.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.PIPE, timeout=timeout, check=False,
                                  errors="replace")
            out.seek(0)
            return [json.loads(line) for line in out if line.strip()], done

    def first(self, *args):
        answers, done = self.answer(*args)
        assert answers, (f"kelma_probe {' '.join(args)} answered nothing, exit status "
                         f"{done.returncode}; stderr: {done.stderr[-1500:]!r}")
        return answers[0]

    def windows(self, title=None):
        args = ["windows"] + (["--title", title] if title else [])
        return self.first(*args)["windows"]

    def now(self):
        """The performance counter of a Wine process, in µs."""
        return self.first("now")


class Window:
    """One probed window: its controls by id."""

    def __init__(self, data):
        self.data = data
        self.controls = {c["id"]: c for c in data["controls"] if c["id"] != -1}

    def text(self, control_id):
        return self.controls[control_id]["text"]

    def enabled(self, control_id):
        return self.controls[control_id]["enabled"]

    def static_texts(self):
        return [c["text"] for c in self.data["controls"] if c["class"].lower() == "static"]

    def center(self, control_id=None):
        left, top, right, bottom = (self.controls[control_id]["rect"] if control_id
                                    else self.data["client"])
        return (left + right) // 2, (top + bottom) // 2

    @property
    def title(self):
        return self.data["title"]


def x_window(session, title):
    """The X window id of the session's window with that title, or None."""
    result = subprocess.run(["xdotool", "search", "--name", f"^{re.escape(title)}$"],
                            env=session.env, capture_output=True, text=True, check=False)
    ids = result.stdout.split()
    return ids[0] if ids else None


def screenshot(session, title, path):
    """PNG of the session's window with that title, as ImageMagick's import grabs it."""
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["import", "-window", x_window(session, title), str(path)], env=session.env,
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class App:
    """KelmaRotator.exe under Wine, operated with xdotool and read back with the probe."""

    def __init__(self, session, build, workdir, args=(), wait=True):
        self.session, self.workdir = session, Path(workdir)
        self.probe = Probe(session, build, workdir)
        self.process = subprocess.Popen(
            [session.wine, str(build.app), *map(str, args)], env=session.env,
            stdin=subprocess.DEVNULL, stdout=open(self.workdir / "app.out", "w"),
            stderr=subprocess.STDOUT)
        self.xid = None
        if wait:
            try:
                self.wait_window()
            except BaseException:
                self.stop()
                raise

    @property
    def pid(self):
        return self.process.pid

    def window(self, title=TITLE):
        found = self.probe.windows(title)
        return Window(found[0]) if found else None

    def state(self):
        window = self.window()
        if window is None:
            raise AssertionError("the operator window is not there")
        return window

    def wait_window(self, timeout=30):
        window = wait_until(self.window, timeout, interval=0.2, what="the operator window")
        self.xid = wait_until(lambda: x_window(self.session, TITLE), 10, what="the X window")
        return window

    def wait_text(self, control_id, expected, timeout=10):
        """Waits until the control shows the text (or a text matching the predicate)."""
        test = expected if callable(expected) else (lambda text: text == expected)

        def check():
            window = self.window()
            return window if window and test(window.text(control_id)) else None

        return wait_until(check, timeout, interval=0.1, what=f"control {control_id} = {expected!r}")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.session.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def click(self, control_id, window=None):
        x, y = (window or self.state()).center(control_id)
        self.xdotool("mousemove", x, y, "sleep", POINTER_SETTLE_S, "click", 1)

    def double_click_at(self, x, y):
        self.xdotool("mousemove", x, y, "sleep", POINTER_SETTLE_S, "click", "--repeat", 2,
                     "--delay", 80, 1)

    def key(self, *keys, title=TITLE):
        xid = x_window(self.session, title)
        self.xdotool("windowfocus", "--sync", xid)
        self.xdotool("key", "--delay", 50, *keys)

    def type_into(self, control_id, text):
        self.click(control_id)
        self.xdotool("key", "ctrl+a", "BackSpace")
        self.xdotool("type", "--delay", 50, text)

    def screenshot(self, path, title=TITLE):
        """PNG of the window (the X window is the client area: there is no window manager)."""
        screenshot(self.session, title, path)

    def wait_exit(self, timeout=15):
        return self.process.wait(timeout)

    def running(self):
        return self.process.poll() is None

    def stop(self):
        end_process(self.process)


def start_pinger(app, path, interval_ms, count, *target):
    """The probe asking the program's window (or, with "--desktop", the session's idle desktop
    window) for an answer every interval_ms, count times; one JSON line per ping into path."""
    with open(path, "w") as out:
        return subprocess.Popen(
            [app.session.wine, str(app.probe.build.probe), "ping", str(interval_ms), str(count),
             *target], env=app.session.env, stdin=subprocess.DEVNULL, stdout=out,
            stderr=subprocess.DEVNULL)


def read_pings(path):
    """[(start µs, round trip µs or -1)] of a pinger's complete lines."""
    pings = []
    for line in Path(path).read_text().splitlines():
        if line.strip().endswith("}"):
            ping = json.loads(line)
            pings.append((ping["t"], ping["us"]))
    return pings


def held_pings(pings, machine, limit_us):
    """The pings to the program's window that went unanswered, or took limit_us or more while the
    idle desktop window, pinged over the same time, answered in half the time: the program, not
    the machine's load, held its window."""
    def machine_delay(start, took):
        return max([us for t, us in machine if start <= t <= start + took and us >= 0], default=0)
    return [(t, us) for t, us in pings if us < 0 or (
        us >= limit_us and machine_delay(t, us) < us / 2)]


# ----------------------------------------------------------------------------------------------
# What the program must send: the tracking rule, as an oracle for whole passes.

NO_VALUE = -1000


def leading_int(text):
    match = re.match(r"[ \t\n\v\f\r]*([+-]?\d+)", text)
    return int(match.group(1)) if match else 0


def parse_azel(text):
    text = text.split("\0")[0]
    az = leading_int(text)
    bar = text.find("|")
    el = leading_int(text[bar + 1:]) if bar >= 0 else 0
    return az, el


class TrackingModel:
    """The commands the program sends for a sequence of prediction values."""

    def __init__(self, last_az=NO_VALUE, last_el=NO_VALUE, manual=False):
        self.last_az, self.last_el, self.manual = last_az, last_el, manual

    def update(self, az, el):
        """[(axis, text)] for one update with the link holding az, el."""
        if az < -360 or el < -180 or el < -5 or self.manual:
            return []
        sent = []
        if az != self.last_az:
            self.last_az = az
            sent.append(("A", "%03d" % az))
        if el != self.last_el:
            el = max(el, 0)
            self.last_el = el
            sent.append(("E", "%03d" % el))
        return sent

    def feed(self, texts):
        sent = []
        for text in texts:
            sent += self.update(*parse_azel(text))
        return sent


# ----------------------------------------------------------------------------------------------
# Processes of one test or scenario


class Processes:
    """Starts the simulators and the program for one test or scenario and ends them all, newest
    first, in stop_all()."""

    def __init__(self, session, build, workdir):
        self.session, self.build, self.workdir = session, build, Path(workdir)
        self.started = []

    def _keep(self, process):
        self.started.append(process)
        return process

    def sim(self, ports=(1,)):
        return self._keep(Sim(self.session, self.build, self.workdir, ports))

    def predsim(self, registered=True, name="predsim", program=None, ddeml=False):
        return self._keep(PredSim(self.session, self.build, self.workdir, registered, name,
                                  program, ddeml))

    def feed(self, *args, name="kelmafeed"):
        return self._keep(Feed(self.session, self.build, self.workdir, args, name))

    def app(self, *args, wait=True):
        return self._keep(App(self.session, self.build, self.workdir, args, wait))

    def stop_all(self):
        for process in reversed(self.started):
            process.stop()
        self.started = []
