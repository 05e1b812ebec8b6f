"""Assertion details from the shared scenarios too; every test ends what it started."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))

from leftover_check import nothing_outlives_the_test  # noqa: E402,F401

pytest.register_assert_rewrite("kelmarotd_e2e")
