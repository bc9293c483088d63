"""The native iterators: what they share (the guard, sources, hints, ownership, the end),
then unique, interpose, sliding_window, partition_all, partition and pluck."""

import gc
import math
import operator
import weakref

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from tests.helpers import Boom, Colliding, Source, boom, drain, raises


TWO = type("Two", (), {"__index__": lambda self: 2})()
MAKERS = {  # name: (build from a source, class name)
    "unique": (q.unique, "UniqueIter"),
    "interpose": (lambda s: q.interpose(0, s), "InterposeIter"),
    "sliding_window": (lambda s: q.sliding_window(2, s), "SlidingWindowIter"),
    "pluck": (lambda s: q.pluck(0, s), "PluckIter"),
    "partition_all": (lambda s: q.partition_all(2, s), "RustIter"),
}


# ---- what they share -----------------------------------------------------------------


@pytest.mark.parametrize("name", MAKERS)
def test_class_shape(name):
    make, cls_name = MAKERS[name]
    it = make(Source("ab"))
    cls = type(it)
    assert (cls.__name__, cls.__module__) == (cls_name, "quibra._quibra") and iter(it) is it
    for attempt in (cls, lambda: type("Sub", (cls,), {})):
        raises(TypeError, attempt)
    raises(AttributeError, lambda: setattr(it, "extra", 1))
    if cls is q.RustIter:
        assert cls.__doc__ is None and not hasattr(it, "__length_hint__")
    else:
        assert cls.__doc__ and cls.__length_hint__.__doc__
        assert cls.__length_hint__.__text_signature__ == "($self)"


@pytest.mark.parametrize("name, outcomes, after_the_end", [
    ("unique", [*"abc", Boom, *"def"], ["g"]),
    ("pluck", [*"abc", Boom, *"def"], ["g"]),
    ("interpose", ["a", 0, "b", 0, "c", Boom, 0, "d", 0, "e", 0, "f"], []),
    ("sliding_window", [("a", "b"), ("b", "c"), Boom, ("c", "d"), ("d", "e"), ("e", "f")], []),
    # the chunk being collected when the source raised is lost
    ("partition_all", [("a", "b"), Boom, ("d", "e"), ("f",)], [("g",)]),
])
def test_source_errors_the_end_and_ownership(name, outcomes, after_the_end):
    it = MAKERS[name][0](src := Source("abcdef", fail_at={3}))
    assert drain(it) == outcomes
    src.items.append("g")  # only iterators without an end flag ask their source again
    if not after_the_end:
        src.fail_at.add(src.taken)
    assert drain(it) == after_the_end
    ref = weakref.ref(src)
    del src
    gc.collect()
    assert ref() is not None  # the end keeps the source
    del it
    gc.collect()
    assert ref() is None


def test_reentrant_calls_raise_and_an_escaping_error_drops_the_element():
    it, escaped = None, []

    def key(x):
        for call in (next, type(it).__length_hint__):
            raises(ValueError, lambda: call(it), "^iterator already executing$")
        if x == 2 and not escaped:
            escaped.append(x)
            next(it)
        return x

    it = q.unique([1, 2, 1, 3, 2], key=key)
    assert next(it) == 1
    raises(ValueError, lambda: next(it), "^iterator already executing$")
    assert list(it) == [3, 2]  # the failed 2 was dropped, never stored


@pytest.mark.parametrize("name, grown, truncated", [
    ("unique", [*"abcde"], [*"abc"]),
    ("pluck", [*"abcde"], [*"abc"]),
    ("interpose", ["a", 0, "b", 0, "c", 0, "d", 0, "e"], ["a", 0, "b", 0, "c"]),
    ("sliding_window", [("a", "b"), ("b", "c"), ("c", "d"), ("d", "e")], [("a", "b"), ("b", "c")]),
    ("partition_all", [("a", "b"), ("c", "d"), ("e",)], [("a", "b"), ("c",)]),
])
def test_list_sources_and_subclasses(name, grown, truncated):
    for change, expected in ((lambda xs: xs.append("e"), grown), (list.pop, truncated)):
        xs = list("abcd")
        it = MAKERS[name][0](xs)
        out = [next(it)]
        change(xs)
        assert out + list(it) == expected
        xs.append("f")
        assert list(it) == []  # an ended list source is not read again
    reversed_list = type("Reversed", (list,), {"__iter__": lambda self: reversed(self)})
    # A subclass is read through its own __iter__, an exact list by position.
    assert list(MAKERS[name][0](reversed_list("abcd"))) == list(MAKERS[name][0](list("dcba")))


def test_length_hints():
    def hints(it):  # before each step and after the end
        return [operator.length_hint(it)] + [operator.length_hint(it) for _ in it]

    for src in ([1, 2, 3], iter([1, 2, 3])):  # 2h + 1 with the first element pending
        assert hints(q.interpose(0, src)) == [5, 4, 3, 2, 1, 0]
    assert hints(q.sliding_window(2, [1, 2, 3, 4])) == [3, 2, 1, 0]
    assert hints(q.pluck(0, [[1], [2], [3]])) == [3, 2, 1, 0]
    assert hints(q.unique([1, 1, 2])) == [3, 2, 0]  # an upper bound
    assert operator.length_hint(q.unique(iter(range(10)))) == 10  # the source's own hint
    assert operator.length_hint(q.sliding_window(5, [1, 2, 3])) == 0
    # Sources without a hint: only interpose's pending first element is known.
    assert [operator.length_hint(MAKERS[n][0](x for x in "ab")) for n in MAKERS] == [0, 1, 0, 0, 0]

    bad_hint = type("BadHint", (Source,), {"__length_hint__": boom})
    assert operator.length_hint(q.unique(bad_hint(""))) == 0
    assert operator.length_hint(q.sliding_window(1, bad_hint(""))) == 0


# ---- unique --------------------------------------------------------------------------


@pytest.mark.parametrize("xs, expected", [
    ([True, 1, 1.0], [True]),
    ([-1.0, -2, -1, -2.0], [-1.0, -2]),  # -1 and -2 share a hash; equality tells them apart
    # Wide ints go through the interpreter's hash and compare with small ones.
    ([2**64 + 7, int("18446744073709551623"), 7, 2**61 - 1, 2**61 - 1, -(2**40), -(2**40)],
     [2**64 + 7, 7, 2**61 - 1, -(2**40)]),
    ([0, 2**61 - 1, 0.0], [0, 2**61 - 1]),  # hash(2**61 - 1) == 0
    ([0.0, -0.0, 0, math.inf, math.inf], [0.0, math.inf]),
    (["é", "e\u0301", "é"], ["é", "e\u0301"]),
])
def test_unique_first_occurrences(xs, expected):
    assert [(type(x), x) for x in q.unique(xs)] == [(type(x), x) for x in expected]


def test_unique_laziness_keys_and_identity():
    it = q.unique(src := Source([1]))
    assert src.taken == 0 and list(it) == [1]
    assert list(q.unique([1, 1], None)) == [1]  # key=None is no key
    # Strings whose hash is not cached yet, equal but distinct objects: the first is kept.
    a, b = "".join(["x", "y"]), "".join(["x", "y"])
    assert a is not b and list(q.unique([a, b, "xy"])) == ["xy"] and list(q.unique([a, b]))[0] is a
    nan = float("nan")
    assert len(list(q.unique([nan, nan]))) == 1 and len(list(q.unique([float("nan"), float("nan")]))) == 2


def test_unique_colliding_hashes_and_equality_calls():
    log = []
    xs = [Colliding(i % 5, log) for i in range(20)]
    out = list(q.unique(xs))
    assert [c.v for c in out] == [0, 1, 2, 3, 4] and out[0] is xs[0]
    # The table grows with its insertion order intact, collisions included.
    for xs in ([(i * 7919) % 5000 for i in range(20000)], [f"s{i % 1500}" for i in range(6000)]):
        assert list(q.unique(xs)) == list(dict.fromkeys(xs))
    mixed = [Colliding(i, log) if i % 2 else float(i) for i in range(300)]  # 42.0 collides too
    assert list(q.unique(mixed + mixed)) == mixed
    log.clear()
    one = Colliding(1, log)
    assert list(q.unique([one, one, one])) == [one]
    assert log == []  # identity is tried first
    list(q.unique([Colliding(0, log), Colliding(1, log)]))
    assert log == [("eq", 0, 1)]  # the stored object is asked first


def test_unique_errors_pass_through_and_drop_the_element():
    raises(TypeError, lambda: q.unique(5))
    assert drain(q.unique([1, [2], 3, {}, 1])) == [1, TypeError, 3, TypeError]
    assert drain(q.unique([1], key=lambda x: [x])) == [TypeError]  # an unhashable key of a hashable element
    assert drain(q.unique([1, 2, 3], key=lambda x: 1 / (x - 2))) == [1, ZeroDivisionError, 3]
    first = (bad_eq := type("BadEq", (), {"__hash__": lambda self: 0, "__eq__": boom}))()
    assert drain(q.unique([first, bad_eq(), 5])) == [first, Boom, 5]
    assert drain(q.unique([type("BadHash", (), {"__hash__": boom})(), 5])) == [Boom, 5]


hashables = st.one_of(
    st.integers(-3, 3), st.integers(), st.booleans(),
    st.floats(allow_nan=False), st.text(max_size=2),
    st.tuples(st.integers(-2, 2), st.text(max_size=1)),
)


@given(st.lists(hashables, max_size=60), st.integers(1, 7))
def test_unique_matches_the_model(xs, m):
    assert list(q.unique(xs)) == list(q.unique(iter(xs))) == list(dict.fromkeys(xs))
    ints, firsts = [x for x in xs if type(x) is int], {}
    for x in ints:
        firsts.setdefault(x % m, x)
    assert list(q.unique(ints, key=lambda x: x % m)) == list(firsts.values())


# ---- interpose, sliding_window, partition_all, partition -----------------------------


def test_interpose():
    sep = object()
    assert [x is sep for x in q.interpose(sep, [1, 2])] == [False, True, False]
    it = q.interpose(0, src := Source([1, 2, 3]))
    assert src.taken == 1  # the first element is read by the call
    assert next(it) == 1 and src.taken == 1
    assert next(it) == 0 and src.taken == 2  # the next element is in hand before its separator
    assert raises(StopIteration, lambda: q.interpose(0, [])).args == ()
    raises(Boom, lambda: q.interpose(0, Source([1], fail_at={0})))
    raises(TypeError, lambda: q.interpose(0, 3))


def test_sliding_window():
    assert list(q.sliding_window(TWO, [1, 2, 3])) == [(1, 2), (2, 3)]
    assert list(q.sliding_window(2**62, [1, 2, 3])) == []  # a huge n reserves nothing up front
    assert list(q.sliding_window(0, 42)) == [] and type(q.sliding_window(0, 42)) is q.RustIter  # not iterated
    raises(ValueError, lambda: q.sliding_window(-1, []), r"^n must be >= 0$")
    for bad, exc in (("2", TypeError), (2**70, OverflowError)):
        assert raises(exc, lambda: q.sliding_window(bad, [])).__notes__ == ["while processing 'n'"]
    raises(TypeError, lambda: q.sliding_window(2, None))
    it = q.sliding_window(4, src := Source(range(10)))
    assert src.taken == 3  # n - 1 are read by the call
    assert next(it) == (0, 1, 2, 3) and src.taken == 4
    raises(Boom, lambda: q.sliding_window(3, Source(range(5), fail_at={1})))
    # Too short a source ends it at the call, for good.
    it = q.sliding_window(3, src := Source([1]))
    assert operator.length_hint(it) == 0
    src.items.extend([2, 3, 4])
    assert list(it) == [] and list(it) == []


def test_partitions():
    assert list(q.partition(2, [1, 2, 3], None)) == [(1, 2), (3, None)]  # None is a pad
    assert list(q.partition_all(TWO, "abc")) == [("a", "b"), ("c",)]
    for n in (0, -3):
        assert list(q.partition_all(n, 42)) == list(q.partition(n, 42, None)) == []
    raises(TypeError, lambda: q.partition(2, [1], 0, 0), r"^partition takes at most 3 arguments$")
    raises(TypeError, lambda: q.partition(2, [1], pad=0))
    assert raises(TypeError, lambda: q.partition_all(None, [1])).__notes__ == ["while processing 'n'"]
    raises(TypeError, lambda: q.partition_all(2, 5))
    it = q.partition_all(2, src := Source(range(3)))
    assert src.taken == 0 and next(it) == (0, 1)  # nothing is read by the call
    # Large chunks grow past the reservation.
    xs = list(range(10000))
    assert list(q.partition_all(6000, xs)) == [tuple(xs[:6000]), tuple(xs[6000:])]
    assert list(q.partition(7000, xs, 0)) == [tuple(xs[:7000]), tuple(xs[7000:]) + (0,) * 4000]
    assert list(q.partition_all(2**62, [1, 2])) == [(1, 2)]
    for fill, last in (((None,), [("e", None)]), ((), [])):  # a list grown, then read to its end
        it = q.partition(2, xs := list("abcd"), *fill)
        assert next(it) == ("a", "b")
        xs.append("e")
        assert list(it) == [("c", "d"), *last]
        xs.append("f")
        assert list(it) == []
    # Code run while a chunk fills (here through the collector) finds only whole tuples.
    mark, seen = object(), []

    def spy():
        yield mark
        seen.extend(t[1:] for t in gc.get_objects() if type(t) is tuple and t and t[0] is mark)
        yield 2

    [chunk] = q.partition(3, spy(), None)
    assert chunk == (mark, 2, None) and seen in ([], [(None, None)]) and gc.is_tracked(chunk)


@given(st.lists(st.integers(0, 9), max_size=30), st.integers(1, 8))
def test_windows_match_models(xs, n):
    windows = [tuple(xs[i:i + n]) for i in range(len(xs) - n + 1)]
    assert list(q.sliding_window(n, xs)) == list(q.sliding_window(n, iter(xs))) == windows
    # Windows the consumer has dropped may be reused: their contents stay right.
    assert [list(w) for w in q.sliding_window(n, xs)] == list(map(list, windows))
    chunks = [tuple(xs[i:i + n]) for i in range(0, len(xs), n)]
    assert list(q.partition_all(n, iter(xs))) == list(q.partition_all(n, xs)) == chunks
    assert list(q.partition(n, xs)) == [c for c in chunks if len(c) == n]
    assert list(q.partition(n, xs, -1)) == [c + (-1,) * (n - len(c)) for c in chunks]
    if xs:
        expected = [y for x in xs for y in (0, x)][1:]
        assert list(q.interpose(0, iter(xs))) == list(q.interpose(0, xs)) == expected
        assert operator.length_hint(q.interpose(0, xs)) == len(expected)


# ---- pluck ---------------------------------------------------------------------------


def test_pluck_forms_and_positions():
    assert list(q.pluck("a", [{"a": 1}, {"b": 2}], None)) == [1, None]
    assert list(q.pluck((0, 1), [{(0, 1): "k"}])) == ["k"]  # a tuple is one key
    assert list(q.pluck(type("Indices", (list,), {})([1, 0]), ["ab"])) == [("b", "a")]
    assert list(q.pluck([], [(1,), (2,)])) == [(), ()]
    assert type(q.pluck(0, [], None)) is q.RustIter and type(q.pluck([0], [])) is q.RustIter
    rows = [(1, 2, 3), [4, 5, 6], "789", range(10, 13)]
    assert list(q.pluck(-1, rows)) == [3, 6, "9", 12]
    assert list(q.pluck(1, rows)) == list(q.pluck(True, rows)) == [2, 5, "8", 11]
    for ind in ([-1, True, 0], [2, -3], [1, 1]):
        assert list(q.pluck(ind, rows)) == [tuple(r[i] for i in ind) for r in rows]
    assert list(q.pluck(slice(1, None), [(1, 2, 3)])) == [(2, 3)]
    row = type("Row", (tuple,), {"__getitem__": lambda self, i: "own"})((1,))
    assert list(q.pluck(0, [row])) == ["own"]
    for bad in (3, -4, 2**70):
        for ind, row in ((bad, (1, 2, 3)), ([0, bad], [1, 2, 3])):
            raises(IndexError, lambda: next(q.pluck(ind, [row])))
    assert list(q.pluck(2**70, [[1]], "d")) == ["d"]


def test_pluck_lookup_errors_and_defaults():
    raises(KeyError, lambda: list(q.pluck("a", [{"a": 1}, {"b": 2}])))
    assert list(q.pluck(5, [[1], (1, 2)], 0)) == [0, 0]
    assert list(q.pluck("x", [[1]], 0)) == [0]  # TypeError counts as a lookup error

    missing = type("Missing", (KeyError,), {})

    class Odd:
        def __getitem__(self, i):  # a LookupError is neither an IndexError nor a KeyError
            raise {0: ZeroDivisionError, 5: IndexError, 7: missing}.get(i, LookupError)

    for ind, exc in ((0, ZeroDivisionError), ([1], LookupError), ([5, 0], ZeroDivisionError)):
        raises(exc, lambda: next(q.pluck(ind, [Odd()], None)))  # [5, 0]: after the default stood in for 5
    assert next(q.pluck([5, 7], [Odd()], None)) == (None, None)
    # A failed lookup costs its element only.
    for ind, rows, expected in ((0, [[1], [], [3]], [1, IndexError, 3]),
                                ([0, 1], [(1, 2), (3,), (4, 5)], [(1, 2), IndexError, (4, 5)])):
        assert drain(q.pluck(ind, rows)) == expected


def test_pluck_arguments_and_laziness():
    for seq in ([], 5):  # the count is checked before anything else
        raises(TypeError, lambda: q.pluck(0, seq, 1, 2), r"^pluck takes at most 3 arguments$")
    for args in ((0, 5), (0, 5, None)):
        raises(TypeError, lambda: q.pluck(*args))
    srcs = [Source([[1]]) for _ in range(3)]
    its = [q.pluck(0, srcs[0]), q.pluck(0, srcs[1], 9), q.pluck([0], srcs[2])]
    assert [s.taken for s in srcs] == [0, 0, 0] and [list(it) for it in its] == [[1], [1], [(1,)]]


def test_pluck_index_list_changing_during_the_lookups():
    indices = [0, 1, 2]
    shrinker = type("Shrinker", (), {"__getitem__": lambda self, i: indices.clear() or i})()
    assert next(q.pluck(indices, [shrinker])) == (0,)  # the walk stops at the new length
    indices = [0, 1]
    grower = type("Grower", (), {"__getitem__": lambda self, i: indices.append(9) or i})()
    assert next(q.pluck(indices, [grower])) == (0, 1)  # never past the length it began with


@given(st.lists(st.lists(st.integers(0, 5), max_size=4), max_size=20), st.integers(-5, 5))
def test_pluck_matches_the_model(rows, i):
    def get(r, j):
        return r[j] if -len(r) <= j < len(r) else "d"

    assert list(q.pluck(i, rows, "d")) == [get(r, i) for r in rows]
    assert list(q.pluck([i, 0], rows, "d")) == [(get(r, i), get(r, 0)) for r in rows]
    if all(-len(r) <= i < len(r) for r in rows):
        assert list(q.pluck(i, rows)) == list(q.pluck(i, map(tuple, rows))) == [r[i] for r in rows]
