"""first, second, nth, last, get, peek, count."""

import collections.abc

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from tests.helpers import Boom, Source, boom, raises


def test_picking_elements():
    assert (q.first("abc"), q.second(iter([1, 2, 3])), q.first([None])) == ("a", 2, None)
    assert (q.nth(1, "abc"), q.nth(1, range(10)), q.nth(2, (x for x in "xyz"))) == ("b", 1, "z")
    assert q.nth(-1, [1, 2, 3]) == q.nth(-1, (1, 2, 3)) == 3
    assert (q.last("abc"), q.last({"a": 1, "b": 2}), q.last(x for x in [1, 2])) == ("c", "b", 2)


@pytest.mark.parametrize("call", [
    lambda: q.first([]), lambda: q.second([1]), lambda: q.nth(5, iter([1, 2])), lambda: q.peek([]),
])
def test_running_out_is_a_bare_stop_iteration(call):
    assert raises(StopIteration, call).args == ()


def test_nth_iterator_path_rejects_bad_indices_before_touching_seq():
    msg = r"Indices for islice\(\) must be None or an integer: 0 <= x <= sys.maxsize."
    for n in (-1, "1", 1.5, 2**70):
        src = Source([1])
        raises(ValueError, lambda: q.nth(n, src), msg)
        assert src.taken == 0


def test_nth_indexes_sequences_directly():
    raises(IndexError, lambda: q.nth(9, [1]))

    class Seq(collections.abc.Sequence):
        __len__ = lambda self: 3  # noqa: E731
        __getitem__ = lambda self, i: [0, 10, 20][i]  # noqa: E731

    class ListSub(list):
        def __iter__(self):
            raise AssertionError("indexed, never iterated")

    assert (q.nth(2, Seq()), q.nth(1, ListSub([5, 6]))) == (20, 6)


def test_errors_from_the_source_pass_through_unchanged():
    err = Boom()

    def gen(before=0):
        yield from range(before)
        raise err

    for call in (q.first, q.second, lambda s: q.nth(1, s), q.last, q.count, q.peek):
        assert raises(Boom, lambda: call(gen())) is err
    raises(Boom, lambda: q.second(gen(1)))


def test_last_falls_back_to_iteration_only_for_type_and_key_errors():
    assert q.last(range(5)) == 4
    for empty in ([], iter([])):
        raises(IndexError, lambda: q.last(empty))
    raises(ValueError, lambda: q.last(type("BadSlice", (), {"__getitem__": lambda s, k: int("no")})()), "no")


def test_get():
    assert (q.get(5, [1, 2], "d"), q.get("k", {}, None), q.get(0, 5, "d")) == ("d", None, "d")
    assert q.get([0, 2], "abc") == ("a", "c") and q.get([0, 9], "abc", None) == ("a", None)
    assert q.get((0, 1), {(0, 1): "x"}) == "x" and q.get([], "abc") == ()
    raises(KeyError, lambda: q.get("k", {}))
    raises(IndexError, lambda: q.get([0, 9], "abc"))

    class Lookup:
        def __getitem__(self, k):
            if k == "loud":
                raise AssertionError("looked up")
            raise ValueError(k)

    raises(ValueError, lambda: q.get(1, Lookup(), "default"))  # only Key/Index/TypeError become the default
    raises(TypeError, lambda: q.get("loud", Lookup(), "a", "b"), "^get takes at most 3 arguments$")


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
    assert (head, list(rest), list(it)) == (1, [1, 2, 3], [])


def test_count_uses_len_without_iterating():
    class Both:
        def __len__(self):
            return 7

        def __iter__(self):
            raise AssertionError("iterated")

    assert (q.count(Both()), q.count([1, 2, 3]), q.count(x for x in "ab")) == (7, 3, 2)
    raises(Boom, lambda: q.count(type("BadLen", (), {"__len__": boom})()))
    raises(TypeError, lambda: q.count(5))


def test_count_drives_python_level_iterators():
    class Countdown:
        def __init__(self, n):
            self.n = n

        def __iter__(self):
            return self

        def __next__(self):
            self.n -= 1
            if self.n < 0:
                raise StopIteration(None)  # a value in it changes nothing
            if self.n == 3:
                type(self).__next__ = lambda s: next(iter([]))  # ends at once from here on
            return self.n

    assert q.count(Countdown(2)) == 2 and q.count(Countdown(10)) == 7


@given(st.lists(st.integers(), max_size=30), st.integers(0, 35))
def test_iterator_paths_match_a_list_model(xs, n):
    if n < len(xs):
        assert q.nth(n, iter(xs)) == xs[n]
    else:
        raises(StopIteration, lambda: q.nth(n, iter(xs)))
    assert q.count(iter(xs)) == len(xs)
    if xs:
        assert q.last(iter(xs)) == xs[-1]
