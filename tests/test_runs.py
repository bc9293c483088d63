"""Each run tests the build it means to: the sanitizer run the instrumented module."""

import os

import pytest

import quibra._quibra as native
from tests.helpers import run_python

UNDER_SANITIZER = bool(os.environ.get("QUIBRA_SANITIZER"))


@pytest.mark.no_leak_check
def test_children_import_the_module_under_test():
    # Tests that start `python -c` must see the same build as the test process.
    out = run_python("import quibra._quibra as m; print(m.__file__)")
    assert os.path.realpath(out.strip()) == os.path.realpath(native.__file__)


@pytest.mark.skipif(not UNDER_SANITIZER, reason="only the sanitizer run loads the instrumented module")
def test_sanitizer_run_loads_the_instrumented_module():
    with open(native.__file__, "rb") as f:
        image = f.read()
    assert b"__asan_report_load8" in image and b"__ubsan_handle_add_overflow" in image
    with open("/proc/self/maps") as f:
        assert "libasan" in f.read()
    assert os.environ.get("PYTHONMALLOC") == "malloc"
