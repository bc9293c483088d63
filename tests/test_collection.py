"""Reference cycles through quibra's objects are collected, and long chains of them unwind
without exhausting the C stack."""

import gc
import operator
import sys

import pytest

import quibra._quibra as q
from tests.helpers import Source, run_python


class Marker:
    """An object to watch a cycle's fate through."""


def collected(build):
    """Builds a cycle through `build(marker)`, drops it and says whether the marker was freed.

    A weak reference would not tell: the collector clears those to every
    unreachable object, even to objects it then fails to free."""
    kind = type("Marker", (Marker,), {})  # its own class, so earlier leaks cannot interfere
    build(kind())
    gc.collect()
    return not any(type(o) is kind for o in gc.get_objects())


def memoized_recursion(marker):
    @q.memoize
    def fib(n):
        marker  # the closure holds the marker, fib's closure holds the Memoize
        return n if n < 2 else fib(n - 1) + fib(n - 2)

    assert fib(30) == 832040


def curried_self_reference(marker):
    @q.curry
    def add(a, b):
        marker
        return add if a is None else a + b

    assert add(1)(2) == 3


def wrapping_its_own_user(wrap):
    def build(marker):
        box = {}

        def f(*args):
            marker, box["w"]
            return True

        box["w"] = wrap(f)
        box["w"](1)
    return build


def source_refers_back(make, steps):
    # The source keeps the iterator reading it.
    def build(marker):
        src = Source([(1, 2), (3, 4), (5, 6), (7, 8)])
        it = make(src)
        src.owner, src.marker = it, marker
        for _ in range(steps):
            next(it)
    return build


def items(element):
    """0, then three distinct elements from element(i)."""
    yield 0
    for i in range(3):
        yield element(i)


def element_holds_its_iterator(make, steps):
    # The iterator keeps an element (a window, a pending item, a seen key, a
    # running total, the current value) that holds the iterator itself: a
    # cycle through nothing but a tuple and the iterator, which the iterator
    # has to break itself.
    def build(marker):
        slot = []
        it = make(lambda i: (slot[0], marker, i))
        slot.append(it)
        for _ in range(steps):
            next(it)
        slot.clear()
    return build


def iter_and_what_it_derives(marker):
    src = Source([1, 2, 3])
    base = q.Iter(src)
    src.owner, src.marker = [base, base.map(abs).unique()], marker


def option_in_its_own_list(marker):
    box = [marker]
    box.append(q.Some(box))


CYCLES = {
    "memoize": memoized_recursion,
    "curry": curried_self_reference,
    "compose": wrapping_its_own_user(lambda f: q.compose(bool, f)),
    "complement": wrapping_its_own_user(q.complement),
    "juxt": wrapping_its_own_user(lambda f: q.juxt(f, f)),
    "excepts": wrapping_its_own_user(lambda f: q.excepts(ValueError, f)),
    "memoize with a cache and key": wrapping_its_own_user(lambda f: q.memoize(f, cache={}, key=lambda a, kw: a)),
    **{f"{name}, source refers back": source_refers_back(make, steps) for name, make, steps in [
        ("unique", lambda s: q.unique(s), 1),
        ("unique with key", lambda s: q.unique(s, key=lambda x: (x, s)), 2),
        ("interpose", lambda s: q.interpose(0, s), 2),
        ("sliding_window", lambda s: q.sliding_window(2, s), 1),
        ("pluck", lambda s: q.pluck(0, s), 1),
        ("pluck with default", lambda s: q.pluck(5, s, None), 1),
        ("partition", lambda s: q.partition(2, s, None), 1),
        ("partition_all", lambda s: q.partition_all(2, s), 1),
        ("interleave", lambda s: q.interleave([s, [9, 9]]), 1),
        ("accumulate", lambda s: q.accumulate(lambda a, b: b, s), 2),
        ("remove", lambda s: q.remove(lambda x: s is None, s), 1),
        ("iterate", lambda s: q.iterate(lambda x: s, s), 2),
        ("take", lambda s: q.take(3, s), 1),
    ]},
    **{f"{name}, element holds it": element_holds_its_iterator(make, steps) for name, make, steps in [
        ("sliding_window", lambda e: q.sliding_window(2, items(e)), 3),
        ("interpose", lambda e: q.interpose(0, items(e)), 4),  # the last step leaves e(1) pending
        ("unique", lambda e: q.unique(items(e)), 3),
        ("accumulate", lambda e: q.accumulate(lambda a, b: b, items(e)), 3),
        ("iterate", lambda e: q.iterate(e, 0), 3),
    ]},
    "Iter and what it derives": iter_and_what_it_derives,
    "Some in its own list": option_in_its_own_list,
}


@pytest.mark.parametrize("name", CYCLES)
def test_cycles_are_collected(name):
    assert collected(CYCLES[name])


def test_memoized_recursive_function_in_a_loop_does_not_pile_up():
    gc.collect()
    before = len(gc.get_objects())
    for _ in range(50):
        memoized_recursion(Marker())
    gc.collect()
    assert len(gc.get_objects()) - before < 50


DEPTH = 1_000_000
# memoize reads its callable's signature each time (about 50 us), so its
# chain is shorter; a fifth of this already overflowed the stack before
# the wrappers became collectable.
MEMOIZE_DEPTH = 200_000
CHAINS = {
    "unique": "x = q.unique(x)",
    "unique with key": "x = q.unique(x, key=abs)",
    "interpose": "x = q.interpose(0, x)",
    "sliding_window": "x = q.sliding_window(1, x)",
    "pluck": "x = q.pluck(0, x)",
    "partition_all": "x = q.partition_all(1, x)",
    "accumulate": "x = q.accumulate(operator.add, x)",
    "curry": "x = q.curry(x)",
    "compose": "x = q.compose(x)",
    "complement": "x = q.complement(x)",
    "juxt": "x = q.juxt(x)",
    "excepts": "x = q.excepts(ValueError, x)",
    "memoize": "x = q.memoize(x, key=operator.add)",
    "Some": "x = q.Some(x)",
    "Iter": "x = q.Iter(x)",
}


@pytest.mark.no_leak_check
@pytest.mark.skipif(hasattr(sys, "gettotalrefcount"), reason="the release run covers the stack")
@pytest.mark.parametrize("name", CHAINS)
def test_dropping_a_million_deep_chain_does_not_crash(name):
    out = run_python(f"""
        import operator, quibra._quibra as q
        x = [[1]] if {name.startswith(("unique", "interpose", "sliding", "pluck", "partition",
                                        "accumulate"))!r} else abs
        for _ in range({MEMOIZE_DEPTH if name == "memoize" else DEPTH}):
            {CHAINS[name]}
        del x
        print("ok")
    """, timeout=300)
    assert out.strip() == "ok"


def test_iterator_types_report_what_they_hold():
    # gc.get_referents goes through the traverse slot.
    src = [1, 2]
    key = operator.itemgetter(0)
    it = q.unique(src, key=key)
    assert src in gc.get_referents(it) and key in gc.get_referents(it)
    assert type(it) in gc.get_referents(it)
    f = q.memoize(abs)
    assert abs in gc.get_referents(f)
    assert gc.is_tracked(it) and gc.is_tracked(f) and not gc.is_tracked(q.NothingType())


def test_option_and_result_values_enter_the_collector_only_around_containers():
    untracked = [q.Some(1), q.Ok("s"), q.Err(None), q.Option.of(2.5), q.first_opt([3]), q.Some(int)]
    tracked = [q.Some([]), q.Ok({}), q.Err(ValueError()), q.Some(q.Some(1)), q.Option.of(()), q.first_opt([[3]])]
    assert not any(map(gc.is_tracked, untracked)) and all(map(gc.is_tracked, tracked))
