"""The fault and load suite in its short form (tools/fault_suite.py; the full form is
tools/fault_suite.sh): each scenario a few times, with the window, the processor, the controller's
bytes and the state after recovery checked throughout."""

import sys

import pytest

import kelma_e2e as k

sys.path.insert(0, str(k.REPO / "tools"))

import fault_suite  # noqa: E402


# Scenarios whose bounds say the program keeps up with a heavy load (a line flood, 10 and 20
# updates a second, closing the window under that traffic): no other test runs beside them.
KEEPING_UP = {"flood", "ports", "close", "pass"}


@pytest.mark.parametrize("scenario", [
    pytest.param(name, marks=[pytest.mark.alone] if name in KEEPING_UP else [])
    for name in fault_suite.SCENARIOS])
def test_scenario_passes_in_short_form(session, build, workdir, scenario):
    results = fault_suite.run_scenario(session, build, workdir, scenario,
                                       fault_suite.SHORT[scenario])
    fault_suite.print_table(results)
    assert [r.failures for r in results] == [[] for _ in results]


E000, A001 = ("E", "000"), ("A", "001")


@pytest.mark.parametrize("com2, com1, lost, repeated", [
    # The third E 000 went to COM2, the fourth back to COM1: nothing lost.
    ([E000, E000, A001, E000], [E000], [], []),
    ([E000, A001, E000], [E000], [E000], []),
    ([E000, E000, A001, E000], [E000, E000], [], [E000]),
])
def test_port_changes_count_identical_commands_split_between_ports(com2, com1, lost, repeated):
    expected = [E000, E000, A001, E000, E000]
    assert fault_suite.lost_and_repeated(expected, [com2, com1]) == (lost, repeated)
