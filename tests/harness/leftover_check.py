"""The pytest side of leftovers.py: a test fails when a process it started outlives it. A
conftest takes the fixture by importing it."""

import pytest

import leftovers


@pytest.fixture(autouse=True)
def nothing_outlives_the_test(request):
    """This runner adopts every orphan while the test runs, so its children after the test's
    own teardown are what the test left running: named, ended, and the test fails. Off between
    tests, so that a Wine session the runner starts for itself is not counted."""
    leftovers.become_subreaper()
    yield
    message = leftovers.check_and_end(request.node.nodeid)
    leftovers.become_subreaper(False)
    if message:
        pytest.fail(message, pytrace=False)
