"""Every test ends what it started."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))

from leftover_check import nothing_outlives_the_test  # noqa: E402,F401
