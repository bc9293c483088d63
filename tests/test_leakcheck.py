"""The leak checker itself must notice a leaked reference."""

import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"),
                                reason="needs the debug interpreter")

LEAKY = textwrap.dedent("""
    import ctypes

    def test_leaks_a_reference():
        obj = object()
        ctypes.pythonapi.Py_IncRef(ctypes.py_object(obj))

    def test_clean():
        assert sum(range(10)) == 45
""")


@pytest.mark.no_leak_check
def test_checker_flags_a_leaked_reference(tmp_path):
    (tmp_path / "test_leaky.py").write_text(LEAKY)
    proc = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "tools.leakcheck", "--leaks",
         "-p", "no:cacheprovider", "--rootdir", str(tmp_path), str(tmp_path / "test_leaky.py")],
        capture_output=True, text=True, timeout=300)
    out = proc.stdout + proc.stderr
    assert proc.returncode == 1, out
    assert "test_leaks_a_reference leaks" in out
    assert "1 failed, 1 passed" in out
