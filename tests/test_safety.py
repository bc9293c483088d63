"""Callbacks that empty the containers quibra is walking, and native memory running out.

Each case runs in a child interpreter whose allocator poisons freed memory, so a
use after free fails that case instead of taking the test run down."""

import sys

import pytest

from tests.helpers import run_python

pytestmark = pytest.mark.no_leak_check  # every case is a child process


PRELUDE = """
    import gc
    import quibra._quibra as q

    def empty_containers(of):
        # What a hostile callback can do to the private lists and dicts that hold `of`.
        for r in gc.get_referrers(of):
            if type(r) in (list, dict):
                r.clear()

    def level_emptying_paths_of(kind):
        # A dict level whose items() empties every list of `kind`: the path being walked.
        class Level(dict):
            def items(self):
                for o in gc.get_objects():
                    if type(o) is list and o and all(type(x) is kind for x in o):
                        o.clear()
                return super().items()
        return Level
"""

# Each snippet prints "ok" once the call has returned normally.
CASES = {
    # The list of mappings read from a lone iterable, emptied by items().
    "merge": """
        class M:
            def keys(self):
                return []
            def items(self):
                empty_containers(self)
                return []
        assert q.merge(iter([M(), M()])) == {}
    """,
    # The same list in merge_with, emptied while the items are collected.
    "merge_with_collect": """
        class M:
            def items(self):
                empty_containers(self)
                return [(1, 2)]
        assert q.merge_with(sum, iter([M(), M()])) == {1: 4}
    """,
    # The grouping dict, reached through the list func is given, emptied while
    # its key is still to be stored.
    "merge_with_func": """
        class Key:
            pass
        class M:
            def keys(self):
                return []
            def items(self):
                return [(Key(), 1), (Key(), 2)]
        def func(values):
            empty_containers(values)
            return len(values)
        out = q.merge_with(func, M(), factory=dict)
        # Emptied after the first key: the walk ends there.
        assert list(out.values()) == [1] and type(*out) is Key
    """,
    # The path read from an iterator, emptied while a level is copied.
    "assoc_in": """
        class Key:
            def __init__(self, i):
                self.i = i
        Level = level_emptying_paths_of(Key)
        out = q.assoc_in(Level(), (Key(i) for i in range(3)), 1)
        level = out
        for i in range(3):
            (key, level), = level.items()
            assert key.i == i
        assert level == 1
    """,
    "update_in": """
        class Key:
            pass
        Level = level_emptying_paths_of(Key)
        out = q.update_in(Level(), (Key() for _ in range(2)), lambda old: [old], default=7)
        (inner,), = [v.values() for v in out.values()]
        assert inner == [7]
    """,
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
    assert run_python(PRELUDE, CASES[name], "print('ok')", debug_malloc=True).split() == ["ok"]


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
@pytest.mark.not_under_sanitizer("its allocator aborts on an address-space limit instead of failing the allocation")
@pytest.mark.parametrize("setup, call", [
    ("", "q.tail(0, itertools.repeat(None, 10**9))"),  # the ring of kept elements grows
    ("ind = [0] * 3 * 10**7", "q.get(ind, [1])"),  # room for every result up front
])
def test_native_allocation_failure_is_memory_error(setup, call):
    out = run_python(LIMITED, f"""
        {setup}
        limit(64 << 20)
        print(outcome(lambda: {call}))
        print(q.get([0, 1], "ab"))  # still working afterwards
    """, debug_malloc=True)
    assert out.split() == ["MemoryError", "('a',", "'b')"]
