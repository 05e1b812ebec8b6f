"""The operator at work during a pass, with mouse and keyboard on the real window: manual control
on and off, Set and Stop, a change of COM port, the About box."""

import time

import pytest

import kelma_e2e as k
from test_prediction_program import play_first_half
from test_tracking import SETTLE_S, check_polls, start_tracking, tracking_commands


def wire_of(commands):
    return b"".join(c.wire for c in commands)


def set_manual(app, on):
    app.click(k.IDC_MANUAL)
    k.wait_until(lambda: app.state().controls[k.IDC_MANUAL]["checked"] == int(on), 5,
                 what=f"manual control {'on' if on else 'off'}")


def press_set(app, edit_id, set_id, value):
    app.type_into(edit_id, value)
    app.wait_text(edit_id, value)
    app.click(set_id)


# Values set by hand, the prediction when manual control goes off, and what must then go out.
MANUAL_OFF_CASES = [
    ("100", "45", "100|33", b"E\r\n033\r\n"),  # the azimuth set by hand equals the prediction
    ("100", "45", "140|45", b"A\r\n140\r\n"),  # the elevation set by hand equals it
    ("100", "45", "100|45", b""),  # both equal: nothing
]


@pytest.mark.parametrize("hand_az,hand_el,prediction,wire", MANUAL_OFF_CASES)
def test_manual_control_stops_tracking_and_switching_it_off_sends_what_differs(
        procs, hand_az, hand_el, prediction, wire):
    sim, pred, app = start_tracking(procs)
    play_first_half(pred, app, updates=12)
    set_manual(app, True)
    window = app.state()
    assert window.enabled(k.IDC_AZ_SET) and window.enabled(k.IDC_EL_SET)

    # Tracking is off, the displays still follow the prediction, the polls go on.
    sim.clear()
    started = time.monotonic()
    for text in ["80.5|40.2", "75.1|44.9"]:
        pred.run(f"azel {text}")
    app.wait_text(k.IDC_DDE_AZ, "075")
    assert app.state().text(k.IDC_DDE_EL) == "044"

    # Set and Stop by hand: the manual forms, without leading zeros.
    press_set(app, k.IDC_AZ_EDIT, k.IDC_AZ_SET, hand_az)
    press_set(app, k.IDC_EL_EDIT, k.IDC_EL_SET, hand_el)
    app.click(k.IDC_AZ_STOP)
    expected = f"A\r\n{hand_az}\r\nE\r\n{hand_el}\r\n".encode() + b"A\r\nS\r\n"
    k.wait_until(lambda: wire_of(tracking_commands(sim)) == expected, 5, what="the manual commands")
    pred.run(f"azel {prediction}")
    app.wait_text(k.IDC_DDE_AZ, "%03d" % k.parse_azel(prediction)[0])
    time.sleep(max(0.0, 4.5 - (time.monotonic() - started)))
    assert wire_of(tracking_commands(sim)) == expected
    check_polls(sim.commands(), 4)

    set_manual(app, False)
    window = app.state()
    assert not window.enabled(k.IDC_AZ_SET) and not window.enabled(k.IDC_EL_SET)
    if wire:
        k.wait_until(lambda: wire_of(tracking_commands(sim)) == expected + wire, 5,
                     what=f"{wire!r} after manual control")
    time.sleep(SETTLE_S)
    assert wire_of(tracking_commands(sim)) == expected + wire


def test_port_change_mid_pass_moves_commands_and_polls_to_the_new_port(procs):
    sim, pred, app = start_tracking(procs, ports=(1, 2))
    texts = play_first_half(pred, app, updates=12)
    last_az, last_el = k.parse_azel(texts[-1])
    k.wait_until(lambda: tracking_commands(sim, 1) and tracking_commands(sim, 1)[-1].arg ==
                 "%03d" % last_el, 5, what="the last command on COM1")

    # The operator picks COM2 with the keyboard in the port box.
    app.click(k.IDC_PORT)
    app.xdotool("key", "Down")
    k.wait_until(lambda: app.state().controls[k.IDC_PORT]["selected"] == 1, 5, what="COM2 chosen")
    time.sleep(0.5)
    sim.clear(1)
    sim.clear(2)

    # Unchanged values are not sent again on the new port; changed ones are.
    pred.run(f"azel {last_az}|{last_el + 5}")
    k.wait_until(lambda: tracking_commands(sim, 2), 5, what="a command on COM2")
    time.sleep(4.5)
    assert wire_of(tracking_commands(sim, 2)) == b"E\r\n%03d\r\n" % (last_el + 5)
    assert sim.received(1) == b""
    assert len([c for c in sim.commands(2) if c.is_poll]) >= 2
    assert app.state().controls[k.IDC_PORT]["text"] == "COM2"


def label_center(window, text):
    label = next(c for c in window.data["controls"] if c["text"] == text)
    left, top, right, bottom = label["rect"]
    return (left + right) // 2, (top + bottom) // 2


def test_about_box_opens_on_a_double_click_and_tracking_goes_on_behind_it(procs, artifacts):
    sim, pred, app = start_tracking(procs, initial="150|10")
    window = app.state()
    # A double-click on the Stop button is the button's, not the window's.
    app.double_click_at(*window.center(k.IDC_EL_STOP))
    time.sleep(SETTLE_S)
    assert app.window(k.ABOUT_TITLE) is None

    app.double_click_at(*label_center(window, "Satellite :"))
    about = k.wait_until(lambda: app.window(k.ABOUT_TITLE), 10, what="the About box")
    assert "KELMA - DDE client for WinOrbit" in about.static_texts()
    assert "version 1.1\nfor KELMA 1.1" in [t.replace("\r", "") for t in about.static_texts()]
    assert [c["text"] for c in about.data["controls"] if c["class"].lower() == "button"] == [
        "Cancel"]
    assert not app.state().data["enabled"]
    app.screenshot(artifacts / "about-box.png", title=k.ABOUT_TITLE)

    # Behind the box: new predictions are shown and sent, reports are shown, polls go on.
    sim.clear()
    before_pos = app.state().text(k.IDC_POS_AZ)
    pred.run("azel 140|20")
    app.wait_text(k.IDC_DDE_AZ, "140")
    k.wait_until(lambda: wire_of(tracking_commands(sim)) == b"A\r\n140\r\nE\r\n020\r\n", 5,
                 what="tracking behind the About box")
    app.wait_text(k.IDC_POS_AZ, lambda text: text != before_pos, timeout=10)
    assert app.window(k.ABOUT_TITLE) is not None

    app.key("Escape", title=k.ABOUT_TITLE)
    k.wait_until(lambda: app.window(k.ABOUT_TITLE) is None, 5, what="the About box to close")
    assert app.state().data["enabled"]
