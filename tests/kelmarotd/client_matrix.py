"""The tracking programs that stations run against a rotctld server, each replayed as its
published source talks: the exact bytes it sends and the way it reads the answers. One row per
client; each row names the program, the version and the file its facts come from. A row returns
what the client made of the answers; `run_matrix` checks every row and returns the table.

The server runs with limits that differ from every client default (azimuth 5..355, elevation
0..85) and the simulated controller stands at azimuth 123, elevation 45.
"""

import re
import socket
import struct
import subprocess
import time
from dataclasses import dataclass
from typing import Callable

from kelmarotd_e2e import ANSWER_WAIT_S, orders, wait_until

LIMITS = (5.0, 355.0, 0.0, 85.0)
SERVER_OPTIONS = ["--min-az=5", "--max-az=355", "--min-el=0", "--max-el=85", "--park-az=180"]
STANDING = (123.0, 45.0)
INFO = "KELMA rotator controller: answering"
# A client that never reads sends at most this much before the server must have closed it: far
# more than the socket buffers on both sides and the server's bound together.
DEAF_SEND_LIMIT = 4 * 1024 * 1024
DEAF_BUFFER_BYTES = 4096  # the deaf client's own socket buffers, set before it connects


@dataclass
class Row:
    client: str
    source: str
    sends: str
    replay: Callable  # (server, sim, port) -> (what the client parsed, figures)
    commanded: list  # the controller commands the row must cause, as (axis, argument)


def c_float(value):
    """The value as a C float, Hamlib's azimuth_t and elevation_t."""
    return struct.unpack("f", struct.pack("f", value))[0]


def c_atof(text):
    """C's atof: the longest leading decimal number, 0.0 when there is none."""
    found = re.match(r"\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", text)
    return float(found.group(0)) if found else 0.0


class LineSocket:
    """A client socket read line by line, as Hamlib's read_string reads up to each LF."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=ANSWER_WAIT_S)
        self.buffer = b""

    def send(self, data):
        self.socket.sendall(data)

    def read_line(self):
        while b"\n" not in self.buffer:
            data = self.socket.recv(4096)
            if not data:
                raise ConnectionError("closed before the answer's line end")
            self.buffer += data
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.decode()

    def flush(self):
        """Hamlib's network_flush: drops whatever has arrived and was not read."""
        self.buffer = b""
        self.socket.setblocking(False)
        try:
            while self.socket.recv(4096):
                pass
        except BlockingIOError:
            pass
        finally:
            self.socket.settimeout(ANSWER_WAIT_S)

    def recv_once(self, size):
        """One recv(), as Gpredict and radiosonde_auto_rx read an answer."""
        return self.socket.recv(size).decode()

    def close(self):
        self.socket.close()


# ---------------------------------------------------------------------------------------------
# The rows


def hamlib_454(server, sim, port):
    """Hamlib 4.5.4's own rotctl with its network rotator (-m 2): dump_caps shows the limits it
    read from dump_state when it connected."""
    code, printed = server.rotctl("dump_caps", "set_pos", "200.4", "30.25", "get_pos")
    assert code == 0, printed
    limits = tuple(float(re.search(rf"{name}:\s+(\S+)", printed).group(1)) for name in (
        "Min Azimuth", "Max Azimuth", "Min Elevation", "Max Elevation"))
    assert limits == LIMITS, printed
    position = tuple(float(v) for v in printed.rstrip("\n").split("\n")[-2:])
    assert position == STANDING, printed
    return f"limits {limits}, position {position}", "exit 0"


class OldNetrotctl:
    """Hamlib's network rotator client before 4.5.1 (rotators in dummy/netrotctl.c, backend
    version "0.3", in Hamlib 4.0 to 4.4): netrotctl_open reads the protocol version and the
    model, then four lines with atof as min_az, max_az, min_el, max_el, and nothing more; every
    transaction first flushes what is left unread, then writes one command and reads one line."""

    def __init__(self, port):
        self.link = LineSocket(port)
        first = self.transaction("\\dump_state\n")
        self.protocol = int(first)
        self.link.read_line()  # the model
        self.limits = tuple(c_atof(self.link.read_line()) for _ in range(4))

    def transaction(self, command):
        self.link.flush()
        self.link.send(command.encode())
        return self.link.read_line()

    def set_position(self, az, el):
        line = self.transaction("P %f %f\n" % (c_float(az), c_float(el)))
        return int(line[5:]) if line.startswith("RPRT ") else -8  # RIG_EPROTO otherwise

    def get_position(self):
        line = self.transaction("p\n")
        if line.startswith("RPRT "):
            raise AssertionError(f"get_pos failed: {line}")
        return c_atof(line), c_atof(self.link.read_line())

    def close(self):
        self.link.send(b"q\n")
        self.link.close()


def hamlib_before_451(server, sim, port):
    client = OldNetrotctl(server.port)
    try:
        assert client.limits == LIMITS, client.limits
        status = client.set_position(210.3, 31.0)
        assert status == 0, status
        position = client.get_position()
        assert position == STANDING, position
    finally:
        client.close()
    return f"limits {client.limits}, set_pos {status}, position {position}", "protocol 1"


def gpredict(set_command):
    """Gpredict 2.2 (csete/gpredict src/gtk-rot-ctrl.c): set_pos formats "P %.2f %.2f\\x0a" with
    the user's locale and reads one recv() of at most 128 bytes, taking g_strtod(reply + 4) as
    the error code; get_pos sends "p\\x0a", takes one recv() and splits it at LF into azimuth and
    elevation unless it starts with "RPRT"; rotctld_socket_close sends "q\\x0a" and closes."""

    def replay(server, sim, port):
        link = LineSocket(server.port)
        try:
            link.send(set_command)
            reply = link.recv_once(128)
            status = int(c_atof(reply[4:]))
            assert reply.startswith("RPRT") and status == 0, reply
            link.send(b"p\x0a")
            reply = link.recv_once(128)
            assert not reply.startswith("RPRT"), reply
            fields = reply.split("\n", 2)
            position = (c_atof(fields[0]), c_atof(fields[1]))
            assert position == STANDING, reply
            link.send(b"q\x0a")
            closed = link.recv_once(128) == ""
            assert closed, "the server kept the connection after q"
        finally:
            link.close()
        return f"set_pos {status}, position {position}", "closed after q"

    return replay


def satnogs(server, sim, port):
    """satnogs-client (satnogsclient/rotator.py, observer/worker.py WorkerTrack) drives the
    rotator through Hamlib's Python binding: the network rotator (ROT_MODEL_NETROTCTL) with the
    port "host:port", open(), then in a loop the position read and, when the target is more
    than SATNOGS_ROT_THRESHOLD (4) degrees away, set; close() at the end. Here Debian's
    python3-hamlib 4.5.4, the library itself, reads and sets back to back."""
    try:
        import Hamlib
    except ImportError as missing:
        raise AssertionError("Hamlib's Python binding is missing: tools/install-deps.sh "
                             "installs python3-hamlib") from missing
    Hamlib.rig_set_debug(Hamlib.RIG_DEBUG_NONE)
    rot = Hamlib.Rot(Hamlib.ROT_MODEL_NETROTCTL)
    rot.state.rotport.pathname = f"127.0.0.1:{server.port}"
    rot.state.rotport.parm.serial.rate = 19200  # SATNOGS_ROT_BAUD's default; unused on a network
    rot.open()
    assert rot.error_status == 0, rot.error_status
    reads = []
    try:
        for azimuth, elevation in ((140.0, 50.0), (141.0, 50.2), (150.0, 60.0)):
            current = tuple(rot.get_position())
            assert rot.error_status == 0, rot.error_status
            reads.append(current)
            if abs(azimuth - current[0] % 360.0) > 4 or abs(elevation - current[1]) > 4:
                rot.set_position(azimuth, elevation)
                assert rot.error_status == 0, rot.error_status
    finally:
        rot.close()
    assert set(reads) == {STANDING}, reads
    return f"{len(reads)} positions {reads[0]}, 3 sets, status 0", \
        f"limits {(rot.state.min_az, rot.state.max_az, rot.state.min_el, rot.state.max_el)}"


def sdrangel(server, sim, port):
    """SDRangel's rotator controller (f4exb/sdrangel plugins/feature/gs232controller,
    gs232controllerworker.cpp and rotctrldprotocol.cpp): the set is QString("P %1 %2\\n") with
    QString::arg(float), 'g' with 6 significant digits, so angles near zero come with an
    exponent; a 1 s timer writes "p\\n" without waiting for earlier answers. readData takes each
    line: "RPRT n" as a status, a number with a decimal point as azimuth, then elevation."""
    link = LineSocket(server.port)
    statuses, numbers = [], []
    try:
        link.send(b"P 354.95 1e-05\np\n")
        while len(statuses) + len(numbers) < 3:
            line = link.read_line().strip()
            status = re.search(r"RPRT (-?\d+)", line)
            if status:
                statuses.append(int(status.group(1)))
            elif re.search(r"(-?\d+.\d+)", line):
                numbers.append(float(line))
            else:
                raise AssertionError(f"unexpected rotctld response {line!r}")
    finally:
        link.close()
    assert statuses == [0] and tuple(numbers) == STANDING, (statuses, numbers)
    return f"RPRT {statuses[0]}, position {tuple(numbers)}", "two commands in one write"


def radiosonde_auto_rx(server, sim, port):
    """radiosonde_auto_rx (projecthorus/radiosonde_auto_rx auto_rx/autorx/rotator.py,
    read_rotator and set_rotator): a new TCP connection for each command, one send, one
    recv(4096), then the socket is dropped without "q". A read splits the reply at LF and takes
    float() of the first two fields unless the first holds "RPRT"; a set sends
    "P %.1f %.1f\\n" (azimuth modulo 360, elevation clipped to 0..90) and wants "RPRT 0"."""
    gone_before = server.text().count(" gone")
    link = LineSocket(server.port)
    link.send(b"p\n")
    fields = link.recv_once(4096).split("\n")
    link.close()
    assert "RPRT" not in fields[0], fields
    position = (float(fields[0]), float(fields[1]))
    assert position == STANDING, fields

    link = LineSocket(server.port)
    link.send(b"P %.1f %.1f\n" % (270.4 % 360.0, min(max(12.3, 0), 90)))
    reply = link.recv_once(4096)
    link.close()
    assert "RPRT 0" in reply, reply
    wait_until(lambda: server.text().count(" gone") >= gone_before + 2, ANSWER_WAIT_S,
               what="the server closing both connections")
    return f"position {position}, set {reply.strip()!r}", "2 connections, both closed"


def gpredict_disengage(server, sim, port):
    """Gpredict 2.3 (csete/gpredict src/gtk-rot-ctrl.c at 7d8cddd): rotctld_client_thread sends
    "P %.2f %.2f\\x0a", sleeps 100 ms and polls "p\\x0a"; Disengage (rot_locked_cb) sends
    "S\\x0a" from the window's thread on the same socket, without a lock between the two
    threads, each by rotctld_socket_rw: one send, then one recv() of at most 128 bytes taken as
    its answer. S and a poll can go out back to back: S's answer must come first and before the
    pause between the axes ends, or the two threads read each other's answers. rotctld_socket_close
    sends "q\\x0a"."""
    link = LineSocket(server.port)
    try:
        link.send(b"P 200.00 40.00\x0a")
        reply = link.recv_once(128)
        assert reply == "RPRT 0\n", reply
        link.send(b"S\x0a")
        link.send(b"p\x0a")
        answers = [link.read_line() for _ in range(3)]
        assert answers == ["RPRT 0"] + [f"{angle:f}" for angle in STANDING], answers
        link.send(b"q\x0a")
        assert link.recv_once(128) == "", "the server kept the connection after q"
    finally:
        link.close()
    # The server's log holds its events in order: S's answer before the elevation's stop.
    elevation_stop = "controller < E\\r\\nS\\r\\n"
    stop = list(re.finditer(r"(client \d+) > S\n", server.text()))[-1]
    wait_until(lambda: elevation_stop in server.text()[stop.end():], ANSWER_WAIT_S,
               what="the elevation stop")
    log = server.text()
    answered = log.index(f"{stop.group(1)} < RPRT 0\\n", stop.end())
    assert answered < log.index(elevation_stop, stop.end()), \
        "S was answered only after the pause between the axes"
    return f"S: {answers[0]}, then p: {tuple(answers[1:])}", "S answered before the pause ended"


def look4sat(server, sim, port):
    """Look4Sat from 3.1.4 until its change #206 (rt-bishop/Look4Sat
    data/src/main/java/com/rtbishop/look4sat/data/framework/NetworkReporter.kt at ccaa39a,
    reportRotation): the first report opens a SocketChannel and sends nothing; each later one
    writes "\\P $azimuth $newElevation\\n", the numbers as Kotlin's Double.toString prints them
    (an exponent below 0.001) and an elevation at or below 0 as 0.0. It never reads: the
    answers are read here only to check them."""
    link = LineSocket(server.port)
    try:
        for report in (b"\\P 182.51234567891234 36.30000000000001\n", b"\\P 183.7 1.0E-4\n",
                       b"\\P 184.2 0.0\n"):
            link.send(report)
        answers = [link.read_line() for _ in range(3)]
    finally:
        link.close()
    assert answers == ["RPRT 0"] * 3, answers
    return "nothing (never reads)", "3 answers left unread: RPRT 0"


def never_reads(server, sim, port):
    """A client that sends positions and never reads its answers (a tracking script of a
    station's own): the server must close it once its answers pile up, and serve the others
    meanwhile."""
    other = LineSocket(server.port)
    deaf = socket.socket()
    deaf.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, DEAF_BUFFER_BYTES)
    deaf.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, DEAF_BUFFER_BYTES)
    deaf.settimeout(ANSWER_WAIT_S)
    deaf.connect(("127.0.0.1", server.port))
    chunk = b"P 10 10\n" * 512
    sent = answered = 0
    try:
        while sent < DEAF_SEND_LIMIT:
            try:
                deaf.sendall(chunk)
            except (BrokenPipeError, ConnectionResetError):
                break
            sent += len(chunk)
            if sent % (8 * len(chunk)) == 0:
                other.send(b"_\n")
                assert other.read_line() == INFO
                answered += 1
    finally:
        deaf.close()
    assert sent < DEAF_SEND_LIMIT, "the server never closed a client that does not read"
    wait_until(lambda: "does not read its answers; closed" in server.text(), ANSWER_WAIT_S,
               what="the server's note of the closed client")
    other.send(b"_\n")
    assert other.read_line() == INFO
    other.close()
    return "closed by the server", f"{sent // 1024} KB sent, {answered + 1} answers to another"


MATRIX = [
    Row("Hamlib 4.5.4 rotctl -m 2 (NET rotctl 20221110.0)",
        "Hamlib 4.5.4 dummy/netrotctl.c; the real rotctl",
        "\\dump_state, P 200.399994 30.250000, p, q", hamlib_454, [("A", "200"), ("E", "030")]),
    Row("Hamlib before 4.5.1 (NET rotctl 0.3: 4.0 to 4.4)",
        "Hamlib 4.4 dummy/netrotctl.c netrotctl_open",
        "\\dump_state, P 210.300003 31.000000, p, q", hamlib_before_451,
        [("A", "210"), ("E", "031")]),
    Row("Gpredict 2.2, de_DE locale", "csete/gpredict src/gtk-rot-ctrl.c",
        "P 180,00 30,00 / p / q", gpredict(b"P 180,00 30,00\x0a"),
        [("A", "180"), ("E", "030")]),
    Row("Gpredict 2.2, C locale", "csete/gpredict src/gtk-rot-ctrl.c",
        "P 181.25 31.75 / p / q", gpredict(b"P 181.25 31.75\x0a"),
        [("A", "181"), ("E", "032")]),
    Row("SatNOGS client (Hamlib 4.5.4 Python binding)",
        "satnogs-client satnogsclient/rotator.py, observer/worker.py",
        "\\dump_state, p, P 140.000000 50.000000, p, P 141.000000 50.200001, p, "
        "P 150.000000 60.000000, q", satnogs,
        [("A", "140"), ("E", "050"), ("A", "141"), ("A", "150"), ("E", "060")]),
    Row("SDRangel rotator controller (rotctld protocol)",
        "f4exb/sdrangel plugins/feature/gs232controller/rotctrldprotocol.cpp",
        "P 354.95 1e-05\\np (one write)", sdrangel, [("A", "355"), ("E", "000")]),
    Row("radiosonde_auto_rx", "projecthorus/radiosonde_auto_rx auto_rx/autorx/rotator.py",
        "p / P 270.4 12.3, a connection each, no q", radiosonde_auto_rx,
        [("A", "270"), ("E", "012")]),
    Row("Gpredict 2.3, Disengage while polling", "csete/gpredict src/gtk-rot-ctrl.c (7d8cddd)",
        "P 200.00 40.00 / S + p back to back / q", gpredict_disengage,
        [("A", "200"), ("E", "040"), ("A", "S"), ("E", "S")]),
    Row("Look4Sat 3.1.4 to #206 (Android)",
        "rt-bishop/Look4Sat data/.../framework/NetworkReporter.kt (ccaa39a)",
        "\\P 182.51234567891234 36.30000000000001, \\P 183.7 1.0E-4, \\P 184.2 0.0; never reads",
        look4sat, [("A", "183"), ("E", "036"), ("A", "184"), ("E", "000")]),
    Row("A client that never reads", "(any script that only sends)",
        "P 10 10 x 512 per write, never reads", never_reads, [("A", "010"), ("E", "010")]),
]


def run_row(row, server, sim, port):
    sim.clear(port)
    started = time.monotonic()
    parsed, figures = row.replay(server, sim, port)
    wait_until(lambda: orders(sim, port) == row.commanded, ANSWER_WAIT_S,
               what=f"{row.client}: the controller commands {row.commanded}")
    return parsed, f"{figures}; {time.monotonic() - started:.2f} s"


def run_matrix(server, sim, port):
    """Runs every row; returns (the table as Markdown, the rows that failed with why)."""
    lines = ["| client | source | sends | parsed | result |", "|---|---|---|---|---|"]
    failures = []
    for row in MATRIX:
        try:
            parsed, figures = run_row(row, server, sim, port)
            result = f"ok: {figures}"
        except (AssertionError, OSError, TimeoutError, subprocess.SubprocessError) as error:
            parsed, result = "", f"FAILED: {error}"
            failures.append(f"{row.client}: {error}")
        lines.append(f"| {row.client} | {row.source} | `{row.sends}` | {parsed} | {result} |")
    return "\n".join(lines), failures
