"""Callbacks that empty the containers quibra is walking, and native memory running out.

Each case runs in a child interpreter whose allocator poisons freed memory, so a
use after free fails that case instead of taking the test run down."""

import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.no_leak_check  # every case is a child process


def run_child(code, timeout=120):
    env = {**os.environ, "PYTHONMALLOC": "debug", "PYTHONFAULTHANDLER": "1"}
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=env)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr[-3000:]}"
    return proc.stdout.split()


PRELUDE = """
    import gc
    import quibra._quibra as q

    def empty_containers(of):
        # What a hostile callback can do to the private lists and dicts that hold `of`.
        for r in gc.get_referrers(of):
            if type(r) in (list, dict):
                r.clear()
"""

# Each snippet prints "ok" once the call has returned normally.
CASES = {
    # A keyword name that hashes in Python and empties the caller's keyword
    # dict, which held the only reference to an argument bound before it.
    "keyword_names": """
        class Name(str):
            countdown = 0
            def __hash__(self):
                Name.countdown -= 1
                if Name.countdown == 0:
                    empty_containers(self)
                return str.__hash__(self)
        def make():
            return lambda *args, **kwargs: sorted(kwargs)
        for n in (1, 2, 3):  # one of them empties the dict while it is bound
            Name.countdown = n
            assert q.apply(func=make(), **{Name("x"): 1}) == ["x"]
            Name.countdown = n
            assert type(q.curry(func=make(), **{Name("x"): 1})) is q.curry
    """,
}


@pytest.mark.parametrize("name", CASES)
def test_callbacks_emptying_private_containers(name):
    assert run_child(textwrap.dedent(PRELUDE) + textwrap.dedent(CASES[name]) + "\nprint('ok')") == ["ok"]


# Under an address-space limit a little above what the process already uses.
LIMITED = """
    import itertools, resource
    import quibra._quibra as q
    def limit(headroom):
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + headroom, resource.getrlimit(resource.RLIMIT_AS)[1]))
    def outcome(call):
        try:
            call()
        except BaseException as e:
            return type(e).__name__
        return "returned"
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
@pytest.mark.parametrize("setup, call", [
    ("", "q.tail(0, itertools.repeat(None, 10**9))"),  # the ring of kept elements grows
    ("ind = [0] * 3 * 10**7", "q.get(ind, [1])"),  # room for every result up front
])
def test_native_allocation_failure_is_memory_error(setup, call):
    out = run_child(textwrap.dedent(LIMITED) + textwrap.dedent(f"""
        {setup}
        limit(64 << 20)
        print(outcome(lambda: {call}))
        print(q.get([0, 1], "ab"))  # still working afterwards
    """))
    assert out == ["MemoryError", "('a',", "'b')"]
