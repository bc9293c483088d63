"""Deeply nested native objects end in RecursionError, never in a crash; so
does an exception tuple nested deeper than the interpreter's matching goes."""

import textwrap

import pytest

import quibra as q
from tests.helpers import run_python

# Each case builds `deep`, a call that goes down through DEPTH native objects
# nested in one another with no Python frame in between. It runs on a thread
# whose stack holds far fewer levels than that, so without the recursion
# check the interpreter would crash: hence a subprocess per case. It runs
# twice, which also shows that no reentrancy guard stayed taken.
RUNNER = """
import operator, threading, quibra as q
DEPTH = 20_000
{build}
def attempt():
    try:
        deep()
    except RecursionError:
        return "RecursionError"
    except BaseException as e:
        return repr(e)
    return "returned"
threading.stack_size(256 * 1024)
out = []
t = threading.Thread(target=lambda: out.extend([attempt(), attempt()]))
t.start()
t.join()
print(*out)
"""

CALLABLES = {
    "complement": "q.complement(f)",
    "juxt": "q.juxt(f)",
    "excepts": "q.excepts(KeyError, f)",
    "compose": "q.compose(f)",
    "compose_left": "q.compose_left(abs, f)",
    "memoize": "q.memoize(f)",
}

# `it` starts as [(1,)]; every level yields such tuples again (interpose mixes
# in its separator), so the wrappers fit into one another.
ITERATORS = {
    "unique": "q.unique(it)",
    "unique with key": "q.unique(it, key=len)",
    "interpose": "q.interpose([0], it)",
    "sliding_window": "q.pluck(0, q.sliding_window(1, it))",
    "partition_all": "q.pluck(0, q.partition_all(1, it))",
    "partition": "q.pluck(0, q.partition(1, it))",
    "pluck": "q.pluck(slice(None), it)",
    "pluck with default": "q.pluck(slice(None), it, None)",
    "remove": "q.remove(operator.not_, it)",
    "accumulate": "q.accumulate(max, it)",
    "interleave": "q.interleave([it])",
    "merge_sorted": "q.merge_sorted(it)",
    "join, nested left": "q.pluck(0, q.join(len, it, len, [[0]]))",
    "join, nested right": "q.pluck(1, q.join(len, [[0]], len, it))",
    "diff": "q.pluck(0, q.diff(it, [0]))",
    "Iter.unique": "q.Iter(it).unique()",
}

NESTED = {
    **{name: f"f = bool\nfor _ in range(DEPTH): f = {wrap}\ndeep = lambda: f(1)" for name, wrap in CALLABLES.items()},
    # Two steps: interpose delivers its first element without reading on.
    **{name: f"it = [(1,)]\nfor _ in range(DEPTH): it = {wrap}\ndeep = lambda: [next(i) for i in [iter(it)] * 2]"
       for name, wrap in ITERATORS.items()},
    "Iter around Iter": "it = [1]\nfor _ in range(DEPTH): it = q.Iter(it)\ndeep = lambda: it.collect()",
    # Reading no signature calls every level straight through; a first call
    # on the main thread's larger stack settles each level's signature slot,
    # so the deep call meets no Python code at all.
    "curry": """
        import inspect
        inspect.signature = len
        f = len
        for _ in range(DEPTH): f = q.curry(f)
        try:
            f([])
        except RecursionError:
            pass
        deep = lambda: f([])
        """,
}
# Memoize reads a signature per level; a native failure keeps building fast.
NESTED["memoize"] = "import inspect\ninspect.signature = len\n" + NESTED["memoize"]
# Every level read as taking two positional parameters: calls keyed by the
# argument tuple.
NESTED["memoize, two arguments"] = """
import inspect
two = inspect.Signature([inspect.Parameter(n, inspect.Parameter.POSITIONAL_ONLY) for n in "ab"])
inspect.signature = lambda f: two
f = max
for _ in range(DEPTH): f = q.memoize(f)
deep = lambda: f(1, 2)
"""
# heapq.merge's generator, under merge_sorted, is finished by the error.
SECOND_ATTEMPT = {"merge_sorted": "StopIteration()"}


@pytest.mark.no_leak_check
@pytest.mark.parametrize("case", NESTED)
def test_deep_nesting_raises_recursion_error(case):
    out = run_python(RUNNER.format(build=textwrap.dedent(NESTED[case])))
    assert out.split() == ["RecursionError", SECOND_ATTEMPT.get(case, "RecursionError")]


class TupleOfTypes(tuple):
    """A tuple subclass whose iteration lies; matching reads its storage."""

    def __iter__(self):
        return iter(())


def nest(exc, depth, width=1):
    for _ in range(depth):
        exc = (exc,) * width
    return exc


def raiser(exc):
    def f():
        raise exc
    return f


@pytest.mark.parametrize("types, raised, caught", [
    (nest(KeyError, 50), KeyError, True),
    (nest(LookupError, 50), KeyError, True),
    (nest(KeyError, 50), ValueError, False),
    ((ValueError, nest((TypeError, KeyError), 3), 5), KeyError, True),
    ((ValueError, ((),), 5), KeyError, False),
    # Not classes: they match only the identical type, as in the interpreter.
    ((5, ("x", (KeyError,))), KeyError, True),
    (5, KeyError, False),
    ((TupleOfTypes([KeyError]),), KeyError, True),
    # 2**200 paths through the same few tuples: each is read once.
    (nest(KeyError, 200, width=2), KeyError, True),
    (nest(KeyError, 200, width=2), ValueError, False),
])
def test_excepts_matches_nested_tuples_like_the_interpreter(types, raised, caught):
    raised = raised("fresh")
    wrapped = q.excepts(types, raiser(raised), lambda e: ("handled", e))
    if caught:
        assert wrapped() == ("handled", raised)
    else:
        with pytest.raises(type(raised)) as info:
            wrapped()
        assert info.value is raised


@pytest.mark.no_leak_check
def test_excepts_with_a_very_deeply_nested_tuple():
    out = run_python("""
        import quibra as q
        types = KeyError
        for _ in range(200_000):
            types = (types,)
        def f(e):
            raise e
        print(q.excepts(types, f, lambda e: "handled")(KeyError()))
        try:
            q.excepts(types, f)(ValueError("v"))
        except ValueError as e:
            print(e)
    """)
    assert out.split() == ["handled", "v"]
