"""The relay kelmafeed between today's tracking programs and the real program: the simulator plays
Orbitron or SatPC32, or Hamlib's own rotctl speaks to kelmafeed's network source; kelmafeed offers
the positions as "WinOrbit", and the controller must get exactly the commands those positions call
for (rounded to whole degrees by the relay)."""

import math
import re
import subprocess
import time

import pytest

import kelma_e2e as k
from test_prediction_program import pass_texts
from test_tracking import SETTLE_S, tracking_commands

STEP_MS = 150  # between updates: the window needs 100 ms after each azimuth command
EXIT_SERVICE_TAKEN = 3
ROTCTL_WAIT_S = 30


def nearest(value):
    """The relay's rounding: to the nearest whole degree, halves away from zero."""
    return int(math.copysign(math.floor(abs(value) + 0.5), value))


def relayed(texts):
    """The "az|el" texts the window gets for the tracking program's positions."""
    result = []
    for text in texts:
        az, el = (float(v.replace(",", ".")) for v in text.split("|"))
        result.append(f"{nearest(az)}|{nearest(el)}")
    return result


def play(pred, texts):
    lines = []
    for text in texts:
        lines += [f"azel {text}", f"wait {STEP_MS}"]
    pred.send(*lines)


def wait_for_commands(sim, expected, timeout=15):
    k.wait_until(lambda: len(tracking_commands(sim)) >= len(expected), timeout,
                 what=f"{len(expected)} tracking commands")
    time.sleep(SETTLE_S)  # and no more
    got = tracking_commands(sim)
    assert [(c.axis, c.arg) for c in got] == expected
    assert b"".join(c.wire for c in got) == b"".join(
        (axis + "\r\n" + arg + "\r\n").encode() for axis, arg in expected)


@pytest.mark.slow
def test_orbitron_feeds_the_window_and_its_restart_mid_pass_is_taken_up(procs):
    sim = procs.sim()
    pred = procs.predsim(program="orbitron")
    pred.run("name ISS ZARYA")
    feed = procs.feed()  # no --source: it finds Orbitron, as when Orbitron starts it
    feed.wait_line(r"^Connected to Orbitron\.$")
    app = procs.app()
    texts = pass_texts(16)
    first, second = texts[:8], texts[8:]
    model = k.TrackingModel()
    play(pred, first)
    wait_for_commands(sim, model.feed(relayed(first)))
    sent = [(c.axis, c.arg) for c in tracking_commands(sim)]

    # Orbitron killed mid-pass: the relay keeps serving, so the antenna stays where it is.
    pred.send("crash")
    pred.process.wait(15)
    feed.wait_line(r"^Orbitron went away; waiting for Orbitron, SatPC32 or SatPC32ISS\. The "
                   r"antenna stays at az \d+ el -?\d+\.$")
    time.sleep(SETTLE_S)
    assert [(c.axis, c.arg) for c in tracking_commands(sim)] == sent
    window = app.state()
    az, el = relayed(first)[-1].split("|")
    assert window.text(k.IDC_SAT_NAME) == "ISS_ZARYA"
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == ("%03d" % int(az),
                                                                      "%03d" % int(el))

    # Back again, with its data before it announces the service: taken up at once.
    pred2 = procs.predsim(registered=False, name="predsim2", program="orbitron")
    pred2.run("name ISS ZARYA")
    pred2.run(f"azel {second[0]}")
    pred2.run("register")
    registered, _ = pred2.wait_event(r"^registered Orbitron$", 1)
    connected, _ = pred2.wait_event(r"^connect \d+", 5)
    feed.wait_line(r"^Connected to Orbitron\.$", count=2)
    print(f"reconnected {(connected - registered) / 1000:.0f} ms after the service registered")
    play(pred2, second[1:])
    expected = sent + model.feed(relayed(second))
    wait_for_commands(sim, expected)

    # Nothing tracked, then a garbled text: nothing new reaches the window.
    pred2.run("untracked")
    feed.wait_line(r"^Orbitron tracks nothing\. The antenna stays at az \d+ el -?\d+\.$")
    pred2.run("set TrackingData AZ1000 EL10")
    status = feed.wait_status(lambda s: s["garbled"] == "1")
    assert status["state"] == "connected"
    assert status["shown"].startswith("nothing tracked (last: ISS_ZARYA az ")
    assert int(status["received"]) == len(texts) + 2
    time.sleep(SETTLE_S)
    assert [(c.axis, c.arg) for c in tracking_commands(sim)] == expected


# The tracking program's server: one that speaks the DDE message protocol itself, or one built on
# the DDE library, as SatPC32 and Orbitron are (Orbitron's through the DDE library in the cases
# below this one).
@pytest.mark.parametrize("ddeml", [False, True], ids=["messages", "ddeml"])
def test_satpc32_feeds_the_window_from_rise_to_set(procs, ddeml):
    sim = procs.sim()
    pred = procs.predsim(program="satpc32", ddeml=ddeml)
    pred.run("name FO-29")
    feed = procs.feed("--source=satpc32")
    feed.wait_line(r"^Connected to SatPC32\.$")
    app = procs.app()
    # Written with decimal commas; below the horizon SatPC32 sends "** NO SATELLITE **".
    texts = [text.replace(".", ",") for text in pass_texts(16)]
    visible = [text for text in texts if not text.split("|")[1].startswith("-")]
    assert len(visible) == len(texts) - 2
    play(pred, texts)
    wait_for_commands(sim, k.TrackingModel().feed(relayed(visible)))
    app.wait_text(k.IDC_SAT_NAME, "FO-29")
    status = feed.wait_status(lambda s: s["received"] == str(len(texts)))
    az, el = relayed(visible)[-1].split("|")
    assert status["shown"] == f"nothing tracked (last: FO-29 az {az} el {el})"
    assert status["garbled"] == "0"
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == ("%03d" % int(az),
                                                                      "%03d" % int(el))


def test_an_advise_start_answered_late_is_started_again_and_never_polled_beside(procs):
    pred = procs.predsim(program="orbitron", ddeml=True)
    pred.run("name ISS")
    pred.run("azel 10|20")
    # Busy past the relay's 1 s time-out; the loop starts all the same.
    pred.run("slow advise 1500")
    feed = procs.feed("--source=orbitron")
    feed.wait_line(r"^Connected to Orbitron\.$")
    first, _ = pred.wait_event(r"^advise 1 TrackingData$", 10)
    feed.wait_status(lambda s: s["received"] == "1")  # shown once the advise start has ended
    # Unless the machine was too busy for the relay to see its time-out pass before the answer
    # came (it then takes the answer), it says so and starts the loop again.
    advises = ["advise 1 TrackingData"]
    if "Orbitron did not answer in time; asking again at the next check." in feed.lines():
        again, _ = pred.wait_event(r"^advise 1 TrackingData$", 10, after=first)
        advises.append("advise 1 TrackingData")
        print(f"advise started again {(again - first) / 1000:.0f} ms after the first")
    for text in ("11|21", "12|22", "13|23"):
        pred.run(f"azel {text}")
        pred.run("wait 700")  # the relay's checks come and go meanwhile
    status = feed.wait_status(lambda s: s["shown"] == "ISS az 13 el 23")
    assert status["received"] == "4"
    transactions = [text for _, text in pred.events() if text.startswith(("request", "advise"))]
    assert transactions == ["request 1 TrackingData"] + advises, "polled beside the advise loop"


def test_without_a_source_it_takes_whichever_program_runs_and_another_when_it_goes(procs):
    orbitron = procs.predsim(program="orbitron", ddeml=True)
    orbitron.run("name ISS")
    orbitron.run("azel 10|20")
    feed = procs.feed()
    feed.wait_line(r"^Connected to Orbitron\.$")
    orbitron.run("waitlinks 1")
    orbitron.send("crash")
    orbitron.process.wait(15)
    feed.wait_line(r"^Orbitron went away; waiting for Orbitron, SatPC32 or SatPC32ISS\. "
                   r"The antenna stays at az 10 el 20\.$")
    satpc32 = procs.predsim(program="satpc32", name="satpc32", ddeml=True)
    satpc32.run("name FO-29")
    satpc32.run("azel 30|40")
    feed.wait_line(r"^Connected to SatPC32\.$")
    status = feed.wait_status(lambda s: s["shown"] == "FO-29 az 30 el 40")
    assert (status["source"], status["state"]) == ("SatPC32", "connected")


def test_relay_refuses_to_start_beside_another_winorbit_server(procs):
    pred = procs.predsim()
    feed = procs.feed("--source=orbitron")
    assert feed.process.wait(30) == EXIT_SERVICE_TAKEN
    assert any('a "WinOrbit" DDE service is already running' in line for line in feed.lines())
    # It looked, and ended the conversation it opened to do so.
    pred.wait_event(r"^terminated 1$", 5)


def rotctl(port, *commands, address="127.0.0.1"):
    """Hamlib's own rotctl with its network rotator (-m 2): one session, the commands in order;
    (exit code, what it printed)."""
    done = subprocess.run(["rotctl", "-m", "2", "-r", f"{address}:{port}", *commands],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=ROTCTL_WAIT_S)
    return done.returncode, done.stdout


def test_hamlib_rotctl_feeds_the_window_through_the_network_source(procs):
    sim = procs.sim()
    # Two addresses, as loopback and a LAN address for a phone (both loopback here).
    feed = procs.feed("--source=net:0", "-T", "127.0.0.1", "--listen-addr=127.0.0.2")
    port = int(re.search(r"port (\d+)", feed.wait_line(r"listening on 127\.0\.0\.1 port \d+")
                         ).group(1))
    feed.wait_line(rf"listening on 127\.0\.0\.2 port {port}$")
    feed.wait_line(r"^Serving \"WinOrbit\" for KelmaRotator; rotctld clients on network ")
    app = procs.app()
    # Hamlib sends its angles as C floats ("P 150.399994 10.600000"); the relay rounds them.
    code, printed = rotctl(port, "set_pos", "150.4", "10.6", "set_pos", "140", "20.2",
                           "set_pos", "130.5", "30", "get_pos", "stop", "get_pos")
    assert (code, printed) == (0, "131.00\n30.00\n131.00\n30.00\n")
    model = k.TrackingModel()
    expected = model.feed(["150|11", "140|20", "131|30"])
    wait_for_commands(sim, expected)
    assert rotctl(port, "park", address="127.0.0.2") == (0, "")
    wait_for_commands(sim, expected + model.feed(["0|0"]))
    status = feed.wait_status(lambda s: s["received"] == "4")
    assert (status["shown"], status["published"]) == ("az 0 el 0", "4")
    window = app.state()
    assert (window.text(k.IDC_DDE_AZ), window.text(k.IDC_DDE_EL)) == ("000", "000")
