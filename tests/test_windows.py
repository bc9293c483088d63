"""interpose, sliding_window, partition_all, partition."""

import operator

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


class Counting:
    """Iterates items, counting how many were taken; raises at chosen positions once."""

    def __init__(self, items, fail_at=()):
        self.items = list(items)
        self.taken = 0
        self.fail_at = set(fail_at)

    def __iter__(self):
        return self

    def __next__(self):
        if self.taken in self.fail_at:
            self.fail_at.discard(self.taken)
            raise Boom
        if self.taken >= len(self.items):
            raise StopIteration
        self.taken += 1
        return self.items[self.taken - 1]


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


# ---- interpose ---------------------------------------------------------------------


def test_interpose_results_and_eagerness():
    assert list(q.interpose(0, [1, 2, 3])) == [1, 0, 2, 0, 3]
    assert list(q.interpose(0, [5])) == [5]
    assert list(q.interpose("-", "abc")) == ["a", "-", "b", "-", "c"]
    src = Counting([1, 2, 3])
    it = q.interpose(0, src)
    assert src.taken == 1  # the first element is read by the call
    assert next(it) == 1 and src.taken == 1
    assert next(it) == 0 and src.taken == 2  # the next element is in hand before its separator
    sep = object()
    assert [x is sep for x in q.interpose(sep, [1, 2])] == [False, True, False]


def test_interpose_errors():
    with pytest.raises(StopIteration) as info:
        q.interpose(0, [])
    assert info.value.args == ()
    with pytest.raises(Boom):
        q.interpose(0, Counting([1], fail_at={0}))
    with pytest.raises(TypeError):
        q.interpose(0, 3)
    it = q.interpose(0, Counting([1, 2, 3], fail_at={1}))
    assert next(it) == 1
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [0, 2, 0, 3]


def test_interpose_hints():
    it = q.interpose(0, [1, 2, 3])
    assert operator.length_hint(it) == 5
    assert operator.length_hint(q.interpose(0, (x for x in range(5)))) == 1
    it = q.interpose(0, iter([1, 2, 3]))
    assert operator.length_hint(it) == 5  # 2h + 1 with two left and one pending


# ---- sliding_window ----------------------------------------------------------------


def test_sliding_window_results():
    assert list(q.sliding_window(2, [1, 2, 3, 4])) == [(1, 2), (2, 3), (3, 4)]
    assert list(q.sliding_window(1, [7, 8])) == [(7,), (8,)]
    assert list(q.sliding_window(5, [1, 2, 3])) == []
    assert list(q.sliding_window(3, iter("abcd"))) == [("a", "b", "c"), ("b", "c", "d")]
    assert list(q.sliding_window(Index(2), [1, 2, 3])) == [(1, 2), (2, 3)]
    assert list(q.sliding_window(True, [1, 2])) == [(1,), (2,)]
    windows = list(q.sliding_window(2, [1, 2, 3]))
    assert windows[0] is not windows[1]


def test_sliding_window_sizes_and_arguments():
    assert list(q.sliding_window(0, 42)) == []  # not even iterated
    assert type(q.sliding_window(0, 42)) is q.RustIter
    with pytest.raises(ValueError, match=r"^n must be >= 0$"):
        q.sliding_window(-1, [])
    with pytest.raises(TypeError) as info:
        q.sliding_window("2", [])
    assert info.value.__notes__ == ["while processing 'n'"]
    with pytest.raises(OverflowError) as info:
        q.sliding_window(2**70, [])
    assert info.value.__notes__ == ["while processing 'n'"]
    with pytest.raises(TypeError):
        q.sliding_window(2, None)
    # A huge n reserves nothing up front.
    assert list(q.sliding_window(2**62, [1, 2, 3])) == []


def test_sliding_window_reads_n_minus_1_at_call():
    src = Counting(range(10))
    it = q.sliding_window(4, src)
    assert src.taken == 3
    assert next(it) == (0, 1, 2, 3) and src.taken == 4
    with pytest.raises(Boom):
        q.sliding_window(3, Counting(range(5), fail_at={1}))
    it = q.sliding_window(2, Counting(range(5), fail_at={3}))
    assert next(it) == (0, 1) and next(it) == (1, 2)
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [(2, 3), (3, 4)]


def test_sliding_window_that_never_primed_stays_ended():
    src = Counting([1])
    it = q.sliding_window(3, src)
    assert operator.length_hint(it) == 0
    src.items.extend([2, 3, 4])
    assert list(it) == []
    assert list(it) == []


def test_sliding_window_hints():
    it = q.sliding_window(2, [1, 2, 3, 4])
    assert operator.length_hint(it) == 3
    next(it)
    assert operator.length_hint(it) == 2
    list(it)
    assert operator.length_hint(it) == 0
    assert operator.length_hint(q.sliding_window(5, [1, 2, 3])) == 0


# ---- partition_all, partition ------------------------------------------------------


def test_partitions():
    assert list(q.partition_all(2, [1, 2, 3])) == [(1, 2), (3,)]
    assert list(q.partition_all(3, range(6))) == [(0, 1, 2), (3, 4, 5)]
    assert list(q.partition(2, [1, 2, 3])) == [(1, 2)]
    assert list(q.partition(2, [1, 2, 3], None)) == [(1, 2), (3, None)]
    assert list(q.partition(4, [1], "x")) == [(1, "x", "x", "x")]
    assert list(q.partition(2, [], "x")) == []
    assert list(q.partition_all(Index(2), "abc")) == [("a", "b"), ("c",)]
    for n in (0, -3):
        assert list(q.partition_all(n, 42)) == []
        assert list(q.partition(n, 42, None)) == []
    assert type(q.partition_all(2, [])) is q.RustIter


def test_partition_arguments():
    with pytest.raises(TypeError, match=r"^partition takes at most 3 arguments$"):
        q.partition(2, [1], 0, 0)
    with pytest.raises(TypeError):
        q.partition(2, [1], pad=0)
    with pytest.raises(TypeError) as info:
        q.partition_all(None, [1])
    assert info.value.__notes__ == ["while processing 'n'"]
    with pytest.raises(TypeError):
        q.partition_all(2, 5)


def test_partitions_are_lazy_and_lose_a_chunk_on_error():
    src = Counting(range(7), fail_at={3})
    it = q.partition_all(2, src)
    assert src.taken == 0
    assert next(it) == (0, 1)
    with pytest.raises(Boom):
        next(it)  # 2 was collected and is lost
    assert list(it) == [(3, 4), (5, 6)]
    # No end flag: a resumed source is read again.
    src.items.append(7)
    assert list(it) == [(7,)]


def test_large_chunks_grow_past_the_reservation():
    xs = list(range(10000))
    assert list(q.partition_all(5000, xs)) == [tuple(xs[:5000]), tuple(xs[5000:])]
    assert list(q.partition_all(6000, xs)) == [tuple(xs[:6000]), tuple(xs[6000:])]
    assert list(q.partition(7000, xs, 0)) == [tuple(xs[:7000]), tuple(xs[7000:]) + (0,) * 4000]
    assert list(q.partition_all(2**62, [1, 2])) == [(1, 2)]


# ---- models ------------------------------------------------------------------------

small_lists = st.lists(st.integers(0, 9), max_size=30)


@given(small_lists, st.integers(1, 8))
def test_windows_match_models(xs, n):
    assert list(q.sliding_window(n, xs)) == [tuple(xs[i:i + n]) for i in range(len(xs) - n + 1)]
    chunks = [tuple(xs[i:i + n]) for i in range(0, len(xs), n)]
    assert list(q.partition_all(n, iter(xs))) == chunks
    assert list(q.partition(n, xs)) == [c for c in chunks if len(c) == n]
    assert list(q.partition(n, xs, -1)) == [c + (-1,) * (n - len(c)) for c in chunks]
    if xs:
        expected = [y for x in xs for y in (0, x)][1:]
        assert list(q.interpose(0, iter(xs))) == expected
        assert operator.length_hint(q.interpose(0, xs)) == len(expected)
