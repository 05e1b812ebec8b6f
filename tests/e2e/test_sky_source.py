"""kelmafeed's own prediction (--source sky) through the real window to the controller simulator: a
pass that crosses north, rehearsed with --at and --speed, is planned over the top, so that no
azimuth command crosses the controller's stop at north, and the controller follows the plan."""

import time

import pytest

import kelma_e2e as k
from test_tracking import SETTLE_S, tracking_commands

ELEMENTS = k.REPO / "tools" / "bench" / "data" / "amateur-2024-02-12.txt"
SATELLITE = "FUNCUBE-1 (AO-73)"
# Seen from 60 N 10 E it rises at 07:49:30 at azimuth 20, crosses north and sets at 07:54:45 at
# azimuth 331, 2 degrees high. The lead time begins at 07:47:30: long enough, on a busy machine,
# for the controller to turn from 0, 0 to the plan's start, some 180 degrees on each axis.
PASS = ["--station", "60,10", "--track", SATELLITE, "--at", "2024-02-12 07:47:20", "--lead", "120"]
SPEED = 50  # the 5-minute pass in 6 s
# The controller simulator's own 6 and 4 deg/s, on the sky clock.
RATES = (6 * SPEED, 4 * SPEED)
PASS_WAIT_S = 30
SAMPLE_EVERY_S = 0.1
# A swing across the stop is 180 degrees or more; one tick of the sky clock (12 s of this pass)
# moves the plan by a degree or two.
LARGEST_STEP = 20


@pytest.mark.slow
def test_sky_source_takes_a_pass_across_north_over_the_top(procs):
    sim = procs.sim()
    sim.command(f"rate 1 {RATES[0]} {RATES[1]}")
    app = procs.app()  # waiting for "WinOrbit": it connects as soon as the service is there
    feed = procs.feed("--source=sky", "--elements", ELEMENTS, *PASS, "--speed", SPEED)
    feed.wait_line(r"^Serving \"WinOrbit\" for KelmaRotator; our own prediction of FUNCUBE-1 "
                   r"\(AO-73\), sky clock from 2024-02-12 07:47:20 UTC at 50 times real time\.$")
    feed.wait_line(r"^2024-02-12 07:47:20  Next pass: FUNCUBE-1 \(AO-73\) rises 2024-02-12 "
                   r"07:49:30 UTC, .* plan: over the top$")
    app.wait_text(k.IDC_SAT_NAME, SATELLITE)

    # How far the controller is from where it was last told to go, while the pass runs.
    lags = []

    def ended():
        return any(line.endswith("FUNCUBE-1 (AO-73): pass ended") for line in feed.lines())

    deadline = time.monotonic() + PASS_WAIT_S
    while not ended():
        assert time.monotonic() < deadline, "the pass did not end"
        started = any(line.endswith("pass started") for line in feed.lines())
        az, el, target_az, target_el = sim.position()[:4]
        if started:
            lags.append((abs(target_az - az), abs(target_el - el)))
        time.sleep(SAMPLE_EVERY_S)
    time.sleep(SETTLE_S)

    commands = [(c.axis, int(c.arg)) for c in tracking_commands(sim)]
    azimuths = [arg for axis, arg in commands if axis == "A"]
    elevations = [arg for axis, arg in commands if axis == "E"]
    # Over the top from the lead time to the set: the azimuth opposite the satellite's, which
    # crosses south where the satellite crosses north.
    assert 195 <= azimuths[0] <= 205 and 145 <= azimuths[-1] <= 155, azimuths
    assert min(elevations) > 90, elevations
    steps = [abs(b - a) for a, b in zip(azimuths, azimuths[1:])]
    assert max(steps) <= LARGEST_STEP, azimuths
    assert len(lags) >= 10 and max(max(lag) for lag in lags) <= LARGEST_STEP, lags
    az, el, _, _, az_moving, el_moving = sim.position()
    assert (round(az), round(el), az_moving, el_moving) == (azimuths[-1], elevations[-1], False,
                                                            False)
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == (
        "%03d" % azimuths[-1], "%03d" % elevations[-1])
