"""Run-wide test settings."""

import os

import pytest

# Set by tools/sanitize for the run against the instrumented module.
UNDER_SANITIZER = bool(os.environ.get("QUIBRA_SANITIZER"))


def pytest_runtest_setup(item):
    mark = item.get_closest_marker("not_under_sanitizer")
    if mark is None or not UNDER_SANITIZER:
        return
    if not mark.args:
        pytest.fail("not_under_sanitizer needs a one-line reason", pytrace=False)
    pytest.skip(f"not under the sanitizer: {mark.args[0]}")
