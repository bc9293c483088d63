"""pluck: seq[ind] per element, with a default or a list of indices."""

import operator

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


def test_forms():
    it = q.pluck(0, [[1, 2], [3, 4]])
    assert type(it).__name__ == "PluckIter"
    assert list(it) == [1, 3]
    assert list(q.pluck("a", [{"a": 1}, {"b": 2}], None)) == [1, None]
    assert list(q.pluck([0, 1], [(1, 2, 3), (4, 5, 6)])) == [(1, 2), (4, 5)]
    assert list(q.pluck((0, 1), [{(0, 1): "k"}])) == ["k"]
    assert list(q.pluck([0, 5], [(1, 2)], "x")) == [(1, "x")]
    assert list(q.pluck([], [(1,), (2,)])) == [(), ()]
    assert type(q.pluck(0, [], None)) is q.RustIter
    assert type(q.pluck([0], [])) is q.RustIter

    class Indices(list):
        pass

    assert list(q.pluck(Indices([1, 0]), ["ab"])) == [("b", "a")]


def test_positions_on_tuples_lists_and_others():
    rows = [(1, 2, 3), [4, 5, 6], "789", range(10, 13)]
    assert list(q.pluck(-1, rows)) == [3, 6, "9", 12]
    assert list(q.pluck(1, rows)) == [2, 5, "8", 11]
    assert list(q.pluck(True, rows)) == [2, 5, "8", 11]
    assert list(q.pluck(slice(1, None), [(1, 2, 3)])) == [(2, 3)]

    class Row(tuple):
        def __getitem__(self, i):
            return "own"

    assert list(q.pluck(0, [Row((1,))])) == ["own"]
    for bad in (3, -4, 2**70):
        with pytest.raises(IndexError):
            next(q.pluck(bad, [(1, 2, 3)]))
    assert list(q.pluck(2**70, [[1]], "d")) == ["d"]


def test_lookup_errors_and_defaults():
    with pytest.raises(KeyError):
        list(q.pluck("a", [{"a": 1}, {"b": 2}]))
    assert list(q.pluck(5, [[1], (1, 2)], 0)) == [0, 0]
    assert list(q.pluck("x", [[1]], 0)) == [0]  # TypeError counts as a lookup error

    class Odd:
        def __getitem__(self, i):
            if i == 0:
                raise ZeroDivisionError
            if i == 5:
                raise IndexError
            raise LookupError  # neither IndexError nor KeyError

    with pytest.raises(ZeroDivisionError):
        next(q.pluck(0, [Odd()], None))
    with pytest.raises(LookupError):
        next(q.pluck([1], [Odd()], None))
    with pytest.raises(ZeroDivisionError):
        next(q.pluck([5, 0], [Odd()], None))  # after the default stood in for index 5
    assert next(q.pluck([5, 5], [Odd()], None)) == (None, None)

    class Missing(KeyError):
        pass

    class Table:
        def __getitem__(self, i):
            raise Missing(i)

    assert list(q.pluck([1, 2], [Table()], "-")) == [("-", "-")]


def test_arguments_and_laziness():
    with pytest.raises(TypeError, match=r"^pluck takes at most 3 arguments$"):
        q.pluck(0, [], 1, 2)
    with pytest.raises(TypeError, match=r"^pluck takes at most 3 arguments$"):
        q.pluck(0, 5, 1, 2)  # checked before anything else
    with pytest.raises(TypeError):
        q.pluck(0, 5)
    with pytest.raises(TypeError):
        q.pluck(0, 5, None)

    taken = []

    def gen():
        taken.append(1)
        yield [1]

    for it in (q.pluck(0, gen()), q.pluck(0, gen(), 9), q.pluck([0], gen())):
        assert taken == []
    assert list(q.pluck(0, gen())) == [1]


def test_usable_after_a_failed_lookup():
    it = q.pluck(0, [[1], [], [3]])
    assert next(it) == 1
    with pytest.raises(IndexError):
        next(it)
    assert list(it) == [3]
    it = q.pluck([0, 1], [(1, 2), (3,), (4, 5)])
    assert next(it) == (1, 2)
    with pytest.raises(IndexError):
        next(it)
    assert list(it) == [(4, 5)]


def test_index_list_shrinking_during_the_lookups():
    indices = [0, 1, 2]

    class Shrinker:
        def __getitem__(self, i):
            indices.clear()
            return i

    # The walk stops at the list's new length.
    assert next(q.pluck(indices, [Shrinker()])) == (0,)

    indices2 = [0, 1]

    class Grower:
        def __getitem__(self, i):
            indices2.append(9)
            return i

    # Never past the length the step began with.
    assert next(q.pluck(indices2, [Grower()])) == (0, 1)


def test_hints():
    it = q.pluck(0, [[1], [2], [3]])
    assert operator.length_hint(it) == 3
    next(it)
    assert operator.length_hint(it) == 2
    assert operator.length_hint(q.pluck(0, ([x] for x in range(3)))) == 0


@given(st.lists(st.lists(st.integers(0, 5), max_size=4), max_size=20), st.integers(-5, 5))
def test_matches_the_model(rows, i):
    def get(r, j, d=None, has_default=False):
        try:
            return r[j]
        except IndexError:
            if has_default:
                return d
            raise

    assert list(q.pluck(i, rows, "d")) == [get(r, i, "d", True) for r in rows]
    assert list(q.pluck([i, 0], rows, "d")) == [(get(r, i, "d", True), get(r, 0, "d", True)) for r in rows]
    if all(-len(r) <= i < len(r) for r in rows):
        assert list(q.pluck(i, rows)) == [r[i] for r in rows]
        assert list(q.pluck(i, map(tuple, rows))) == [r[i] for r in rows]
