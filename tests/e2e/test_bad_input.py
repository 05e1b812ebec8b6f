"""Prediction values out of every range, malformed data and a burst of updates: the real program
follows its rules, keeps its window answering and loses nothing."""

import time

import pytest

import kelma_e2e as k
from test_tracking import SETTLE_S, check_pauses_from_posts, start_tracking, tracking_commands

# Ten times the program's own 100 ms pause; longer only while the machine held the idle desktop
# window of the same session at least half as long.
RESPONSIVE_MAX_US = 1_000_000
PINGS = 100
PING_INTERVAL_MS = 50


def wire_of(commands):
    return b"".join(c.wire for c in commands)


# Posted text, the bytes the controller must get, and the prediction display afterwards. The
# program starts from "10|10" (commands for 10 and 10 already sent).
OUT_OF_RANGE = [
    ("-10000|10", b"", "010", "010"),  # azimuth below -360: neither shown nor tracked
    ("10|-10000", b"", "010", "010"),  # elevation below -180: the same
    ("100000|10", b"A\r\n100000\r\n", "100000", "010"),  # sent unchanged, the controller clamps
    ("10|999", b"E\r\n999\r\n", "010", "999"),
    ("-360|-5", b"A\r\n-360\r\nE\r\n000\r\n", "-360", "-05"),  # the lowest values still tracked
    ("abc", b"A\r\n000\r\nE\r\n000\r\n", "000", "000"),  # no number: 0 and 0
]


@pytest.mark.parametrize("text,wire,shown_az,shown_el", OUT_OF_RANGE)
def test_out_of_range_predictions_follow_the_tracking_rules(procs, text, wire, shown_az,
                                                            shown_el):
    sim, pred, app = start_tracking(procs, initial="10|10")
    k.wait_until(lambda: len(tracking_commands(sim)) == 2, 5, what="the first commands")
    sim.clear()
    pred.run(f"azel {text}")
    pred.run("echo posted")
    if wire:
        k.wait_until(lambda: wire_of(tracking_commands(sim)) == wire, 5, what=repr(wire))
    time.sleep(SETTLE_S)
    assert wire_of(tracking_commands(sim)) == wire
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == (shown_az, shown_el)
    assert app.running()


def test_malformed_data_leaves_the_window_working(procs):
    sim, pred, app = start_tracking(procs, initial="10|10")
    for line in ["junk azel 200 1", "junk azel 249 7", "sized azel 250 55|5", "nonul azel 56|7",
                 "junk name 200 3", "name " + "N" * 200]:
        pred.run(line)
    pred.run("azel 77|7")
    app.wait_text(k.IDC_DDE_AZ, "077")
    name = app.state().text(k.IDC_SAT_NAME)
    assert name == "N" * 31  # a long name is cut to the 31 characters the program keeps
    sim.clear()
    pred.run("azel 78|8")
    k.wait_until(lambda: wire_of(tracking_commands(sim)) == b"A\r\n078\r\nE\r\n008\r\n", 5,
                 what="tracking after the junk")


@pytest.mark.slow
def test_a_burst_of_100_updates_a_second_keeps_the_window_answering(procs, workdir):
    sim, pred, app = start_tracking(procs, initial="0|45")
    k.wait_until(lambda: len(tracking_commands(sim)) == 2, 5, what="the first commands")
    sim.clear()
    pings, machine = workdir / "pings.jsonl", workdir / "machine-pings.jsonl"
    pingers = [k.start_pinger(app, pings, PING_INTERVAL_MS, PINGS),
               k.start_pinger(app, machine, PING_INTERVAL_MS, PINGS, "--desktop")]
    try:
        pred.send("ramp 100 0.01 45")  # azimuth 1, 2, ... 100 within one second
        app.wait_text(k.IDC_DDE_AZ, "100", timeout=60)
        for pinger in pingers:
            pinger.wait(60)
    finally:
        for pinger in pingers:
            k.end_process(pinger)
    times = k.read_pings(pings)
    print(f"window round trips during the burst: {len(times)}, longest "
          f"{max(us for _, us in times) / 1000:.0f} ms; the idle desktop window's longest "
          f"{max(us for _, us in k.read_pings(machine)) / 1000:.0f} ms")
    assert len(times) == PINGS
    assert k.held_pings(times, k.read_pings(machine), RESPONSIVE_MAX_US) == []
    # Every update was taken, in order, each with its pause.
    commands = tracking_commands(sim)
    assert [c.wire for c in commands] == [b"A\r\n%03d\r\n" % i for i in range(1, 101)]
    gaps = [b.t - a.t for a, b in zip(commands, commands[1:])]
    print(f"gaps between azimuth commands: smallest {min(gaps) / 1000:.1f} ms, "
          f"median {sorted(gaps)[len(gaps) // 2] / 1000:.1f} ms")
    posts = pred.posts()[-100:]
    assert [text for _, text in posts] == [f"{i}|45" for i in range(1, 101)]
    check_pauses_from_posts(commands, [t for t, _ in posts])
