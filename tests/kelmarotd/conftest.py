"""Assertion details from the shared scenarios too."""

import pytest

pytest.register_assert_rewrite("kelmarotd_e2e")
