"""The prediction program comes and goes while the real program runs: started after the window,
quitting or killed in the middle of a pass, and coming back."""

import math
import time

import pytest

import kelma_e2e as k
from test_tracking import PAUSE_MIN_US, SETTLE_S, start_tracking, tracking_commands

HOME = b"A\r\n000\r\nE\r\n000\r\n"


def pass_texts(updates, max_el=60.0, az0=150.0, az1=30.0, horizon=-6.0):
    """A pass as the prediction program shows it, rising from below the horizon."""
    texts = []
    for i in range(updates):
        t = i / (updates - 1)
        az = (az0 + (az1 - az0) * t) % 360
        el = horizon + (max_el - horizon) * math.sin(math.pi * t)
        texts.append(f"{az:.1f}|{el:.1f}")
    return texts


def play_first_half(pred, app, updates=24, step_ms=150):
    """Plays the rising half of a pass, one update per step, and waits until it is shown."""
    texts = pass_texts(updates)[: updates // 2]
    lines = []
    for text in texts:
        lines += [f"azel {text}", f"wait {step_ms}"]
    pred.send(*lines)
    az, el = k.parse_azel(texts[-1])
    app.wait_text(k.IDC_DDE_AZ, "%03d" % az, timeout=30)
    return texts


def restart_registered_later(procs, name, azel):
    """A new prediction program that has its data before it announces the service."""
    pred = procs.predsim(registered=False, name="predsim2")
    pred.run(f"name {name}")
    pred.run(f"azel {azel}")
    registered, _ = pred.run("register")
    return pred, registered


def test_prediction_program_started_after_the_window_is_taken_up_at_once(procs):
    sim = procs.sim()
    app = procs.app()
    time.sleep(1)  # the window's own first connection attempt has failed by now
    assert tracking_commands(sim) == []
    pred = procs.predsim(registered=False)
    pred.run("name NOAA 19")
    pred.run("azel 211.6|12.2")
    registered, _ = pred.run("register")
    connected, _ = pred.wait_event(r"^connect \d+", 10, after=registered)
    print(f"connected {(connected - registered) / 1000:.0f} ms after the service registered")
    app.wait_text(k.IDC_SAT_NAME, "NOAA 19")
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == ("211", "012")
    k.wait_until(lambda: len(tracking_commands(sim)) == 2, 5, what="the first commands")
    assert b"".join(c.wire for c in tracking_commands(sim)) == b"A\r\n211\r\nE\r\n012\r\n"


@pytest.mark.slow
@pytest.mark.parametrize("ending", ["quit", "crash"])
def test_prediction_program_ending_mid_pass_sends_the_rotator_home_and_its_return_is_taken_up(
        procs, ending):
    sim, pred, app = start_tracking(procs)
    play_first_half(pred, app)
    sim.clear()
    pred.send(ending)
    pred.process.wait(15)

    app.wait_text(k.IDC_SAT_NAME, "none", timeout=10)
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == ("000", "000")
    k.wait_until(lambda: len(tracking_commands(sim)) >= 2, 5, what="the commands home")
    commands = tracking_commands(sim)
    assert b"".join(c.wire for c in commands) == HOME
    if ending == "quit":  # the elevation command follows the end of the conversation by 100 ms
        ended, _ = pred.wait_event(r"^terminate \d+", 1)
        offset = k.raw_to_monotonic_offset_us()
        assert commands[1].t - (ended + offset) >= PAUSE_MIN_US

    # Back again: the poll timer tries to connect before each azimuth poll, so the program is
    # connected before the second azimuth poll after the service's registration (the tick of the
    # first may have tried just before it). A busy machine delays the ticks and the connection
    # alike.
    sim.clear()
    pred2, registered = restart_registered_later(procs, "ISS", "120|30")
    connected, _ = pred2.wait_event(r"^connect \d+", 10, after=registered)
    offset = k.raw_to_monotonic_offset_us()

    def azimuth_polls():
        return [c for c in sim.commands() if c.is_poll and c.axis == "A" and
                c.t > registered + offset]
    second = k.wait_until(lambda: azimuth_polls()[1:], 10, what="two azimuth polls")[0]
    assert connected + offset < second.t, (connected + offset, azimuth_polls())
    app.wait_text(k.IDC_SAT_NAME, "ISS")
    k.wait_until(lambda: len(tracking_commands(sim)) == 2, 5, what="tracking again")
    assert b"".join(c.wire for c in tracking_commands(sim)) == b"A\r\n120\r\nE\r\n030\r\n"


def test_prediction_program_quitting_sends_nothing_while_manual_control_is_on(procs):
    sim, pred, app = start_tracking(procs)
    play_first_half(pred, app)
    app.click(k.IDC_MANUAL)
    app.wait_text(k.IDC_MANUAL, "Manual control")
    k.wait_until(lambda: app.state().controls[k.IDC_MANUAL]["checked"] == 1, 5,
                 what="manual control on")
    sim.clear()
    pred.send("quit")
    pred.process.wait(15)
    app.wait_text(k.IDC_SAT_NAME, "none", timeout=10)
    assert app.state().text(k.IDC_DDE_AZ) == "000"
    time.sleep(SETTLE_S)
    assert tracking_commands(sim) == []


def test_prediction_program_quitting_sends_nothing_when_the_rotator_was_sent_home_already(procs):
    sim, pred, app = start_tracking(procs, initial="0|0")
    k.wait_until(lambda: len(tracking_commands(sim)) == 2, 5, what="the first commands")
    assert b"".join(c.wire for c in tracking_commands(sim)) == HOME
    sim.clear()
    pred.send("quit")
    pred.process.wait(15)
    app.wait_text(k.IDC_SAT_NAME, "none", timeout=10)
    time.sleep(SETTLE_S)
    assert tracking_commands(sim) == []
