"""Automatic tracking of the real program, seen at the controller: the exact bytes, their order and
pacing for a whole pass, the polls, and the displays."""

import statistics
import time

import pytest

import kelma_e2e as k

PAUSE_MIN_US = 90_000  # the program pauses 100 ms after an azimuth command
POLL_PERIOD_US = 2_000_000  # the poll timer's period
SETTLE_S = 0.6  # how long to wait before concluding that nothing was sent


def start_tracking(procs, initial="150.0|-6.0", name="ISS (ZARYA)", ports=(1,), port_arg=()):
    """Controller simulator, prediction program with a satellite below the horizon, and the
    program, which connects to it at start-up."""
    sim = procs.sim(ports)
    pred = procs.predsim()
    pred.run(f"name {name}")
    pred.run(f"azel {initial}")
    app = procs.app(*port_arg)
    app.wait_text(k.IDC_SAT_NAME, name)
    pred.wait_event(r"^advise \d+ SatelliteName", 10)
    return sim, pred, app


def tracking_commands(sim, port=1):
    return [c for c in sim.commands(port) if not c.is_poll]


def groups_of(model, texts):
    """[[(axis, arg), ...] per update] that the tracking rule gives for the texts."""
    return [model.update(*k.parse_azel(t)) for t in texts]


def check_pass(sim, texts, model, post_times=None, port=1):
    """The controller got exactly the model's commands for the texts, in order, as the exact
    bytes, with the polls in between. With the time each text was posted (predsim's clock, None
    for a text not posted), also the 100 ms pause after each azimuth command: nothing reaches the
    controller until 100 ms after the update that caused it. (Measured from the post, not from the
    azimuth command's arrival: a late read of one command must not make a pause look short.)"""
    groups = groups_of(model, texts)
    expected = [command for group in groups for command in group]
    update_of = [i for i, group in enumerate(groups) for _ in group]
    commands, rest = k.split_commands(sim.chunks(port))
    assert rest == b""
    assert b"".join(c.wire for c in commands) == sim.received(port)
    tracking = [i for i, c in enumerate(commands) if not c.is_poll]
    assert [(commands[i].axis, commands[i].arg) for i in tracking] == expected
    if post_times is not None:
        offset = k.raw_to_monotonic_offset_us()
        for n, i in enumerate(tracking):
            if commands[i].axis == "A" and i + 1 < len(commands):
                posted = post_times[update_of[n]] + offset
                assert commands[i + 1].t - posted >= PAUSE_MIN_US, (commands[i], commands[i + 1])
    return commands


def check_pauses_from_posts(commands, post_times):
    """Tracking commands of updates posted faster than the program sends them, one command per
    update, with each update's post time (predsim's clock): the pause after each azimuth command,
    measured from the earliest moment each command can have been written. That is its update's
    post, or the earliest moment of the command before (plus the pause after an azimuth command),
    whichever is later. The controller stamps a command when it reads it, so a late read can make
    a gap look short; these bounds cannot come late."""
    offset = k.raw_to_monotonic_offset_us()
    earliest = post_times[0] + offset
    for n, command in enumerate(commands):
        if n > 0:
            pause = PAUSE_MIN_US if commands[n - 1].axis == "A" else 0
            earliest = max(post_times[n] + offset, earliest + pause)
        assert command.t >= earliest, (n, command, command.t - earliest)


def check_polls(commands, seconds):
    """The polls alternate between the axes, from a timer of 2000 ms. A timer keeps its phase: a
    tick handled late (the window busy, the machine loaded, a DDE connect tried before the
    azimuth poll) leaves the next tick where it was, so two polls may come closer than a period,
    but no two fall within one period of the timer's grid: polls n apart are more than n - 1
    periods apart. (Only a poll written or read a whole period late could break that.)"""
    polls = [c for c in commands if c.is_poll]
    assert len(polls) >= int(seconds / 2) - 2, polls
    assert [p.axis for p in polls] == ["E", "A"] * (len(polls) // 2) + ["E"] * (len(polls) % 2) or \
        [p.axis for p in polls] == ["A", "E"] * (len(polls) // 2) + ["A"] * (len(polls) % 2)
    for i, before in enumerate(polls):
        for n, after in enumerate(polls[i + 2:], start=2):
            assert after.t - before.t > (n - 1) * POLL_PERIOD_US, (before, after, n)


@pytest.mark.slow
def test_a_whole_pass_is_tracked_from_rise_to_set_with_exact_bytes_pacing_and_polls(procs,
                                                                                      artifacts):
    sim, pred, app = start_tracking(procs)
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == ("150", "-06")
    assert tracking_commands(sim) == []  # below the horizon: nothing yet

    # 48 updates every 0.25 s: azimuth 150 down to 30, elevation -6 up to 60 and back to -6.
    pred.send("pass 0.25 48 60 150 30")
    pred.wait_event(r"^post \d+ AzEl \d+ 9[0-9]\.\d\|5", 30)  # near culmination
    app.screenshot(artifacts / "operator-window-tracking.png")
    done = pred.wait_event(r"^ok pass", 60)
    posted = [text for _, text in pred.posts()]
    assert len(posted) == 48

    app.wait_text(k.IDC_DDE_EL, "-06")
    post_times = [t for t, _ in pred.posts()]
    commands = check_pass(sim, ["150.0|-6.0"] + posted, k.TrackingModel(), [None] + post_times)
    tracking = [c for c in commands if not c.is_poll]
    assert tracking[0].wire == b"A\r\n147\r\n" and tracking[1].wire == b"E\r\n000\r\n"
    assert ("E", "060") in [(c.axis, c.arg) for c in tracking]
    duration = (commands[-1].t - commands[0].t) / 1e6
    check_polls(commands, duration)

    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_SAT_NAME)) == ("030", "ISS (ZARYA)")
    # The position display follows the controller's reports once the antenna stands.
    k.wait_until(lambda: not any(sim.position()[4:]), 40, what="the rotator to stand")
    az, el = sim.position()[:2]
    app.wait_text(k.IDC_POS_AZ, "%03d" % int(az), timeout=10)
    app.wait_text(k.IDC_POS_EL, "%03d" % int(el), timeout=10)
    assert done


# One update at a time: the value posted, then exactly what the controller must get, and what the
# window shows as the prediction's position.
STEPS = [
    ("100.2|20.1", b"A\r\n100\r\nE\r\n020\r\n", "100", "020"),
    ("100.7|20.9", b"", "100", "020"),  # the same whole degrees: nothing
    ("100|21", b"E\r\n021\r\n", "100", "021"),  # only the elevation
    ("101|21", b"A\r\n101\r\n", "101", "021"),  # only the azimuth
    ("101|-3", b"E\r\n000\r\n", "101", "-03"),  # negative elevation goes out as 0
    ("101|-4", b"E\r\n000\r\n", "101", "-04"),  # differs from the 0 sent: 0 again
    ("102|-6", b"", "102", "-06"),  # below -5: nothing, not even the azimuth
    ("102|-5", b"A\r\n102\r\nE\r\n000\r\n", "102", "-05"),  # -5 still counts
    ("7|95", b"A\r\n007\r\nE\r\n095\r\n", "007", "095"),  # zero-padded, above 90 unchanged
    ("7", b"E\r\n000\r\n", "007", "000"),  # no "|": elevation 0
]


def test_each_update_sends_only_what_changed(procs):
    sim, pred, app = start_tracking(procs, initial="100.2|-10")
    for text, wire, shown_az, shown_el in STEPS:
        sim.clear()
        pred.run(f"azel {text}")
        app.wait_text(k.IDC_DDE_EL, shown_el)
        assert app.state().text(k.IDC_DDE_AZ) == shown_az
        if wire:
            k.wait_until(lambda: b"".join(c.wire for c in tracking_commands(sim)) == wire, 5,
                         what=f"{wire!r} after {text}")
        else:
            time.sleep(SETTLE_S)
        assert b"".join(c.wire for c in tracking_commands(sim)) == wire, text


def test_pause_follows_azimuth_commands_only(procs):
    """Updates posted back to back, changing elevation and azimuth by turns: the program pauses
    after each azimuth command and goes straight on after an elevation command."""
    sim, pred, app = start_tracking(procs, initial="50|10")
    k.wait_until(lambda: len(tracking_commands(sim)) == 2, 5, what="the first commands")
    texts = []
    for i in range(1, 11):
        texts += [f"{50 + i - 1}|{10 + i}", f"{50 + i}|{10 + i}"]
    sim.clear()
    pred.send(*[f"azel {t}" for t in texts])
    app.wait_text(k.IDC_DDE_AZ, "060", timeout=20)
    k.wait_until(lambda: len(tracking_commands(sim)) == 20, 5, what="20 commands")
    commands = check_pass(sim, texts, k.TrackingModel(last_az=50, last_el=10))
    tracking = [c for c in commands if not c.is_poll]
    posts = pred.posts()[-len(texts):]
    assert [text for _, text in posts] == texts
    after_el = [b.t - a.t for a, b in zip(tracking, tracking[1:]) if a.axis == "E"]
    after_az = [b.t - a.t for a, b in zip(tracking, tracking[1:]) if a.axis == "A"]
    print(f"gap after E: median {statistics.median(after_el) / 1000:.1f} ms; "
          f"after A: median {statistics.median(after_az) / 1000:.1f} ms")
    check_pauses_from_posts(tracking, [t for t, _ in posts])
    assert statistics.median(after_el) < statistics.median(after_az) / 2


@pytest.mark.parametrize("port", [1, 3])
def test_polls_alternate_elevation_then_azimuth_every_2000_ms(procs, port):
    sim = procs.sim(ports=(port,))
    before_start = time.monotonic_ns() // 1000  # the simulator's clock
    procs.app(port)
    window_shown = time.monotonic_ns() // 1000
    # The timer is set before the window shows, so the fourth poll is due within four periods of
    # it; a tick handled late does not move the next one, so a period more covers a late one.
    k.wait_until(lambda: len(sim.commands(port)) >= 4,
                 (window_shown + 5 * POLL_PERIOD_US) / 1e6 - time.monotonic(), what="four polls")
    commands = sim.commands(port)
    assert [c.wire for c in commands][:4] == [b"E\r\n", b"A\r\n", b"E\r\n", b"A\r\n"]
    # Ticks come late, never early: the n-th poll no sooner than n periods after the start.
    for n, poll in enumerate(commands[:4], start=1):
        assert poll.t - before_start >= n * POLL_PERIOD_US, (n, poll)
    check_polls(commands, 8)
