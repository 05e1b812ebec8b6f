"""The real program starts under Wine, shows its operator window, ends on Esc, the close box and
Enter in an edit box, and refuses to run without a COM port."""

import kelma_e2e as k

# The operator window's controls as the template makes them, read from the outside.
INITIAL_CONTROLS = [
    # id, text, enabled
    (k.IDC_POS_AZ, "000", True),
    (k.IDC_POS_EL, "000", True),
    (k.IDC_AZ_EDIT, "", True),
    (k.IDC_EL_EDIT, "", True),
    (k.IDC_AZ_SET, "Set", False),
    (k.IDC_EL_SET, "Set", False),
    (k.IDC_MANUAL, "Manual control", True),
    (k.IDC_AZ_STOP, "Stop", True),
    (k.IDC_EL_STOP, "Stop", True),
    (k.IDC_SAT_NAME, "none", True),
    (k.IDC_DDE_AZ, "000", True),
    (k.IDC_DDE_EL, "000", True),
]

LABELS = ["Azimuth :", "Elevation:", "Satellite :"]
GROUPS = ["Current rotator position", "DDE connection to WinOrbit", "Manual control"]


def test_window_shows_caption_controls_and_the_ports_that_open(procs, artifacts):
    sim = procs.sim(ports=(1, 3))
    app = procs.app(2)  # COM2 is not there: the lowest port that opens is used
    window = app.state()

    assert window.title == "KelmaRotator"
    for control_id, text, enabled in INITIAL_CONTROLS:
        assert (control_id, window.text(control_id), window.enabled(control_id)) == (
            control_id, text, enabled)
    assert window.controls[k.IDC_MANUAL]["checked"] == 0
    port = window.controls[k.IDC_PORT]
    assert (port["items"], port["selected"], port["text"]) == (["COM1", "COM3"], 0, "COM1")
    texts = [c["text"] for c in window.data["controls"]]
    for label in LABELS + GROUPS:
        assert label in texts

    # The poll goes to the port the window opened.
    k.wait_until(lambda: sim.received(1).startswith(b"E\r\n"), 10, what="the first poll on COM1")
    assert sim.received(3) == b""
    app.screenshot(artifacts / "operator-window-start.png")


def test_escape_key_ends_the_program(procs):
    procs.sim()
    app = procs.app()
    app.key("Escape")
    app.wait_exit()
    assert not app.running()


def test_close_box_ends_the_program(procs):
    procs.sim()
    app = procs.app()
    # Without a window manager there is no caption to click: send what the close box sends.
    app.probe.run("close")
    app.wait_exit()
    assert not app.running()


def test_enter_in_the_azimuth_box_ends_the_program_without_a_command(procs):
    sim = procs.sim()
    app = procs.app()
    app.type_into(k.IDC_AZ_EDIT, "45")
    app.wait_text(k.IDC_AZ_EDIT, "45")
    sim.clear()
    app.xdotool("key", "Return")
    app.wait_exit()
    commands = sim.commands()
    assert [c for c in commands if not c.is_poll] == []


def test_no_com_port_shows_the_error_box_and_exits_with_status_0(procs):
    procs.sim(ports=())
    app = procs.app(wait=False)
    box = k.wait_until(lambda: app.window(k.ERROR_TITLE), 30, interval=0.2, what="the Error box")
    assert "No available COM ports detected" in box.static_texts()
    buttons = [c["text"] for c in box.data["controls"] if c["class"].lower() == "button"]
    assert buttons == ["OK"]
    assert app.window(k.TITLE) is None  # the operator window never became visible
    app.key("Return", title=k.ERROR_TITLE)
    assert app.wait_exit() == 0
