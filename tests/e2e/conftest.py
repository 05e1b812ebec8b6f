"""Fixtures of the end-to-end tests: a Wine session (the one tools/test.sh exported, or one of our
own), and factories for the controller simulator, the prediction-server simulator and the
program, each in its own process and ended by its PID after the test."""

import os
import shutil
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import kelma_e2e as k  # noqa: E402


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
