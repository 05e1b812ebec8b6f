"""Every test of the Debian package ends what it started (dpkg and its maintainer scripts)."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))

from leftover_check import nothing_outlives_the_test  # noqa: E402,F401
