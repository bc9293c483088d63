"""first, second, nth, last, get, peek, count."""

import collections.abc

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


def raising_iter(after):
    """Yields `after` elements, then raises Boom."""
    yield from range(after)
    raise Boom


def test_first_second_nth_on_iterables():
    assert q.first("abc") == "a"
    assert q.second(iter([1, 2, 3])) == 2
    assert q.nth(1, "abc") == "b"
    assert q.nth(1, range(10)) == 1
    assert q.nth(-1, [1, 2, 3]) == 3
    assert q.nth(-1, (1, 2, 3)) == 3
    assert q.nth(2, (x for x in "xyz")) == "z"
    assert q.first([None]) is None


@pytest.mark.parametrize("call", [
    lambda: q.first([]), lambda: q.second([1]), lambda: q.nth(5, iter([1, 2])),
    lambda: q.peek([]), lambda: q.first(iter([])),
])
def test_running_out_is_a_bare_stop_iteration(call):
    with pytest.raises(StopIteration) as info:
        call()
    assert info.value.args == ()


def test_nth_iterator_path_rejects_bad_indices_before_touching_seq():
    touched = []

    def gen():
        touched.append(1)
        yield 1

    msg = r"Indices for islice\(\) must be None or an integer: 0 <= x <= sys.maxsize."
    for n in (-1, "1", 1.5, 2**70):
        with pytest.raises(ValueError, match=msg):
            q.nth(n, gen())
    assert touched == []


def test_nth_sequence_paths():
    with pytest.raises(IndexError):
        q.nth(9, [1])
    with pytest.raises(TypeError):
        q.nth("1", [1, 2])  # list indices must be integers

    class Seq(collections.abc.Sequence):
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if isinstance(i, int) and 0 <= i < 3:
                return i * 10
            raise IndexError(i)

    assert q.nth(2, Seq()) == 20

    class ListSub(list):
        def __iter__(self):
            raise AssertionError("indexed, never iterated")

    assert q.nth(1, ListSub([5, 6])) == 6


def test_errors_from_the_source_pass_through_unchanged():
    err = Boom()

    def gen():
        raise err
        yield

    for call in (q.first, q.second, lambda s: q.nth(1, s), q.last, q.count, q.peek):
        with pytest.raises(Boom) as info:
            call(gen())
        assert info.value is err
    with pytest.raises(Boom):
        q.second(raising_iter(1))


def test_last():
    assert q.last("abc") == "c"
    assert q.last({"a": 1, "b": 2}) == "b"
    assert q.last(x for x in [1, 2]) == 2
    assert q.last(range(5)) == 4
    with pytest.raises(IndexError):
        q.last([])
    with pytest.raises(IndexError):
        q.last(iter([]))

    class BadSlice:
        def __getitem__(self, k):
            raise ValueError("no")

    with pytest.raises(ValueError, match="no"):
        q.last(BadSlice())


def test_get_single_and_list_forms():
    assert q.get(5, [1, 2], "d") == "d"
    assert q.get("k", {}, None) is None
    with pytest.raises(KeyError):
        q.get("k", {})
    assert q.get(0, 5, "d") == "d"
    assert q.get([0, 2], "abc") == ("a", "c")
    assert q.get([0, 9], "abc", None) == ("a", None)
    assert q.get((0, 1), {(0, 1): "x"}) == "x"
    assert q.get([], "abc") == ()
    with pytest.raises(IndexError):
        q.get([0, 9], "abc")

    class Lookup:
        def __getitem__(self, k):
            raise ValueError(k)

    with pytest.raises(ValueError):
        q.get(1, Lookup(), "default")  # only Key/Index/TypeError become the default


def test_get_rejects_two_defaults_before_looking_up():
    class Loud:
        def __getitem__(self, k):
            raise AssertionError("looked up")

    with pytest.raises(TypeError, match="^get takes at most 3 arguments$"):
        q.get(0, Loud(), "a", "b")


def test_get_list_of_indices_that_shrinks_during_the_walk():
    ind = [0, 1, 2, 3]

    class Shrinker:
        def __getitem__(self, k):
            if k == 1:
                del ind[2:]
            return k

    assert q.get(ind, Shrinker()) == (0, 1)


def test_peek_shares_the_iterator():
    it = iter([1, 2, 3])
    head, rest = q.peek(it)
    assert head == 1
    assert list(rest) == [1, 2, 3]
    assert list(it) == []


def test_count_uses_len_without_iterating():
    class Both:
        def __len__(self):
            return 7

        def __iter__(self):
            raise AssertionError("iterated")

    assert q.count(Both()) == 7
    assert q.count([1, 2, 3]) == 3
    assert q.count(x for x in "ab") == 2

    class BadLen:
        def __len__(self):
            raise Boom

    with pytest.raises(Boom):
        q.count(BadLen())
    with pytest.raises(TypeError):
        q.count(5)


@given(st.lists(st.integers(), max_size=30), st.integers(0, 35))
def test_iterator_paths_match_a_list_model(xs, n):
    def gen():
        yield from xs

    if n < len(xs):
        assert q.nth(n, gen()) == xs[n]
    else:
        with pytest.raises(StopIteration):
            q.nth(n, gen())
    assert q.count(gen()) == len(xs)
    if xs:
        assert q.last(gen()) == xs[-1]
