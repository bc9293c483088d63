"""first, second, nth, last, get, peek, count, and the option-returning first_opt,
last_opt, nth_opt, peek_opt, get_opt and get_in_opt."""

import collections.abc
import itertools

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from quibra._quibra import Nothing, Some
from tests.helpers import Boom, Source, boom, is_fresh_nothing, raises, raising, then_raise


class NoIndexing(list):
    def __getitem__(self, i):
        raise AssertionError("indexed")


def lookup(exc):
    """A collection whose every lookup raises exc."""
    return type("Lookup", (), {"__getitem__": raising(exc)})()


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
    # with how far each reads: a failure while skipping is an error, not a shorter sequence
    for call, reach in ((q.first, 0), (q.second, 1), (lambda s: q.nth(1, s), 1), (q.last, 2), (q.count, 2), (q.peek, 0),
                        (q.first_opt, 0), (q.last_opt, 2), (q.peek_opt, 0), (lambda s: q.nth_opt(2, s), 2)):
        for before in range(reach + 1):
            assert raises(Boom, lambda: call(then_raise(range(before), err))) is err
        raises(TypeError, lambda: call(5))


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
    raises(ValueError, lambda: q.get(1, lookup(ValueError()), "default"))  # only Key/Index/TypeError give the default
    # the argument count is checked before any lookup
    raises(TypeError, lambda: q.get(1, lookup(ValueError()), "a", "b"), "^get takes at most 3 arguments$")


def test_get_list_of_indices_that_shrinks_during_the_walk():
    ind = [0, 1, 2, 3]

    class Shrinker:
        def __getitem__(self, k):
            if k == 1:
                del ind[2:]
            return k

    assert q.get(ind, Shrinker()) == (0, 1)


def test_peek_shares_the_iterator():
    for peek in (q.peek, lambda s: q.peek_opt(s).value):
        head, rest = peek(it := iter([1, 2, 3]))
        assert (head, list(rest), list(it)) == (1, [1, 2, 3], [])
        head, rest = peek([1, 2])
        assert (head, list(rest)) == (1, [1, 2])
    assert is_fresh_nothing(q.peek_opt([]))


def test_count_uses_len_without_iterating():
    class Both:
        def __len__(self):
            return 7

        def __iter__(self):
            raise AssertionError("iterated")

    assert (q.count(Both()), q.count([1, 2, 3]), q.count(x for x in "ab")) == (7, 3, 2)
    raises(Boom, lambda: q.count(type("BadLen", (), {"__len__": boom})()))


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
    assert q.nth_opt(n, iter(xs)) == (Some(xs[n]) if n < len(xs) else Nothing)
    assert q.first_opt(xs) == (Some(xs[0]) if xs else Nothing)
    assert q.last_opt(iter(xs)) == (Some(xs[-1]) if xs else Nothing)


def test_option_accessors_walk_the_iterator():
    assert is_fresh_nothing(q.first_opt([])) and is_fresh_nothing(q.last_opt(iter([])))
    assert q.first_opt([None]) == Some(None) and q.first_opt(itertools.count()) == Some(0)
    assert q.last_opt(NoIndexing([4, 5])) == Some(5)
    assert q.nth_opt(True, "abc") == Some("b") and q.nth_opt(n=2, seq=NoIndexing("xyz")) == Some("z")
    assert is_fresh_nothing(q.nth_opt(3, "abc")) and is_fresh_nothing(q.nth_opt(2**64 - 1, "abc"))
    it = iter(range(10))
    assert q.nth_opt(2, it) == Some(2) and next(it) == 3  # exactly n + 1 fetched
    assert q.last_opt(it) == Some(9) and next(it, "done") == "done"


@pytest.mark.parametrize("n, exc", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError)])
def test_nth_opt_rejects_bad_counts_before_touching_seq(n, exc):
    seq = iter("abc")
    assert raises(exc, lambda: q.nth_opt(n, seq)).__notes__ == ["while processing 'n'"] and next(seq) == "a"


def test_get_opt_and_get_in_opt():
    data = {"a": [10, {"b": None}]}
    assert q.get_opt("a", data).value is data["a"] and q.get_opt(slice(1, None), [1, 2]) == Some([2])
    assert q.get_in_opt(data, "a", 1, "b") == Some(None) and q.get_in_opt(data).value is data
    for ind, coll in [("b", {"a": 1}), (5, [1]), ("x", 5), ([0, 1], [1, 2]), ([0], {0: 1})]:
        assert is_fresh_nothing(q.get_opt(ind, coll))
    for keys in [("a", 5), ("x",), ("a", 0, "deeper"), ("a", "0")]:
        assert is_fresh_nothing(q.get_in_opt(data, *keys))
    for exc in (KeyError, IndexError, TypeError, type("MyKeyError", (KeyError,), {})):
        assert is_fresh_nothing(q.get_opt(0, lookup(exc())))
        assert is_fresh_nothing(q.get_in_opt({"a": lookup(exc())}, "a", 1))
    for exc in (ValueError(), LookupError(), Boom()):
        for call in (lambda: q.get_opt(0, lookup(exc)), lambda: q.get_in_opt({"a": lookup(exc)}, "a", 1)):
            assert raises(type(exc), call) is exc
