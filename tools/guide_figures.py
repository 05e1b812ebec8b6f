#!/usr/bin/env python3
"""Draws the operator guide's figures as plain SVG, the same bytes on every run:
docs/chain.svg, the chain of programs from each tracking program to the controller, and
docs/wiring.svg, the PC's serial connector and the two cables the controller may need.
  python3 tools/guide_figures.py           writes both into docs/
  python3 tools/guide_figures.py --check   exit status 1 when a committed figure differs
"""

import argparse
import sys
from html import escape
from pathlib import Path

DOCS = Path(__file__).resolve().parents[1] / "docs"
FONT = "font-family='Segoe UI, Arial, sans-serif'"
INK, PROGRAM, OURS, DEVICE = "#263238", "#eceff1", "#e3f2fd", "#fff3e0"


class Svg:
    def __init__(self, width, height, title):
        self.parts = [
            f"<svg xmlns='http://www.w3.org/2000/svg' width='{width}' height='{height}' "
            f"viewBox='0 0 {width} {height}' {FONT} font-size='13'>",
            f"<title>{escape(title)}</title>",
            "<defs><marker id='arrow' viewBox='0 0 10 10' refX='9' refY='5' markerWidth='7' "
            f"markerHeight='7' orient='auto'><path d='M0,0 L10,5 L0,10 z' fill='{INK}'/></marker>"
            "</defs>",
            f"<rect width='{width}' height='{height}' fill='white'/>"]

    def box(self, x, y, w, h, lines, fill, bold=False):
        self.parts.append(f"<rect x='{x}' y='{y}' width='{w}' height='{h}' rx='6' fill='{fill}' "
                          f"stroke='{INK}'/>")
        top = y + h / 2 - (len(lines) - 1) * 8
        for i, line in enumerate(lines):
            weight = " font-weight='bold'" if bold and i == 0 else ""
            self.text(x + w / 2, top + i * 16 + 4, line, anchor="middle", extra=weight)

    def text(self, x, y, words, anchor="start", size=None, extra=""):
        font = f" font-size='{size}'" if size else ""
        self.parts.append(f"<text x='{x:g}' y='{y:g}' text-anchor='{anchor}' fill='{INK}'"
                          f"{font}{extra}>{escape(words)}</text>")

    def arrow(self, x1, y1, x2, y2, label=None, dashed=False):
        dash = " stroke-dasharray='5,4'" if dashed else ""
        self.parts.append(f"<line x1='{x1}' y1='{y1}' x2='{x2}' y2='{y2}' stroke='{INK}' "
                          f"stroke-width='1.5'{dash} marker-end='url(#arrow)'/>")
        if label:
            self.text((x1 + x2) / 2, (y1 + y2) / 2 - 6, label, anchor="middle", size=11)

    def line(self, x1, y1, x2, y2, dashed=False):
        dash = " stroke-dasharray='4,3'" if dashed else ""
        self.parts.append(f"<line x1='{x1}' y1='{y1}' x2='{x2}' y2='{y2}' stroke='{INK}' "
                          f"stroke-width='1.5'{dash}/>")

    def circle(self, x, y, r, fill):
        self.parts.append(f"<circle cx='{x}' cy='{y}' r='{r}' fill='{fill}' stroke='{INK}'/>")

    def done(self):
        return "\n".join(self.parts + ["</svg>"]) + "\n"


# The tracking programs of each row, what they speak, and the first program of ours they reach.
CHAIN_ROWS = (
    (("WinOrbit 3.x", "32-bit Windows only"), "DDE: WinOrbit", "window"),
    (("Orbitron",), "DDE text", "feed"),
    (("SatPC32, SatPC32ISS",), "DDE text", "feed"),
    (("Gpredict, Look4Sat,", "rotctl (Windows)"), "rotctld, TCP 4533", "feed"),
    (("Gpredict, SatNOGS,", "Look4Sat, rotctl"), "rotctld, TCP 4533", "server"),
    (("kelmatrack",), "rotctld, TCP 4533", "server"),
)


def chain():
    svg = Svg(880, 470, "From the tracking program to the KELMA controller")
    svg.text(20, 28, "Tracking program", size=14, extra=" font-weight='bold'")
    svg.text(400, 28, "Our programs", size=14, extra=" font-weight='bold'")
    svg.text(700, 28, "Hardware", size=14, extra=" font-weight='bold'")
    feed = (300, 140, 140, 150)
    window = (540, 55, 150, 235)
    server = (540, 330, 150, 110)
    svg.box(*feed, ["kelmafeed.exe", "relay, console", "offers WinOrbit"], OURS, bold=True)
    svg.box(*window, ["KelmaRotator.exe", "the window", "manual control, log"], OURS, bold=True)
    svg.box(*server, ["kelmarotd", "network server", "Windows, Linux, Pi"], OURS, bold=True)
    svg.box(740, 170, 130, 120, ["KELMA", "controller", "9600 bit/s, 8N1"], DEVICE, bold=True)
    for i, (names, speech, target) in enumerate(CHAIN_ROWS):
        y = 50 + i * 66
        svg.box(20, y, 170, 48, list(names), PROGRAM)
        middle = y + 24
        if target == "window":
            svg.arrow(190, middle, window[0], middle, speech)
        elif target == "feed":
            svg.arrow(190, middle, feed[0], min(max(middle, feed[1] + 10), feed[1] + 140), speech)
        else:
            svg.arrow(190, middle, server[0], min(max(middle, server[1] + 15), server[1] + 95),
                      speech)
    svg.arrow(feed[0] + feed[2], 215, window[0], 215, "DDE: WinOrbit")
    svg.arrow(window[0] + window[2], 230, 740, 230, "COM port")
    svg.arrow(server[0] + server[2], 385, 805, 290)
    svg.text(760, 330, "serial port", size=11)
    svg.text(20, 462, "One program owns the COM port: the window or kelmarotd, never both.",
             size=12)
    return svg.done()


# The PC's 9-pin serial connector (male, seen from the front) and what each pin carries here.
PC_PINS = {
    1: ("DCD", "not used"), 2: ("RxD", "receive: the controller's reports"),
    3: ("TxD", "transmit: the commands"), 4: ("DTR", "held off"), 5: ("GND", "signal ground"),
    6: ("DSR", "not used"), 7: ("RTS", "held on"), 8: ("CTS", "not used"), 9: ("RI", "not used")}
NEEDED = (2, 3, 5)


def connector(svg, x, y):
    """A DE-9 face: pins 1 to 5 on the wide row, 6 to 9 below."""
    svg.parts.append(f"<path d='M{x},{y} h220 l-22,80 h-176 z' fill='#cfd8dc' stroke='{INK}'/>")
    for pin in range(1, 10):
        row = 0 if pin <= 5 else 1
        column = pin - 1 if row == 0 else pin - 6 + 0.5
        cx, cy = x + 30 + column * 40, y + 25 + row * 32
        svg.circle(cx, cy, 9, "#fdd835" if pin in NEEDED else "white")
        svg.text(cx, cy + 4, str(pin), anchor="middle", size=10)


def cable(svg, x, y, title, pairs):
    """Pins 2, 3 and 5 on both ends, a wire from each of the PC's pins to the controller's."""
    svg.text(x, y, title, extra=" font-weight='bold'")
    rows = {pin: y + 24 + i * 22 for i, pin in enumerate(NEEDED)}
    for pin, row in rows.items():
        svg.text(x, row + 4, f"PC {pin} {PC_PINS[pin][0]}")
        svg.text(x + 208, row + 4, f"{pin}  controller")
    for pc, other in pairs:
        svg.line(x + 80, rows[pc], x + 200, rows[other])
    svg.parts.append(f"<rect x='{x - 8}' y='{y - 18}' width='405' height='{36 + 22 * len(pairs)}' "
                     f"fill='none' stroke='{INK}' stroke-dasharray='3,3'/>")


def wiring():
    svg = Svg(880, 475, "Wiring the PC's serial port to the KELMA controller")
    svg.text(20, 28, "The PC's serial port (or the USB-serial adapter's plug), 9 pins, male",
             size=14, extra=" font-weight='bold'")
    connector(svg, 30, 50)
    for i, pin in enumerate(range(1, 10)):
        name, use = PC_PINS[pin]
        svg.text(290, 62 + i * 17, f"{pin}  {name}: {use}", size=12,
                 extra=" font-weight='bold'" if pin in NEEDED else "")
    svg.text(20, 232, "Three wires carry everything: 2, 3 and 5 (yellow). No handshake lines.",
             size=12)
    svg.text(20, 256, "The cable: the one that came with the controller. To make one, read in the "
             "controller's manual", size=13)
    svg.text(20, 274, "whether its serial connector is wired like a modem (DCE) or like a PC (DTE):",
             size=13)
    cable(svg, 38, 314, "Controller wired like a modem (DCE): straight cable",
          ((2, 2), (3, 3), (5, 5)))
    cable(svg, 468, 314, "Controller wired like a PC (DTE): null-modem cable",
          ((2, 3), (3, 2), (5, 5)))
    svg.text(20, 440, "Pin numbers on the controller's side are those of a 9-pin connector; "
             "check its manual for its connector and pins.", size=12)
    svg.text(20, 460, "Line settings: 9600 bit/s, 8 data bits, no parity, 1 stop bit, no flow "
             "control. The program sets them itself.", size=12)
    return svg.done()


FIGURES = {"chain.svg": chain, "wiring.svg": wiring}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare the committed figures with what this script draws")
    args = parser.parse_args()
    stale = []
    for name, draw in FIGURES.items():
        target, made = DOCS / name, draw()
        if not args.check:
            target.write_text(made, encoding="utf-8")
        elif not target.exists() or target.read_text(encoding="utf-8") != made:
            stale.append(name)
    for name in stale:
        print(f"docs/{name} is not what tools/guide_figures.py draws now: run it and commit the "
              "figure", file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
