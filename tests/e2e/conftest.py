"""Fixtures of the end-to-end tests: a Wine session (the one exported, else a free one of the pool
that tools/test.sh started, one for each runner under pytest -n, else one of our own), and
factories for the controller simulator, the prediction-server simulator and the program, each in
its own process and ended by its PID after the test."""

import fcntl
import os
import shutil
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))

import kelma_e2e as k  # noqa: E402
from leftover_check import nothing_outlives_the_test  # noqa: E402,F401


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "alone: the test needs the processors to itself (its bounds say that the "
        "program keeps up with a heavy load); under pytest -n no other test runs meanwhile")
    config.addinivalue_line(
        "markers", "slow: the test takes 10 s or more; under pytest -n it starts early, so that it "
        "does not end the run alone")


def pytest_collection_modifyitems(items):
    """Under pytest -n: the tests marked 'alone' first, so that they run back to back while the
    runners start, instead of each one waiting for every other runner's test to end; then the
    slow ones, so that short ones fill the end."""
    def order(item):
        return (item.get_closest_marker("alone") is None, item.get_closest_marker("slow") is None)
    items.sort(key=order)


@pytest.fixture(autouse=True)
def machine_share(request, tmp_path_factory):
    """Under pytest -n, a reader-writer lock over the runners: every test holds it shared, one
    marked 'alone' exclusively. While an 'alone' test waits it holds the turnstile, which every
    test passes first, so the others' stream of shared holds cannot starve it."""
    if "PYTEST_XDIST_WORKER" not in os.environ:
        yield
        return
    # The pool's folder when tools/test.sh runs the tests (its native tests take a share too),
    # else the run's own, common to its runners.
    folder = Path(os.environ.get("HARNESS_POOL") or tmp_path_factory.getbasetemp().parent)
    alone = request.node.get_closest_marker("alone") is not None
    with open(folder / "machine.turnstile", "a") as turnstile, \
            open(folder / "machine.lock", "a") as machine:
        fcntl.flock(turnstile, fcntl.LOCK_EX)
        if alone:
            fcntl.flock(machine, fcntl.LOCK_EX)
            fcntl.flock(turnstile, fcntl.LOCK_UN)
        else:
            fcntl.flock(turnstile, fcntl.LOCK_UN)
            fcntl.flock(machine, fcntl.LOCK_SH)
        yield


@pytest.fixture(scope="session")
def build():
    found = k.Build.locate()
    missing = found.missing()
    if missing:
        pytest.fail("not built (bash tools/test.sh builds them; KELMA_BUILD names the build "
                    f"directory): {', '.join(missing)}")
    return found


@pytest.fixture(scope="session")
def session(tmp_path_factory):
    reused = k.Session.from_environment()
    if reused is not None:
        yield reused
        return
    claimed = k.Session.claim_from_pool()
    if claimed is not None:
        yield claimed
        claimed.release()
        return
    workdir = Path(tempfile.mkdtemp(prefix="kelma-e2e-session."))
    started = k.Session.start(workdir)
    try:
        yield started
    finally:
        started.stop()
        shutil.rmtree(workdir, ignore_errors=True)


@pytest.fixture
def workdir(tmp_path):
    return tmp_path


@pytest.fixture
def procs(session, build, workdir):
    """Starts processes for one test and ends them all, newest first, when it is over."""
    started = k.Processes(session, build, workdir)
    yield started
    started.stop_all()


@pytest.fixture(scope="session")
def artifacts():
    """build/artifacts (or $KELMA_ARTIFACTS): screenshots kept after the run."""
    path = Path(os.environ.get("KELMA_ARTIFACTS", k.Build.locate().root / "artifacts"))
    path.mkdir(parents=True, exist_ok=True)
    return path
