"""A virtual null-modem cable between two COM ports of a private Wine prefix, so that two Windows
programs can talk as over a real cable: two pseudo-terminals, linked as dosdevices/com<A> and
com<B>, whose master ends this process joins, byte for byte, in both directions.

    pty_bridge.py <prefix> <A> <B> <ready-file>

Writes "<A> /dev/pts/K" and "<B> /dev/pts/L" to the ready file once the links are there; ends on
SIGTERM or SIGINT and removes its links. It only ever creates pseudo-terminals and links to them.
"""

import os
import select
import signal
import sys
import tty
from pathlib import Path

CHUNK = 4096


def check_prefix(prefix):
    """The dosdevices folder of a private prefix; refuses ~/.wine."""
    prefix = Path(prefix).resolve()
    home_wine = (Path.home() / ".wine").resolve()
    if prefix == home_wine or home_wine in prefix.parents:
        sys.exit("pty_bridge: refusing to touch ~/.wine")
    dosdevices = prefix / "dosdevices"
    if not dosdevices.is_dir():
        sys.exit(f"pty_bridge: {dosdevices} is not a folder")
    return dosdevices


class End:
    """One side of the cable. The slave stays open here too, so the line settings stick and the
    master never sees a hang-up when the program closes its port."""

    def __init__(self, dosdevices, number):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)  # no echo or line editing before a program sets the port up
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        self.link = dosdevices / f"com{number}"
        temporary = dosdevices / f".com{number}.{os.getpid()}"
        os.symlink(self.path, temporary)
        os.replace(temporary, self.link)
        self.pending = b""

    def remove_link(self):
        if self.link.is_symlink() and os.readlink(self.link) == self.path:
            self.link.unlink()


def run(a, b):
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    peer = {a.master: b, b.master: a}
    while not stop:
        # A side whose peer still has bytes to take is not read: the cable does not buffer more.
        readable = [e.master for e in (a, b) if not peer[e.master].pending]
        writable = [e.master for e in (a, b) if e.pending]
        try:
            ready_in, _, _ = select.select(readable, writable, [], 1.0)
        except InterruptedError:
            continue
        for fd in ready_in:
            try:
                peer[fd].pending += os.read(fd, CHUNK)
            except BlockingIOError:
                pass
        for end in (a, b):
            if end.pending:  # non-blocking: write what the pty takes now, the rest later
                try:
                    written = os.write(end.master, end.pending)
                    end.pending = end.pending[written:]
                except BlockingIOError:
                    pass


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    dosdevices = check_prefix(sys.argv[1])
    a, b = End(dosdevices, int(sys.argv[2])), End(dosdevices, int(sys.argv[3]))
    try:
        ready = Path(sys.argv[4])
        temporary = ready.with_suffix(".tmp")
        temporary.write_text(f"{sys.argv[2]} {a.path}\n{sys.argv[3]} {b.path}\n")
        temporary.replace(ready)
        run(a, b)
    finally:
        a.remove_link()
        b.remove_link()


if __name__ == "__main__":
    main()
