#!/usr/bin/env python3
"""Draws the operator guide's picture of a north crossing, docs/north-crossing.svg, from one real
pass as our own prediction and planner work it out (tools/bench/pass_paths): two sky plots,
azimuth around (north up, east to the right) and elevation inward (the horizon is the outer
circle, the zenith the centre), of where the satellite goes and where the antenna points,
followed as a prediction program relays it and as planned. Plain SVG with fixed number formats,
so the same pass always makes the same bytes.
  bash tools/sky_plot.sh                              builds pass_paths and remakes the picture
  python3 tools/sky_plot.py PASS_PATHS OUT.svg        draws it with a built pass_paths
  python3 tools/sky_plot.py --check PASS_PATHS SVG    exit status 1 when SVG is not what it makes
"""

import argparse
import csv
import io
import math
import re
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
ELEMENTS = REPO / "tools" / "bench" / "data" / "amateur-2024-02-12.txt"
SATELLITE = "SAUDISAT 1C (SO-50)"
STATION = "60,10"
FROM = "2024-02-12 11:30:00"  # the first pass after this crosses north

WIDTH, HEIGHT = 920, 620
RADIUS = 170
CENTRES = ((240, 275), (680, 275))
OFF_DEG = 2.0  # farther than this from the satellite, the antenna has lost it
TRACK_COLOUR = "#b0bec5"
UNPLANNED_COLOUR = "#c62828"
PLANNED_COLOUR = "#2e7d32"
STOP_COLOUR = "#4a148c"


def run_pass_paths(program):
    out = subprocess.run([str(program), str(ELEMENTS), SATELLITE, STATION, FROM], check=True,
                         capture_output=True, text=True).stdout
    header, table = out.split("\n", 1)
    rows = [{name: float(value) for name, value in row.items()}
            for row in csv.DictReader(io.StringIO(table))]
    times = re.search(r"rises \S+ (\S+) UTC, highest (\S+) deg, sets \S+ (\S+) UTC; plan: (.*)$",
                      header)
    return rows, times.groups()


def xy(centre, az, el):
    r = RADIUS * (90 - el) / 90
    a = math.radians(az)
    return centre[0] + r * math.sin(a), centre[1] - r * math.cos(a)


def path(points):
    drawn = []
    for x, y in points:
        point = f"{x:.1f},{y:.1f}"
        if not drawn or drawn[-1] != point:
            drawn.append(point)
    return "M" + " L".join(drawn)


def apart_deg(az1, el1, az2, el2):
    az1, el1, az2, el2 = map(math.radians, (az1, el1, az2, el2))
    c = math.sin(el1) * math.sin(el2) + math.cos(el1) * math.cos(el2) * math.cos(az1 - az2)
    return math.degrees(math.acos(max(-1.0, min(1.0, c))))


def text(x, y, words, anchor="middle", extra=""):
    return f'<text x="{x:.1f}" y="{y:.1f}" text-anchor="{anchor}"{extra}>{words}</text>'


def grid(centre):
    cx, cy = centre
    parts = [f'<circle cx="{cx}" cy="{cy}" r="{RADIUS}" fill="#fcfcfc" stroke="#888"/>']
    for el in (30, 60):
        r = RADIUS * (90 - el) / 90
        parts.append(f'<circle cx="{cx}" cy="{cy}" r="{r:.1f}" fill="none" stroke="#ccc" '
                     f'stroke-dasharray="4 4"/>')
        parts.append(text(cx + 3, cy - r - 3, f"{el}°", "start", ' fill="#999" font-size="11"'))
    for az in range(0, 360, 30):
        x, y = xy(centre, az, 0)
        parts.append(f'<line x1="{cx}" y1="{cy}" x2="{x:.1f}" y2="{y:.1f}" stroke="#e4e4e4"/>')
    for az, name in ((0, "N"), (90, "E"), (180, "S"), (270, "W")):
        x, y = xy(centre, az, -14 if az == 0 else -10)
        parts.append(text(x, y + 5, name, extra=' font-weight="bold"'))
    # The controller's azimuth stop, at north.
    parts.append(f'<line x1="{cx}" y1="{cy - RADIUS - 7}" x2="{cx}" y2="{cy - RADIUS + 9}" '
                 f'stroke="{STOP_COLOUR}" stroke-width="5"/>')
    parts.append(text(cx + 8, cy - RADIUS + 18, "azimuth stop", "start", f' fill="{STOP_COLOUR}"'))
    return parts


def label_below(centre, point, words):
    """A label under a point on the horizon, on the side of the centre."""
    x, y = point
    return text(x + (8 if x < centre[0] else -8), y + 18, words,
                "start" if x < centre[0] else "end")


def pass_drawing(centre, rows, key, colour):
    track = [xy(centre, r["target_az"], r["target_el"]) for r in rows]
    antenna = [xy(centre, r[key + "_az"], r[key + "_el"]) for r in rows]
    return [
        f'<path d="{path(track)}" fill="none" stroke="{TRACK_COLOUR}" stroke-width="9" '
        f'stroke-linecap="round" stroke-linejoin="round"/>',
        f'<path d="{path(antenna)}" fill="none" stroke="{colour}" stroke-width="2"/>',
        label_below(centre, track[0], "rise"),
        label_below(centre, track[-1], "set"),
    ]


def caption(centre, lines):
    return [text(centre[0], CENTRES[0][1] + RADIUS + 50 + 17 * i, line)
            for i, line in enumerate(lines)]


def draw(rows, times):
    rise, highest, set_, plan = times
    off = [apart_deg(r["unplanned_az"], r["unplanned_el"], r["target_az"], r["target_el"])
           for r in rows]
    planned_off = max(apart_deg(r["planned_az"], r["planned_el"], r["target_az"], r["target_el"])
                      for r in rows)
    axes = [r["planned_axis_az"] for r in rows]
    lowest_axis_el = min(r["planned_axis_el"] for r in rows)
    left, right = CENTRES
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
        f'viewBox="0 0 {WIDTH} {HEIGHT}" font-family="sans-serif" font-size="13">',
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="white"/>',
        text(WIDTH / 2, 26, f"SO-50 seen from 60 N 10 E on 12 February 2024, {rise} to {set_} "
             f"UTC, highest {highest} deg", extra=' font-size="16" font-weight="bold"'),
        text(left[0], 58, "Relayed as a prediction program sends it",
             extra=f' font-weight="bold" fill="{UNPLANNED_COLOUR}"'),
        text(right[0], 58, f"Planned: {plan}", extra=f' font-weight="bold" fill="{PLANNED_COLOUR}"'),
    ]
    parts += grid(left) + pass_drawing(left, rows, "unplanned", UNPLANNED_COLOUR)
    parts += grid(right) + pass_drawing(right, rows, "planned", PLANNED_COLOUR)
    parts += caption(left, [
        "Azimuth 359, then 0: the rotator, at its stop,",
        "turns the whole way round the other way,",
        f"{sum(o > OFF_DEG for o in off)} s away from the satellite (up to "
        f"{max(off):.0f} degrees).",
    ])
    parts += caption(right, [
        "Azimuth + 180, elevation 180 - elevation all along:",
        f"the azimuth axis turns from {axes[0]:.0f} through south to {axes[-1]:.0f},",
        f"elevation {lowest_axis_el:.0f} to 180, within {planned_off:.1f} degrees all the way.",
    ])
    legend_y = HEIGHT - 22
    parts += [
        f'<line x1="190" y1="{legend_y - 4}" x2="225" y2="{legend_y - 4}" stroke="{TRACK_COLOUR}" '
        f'stroke-width="9" stroke-linecap="round"/>',
        text(235, legend_y, "the satellite", "start"),
        f'<line x1="360" y1="{legend_y - 4}" x2="395" y2="{legend_y - 4}" '
        f'stroke="{UNPLANNED_COLOUR}" stroke-width="2"/>',
        f'<line x1="400" y1="{legend_y - 4}" x2="435" y2="{legend_y - 4}" '
        f'stroke="{PLANNED_COLOUR}" stroke-width="2"/>',
        text(445, legend_y, "where the antenna points (rotator at 6 and 4 deg/s)", "start"),
        "</svg>",
    ]
    return "\n".join(parts) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with SVG instead of writing it")
    parser.add_argument("pass_paths", help="the built tools/bench/pass_paths")
    parser.add_argument("svg")
    args = parser.parse_args()
    made = draw(*run_pass_paths(args.pass_paths))
    svg = Path(args.svg)
    if not args.check:
        svg.write_text(made)
        return 0
    if svg.read_text() != made:
        print(f"{svg} is not what tools/sky_plot.sh makes now: run it and commit the picture",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
