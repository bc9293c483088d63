"""Option.of, Result.of and the option-returning accessors."""

import itertools
import sys

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from quibra._quibra import Err, Nothing, NothingType, Ok, Option, Result, Some


class Boom(Exception):
    pass


def is_fresh_nothing(x):
    return type(x) is NothingType and x is not Nothing


class Flaky:
    """An iterator over items that raises Boom at the given fetches and goes on afterwards."""

    def __init__(self, items, fail_at):
        self.items, self.fail_at, self.fetch = list(items), set(fail_at), 0

    def __iter__(self):
        return self

    def __next__(self):
        self.fetch += 1
        if self.fetch - 1 in self.fail_at:
            raise Boom
        if not self.items:
            raise StopIteration
        return self.items.pop(0)


class NoIndexing(list):
    """A list that must be walked, never indexed or sliced."""

    def __getitem__(self, i):
        raise AssertionError("indexed")


class Lookup:
    """Raises the given exception from __getitem__."""

    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, key):
        raise self.exc


def test_factories():
    assert is_fresh_nothing(Option.of(None))
    assert all(Option.of(v).value is v for v in (0, "", [], Nothing))
    assert Result.of(lambda: None) == Ok(None)
    err = Result.of(lambda: 1 / 0)
    assert type(err.error) is ZeroDivisionError and err.error.__traceback__ is not None
    assert type(Result.of(5).error) is TypeError  # not callable
    for exc in (SystemExit, KeyboardInterrupt, GeneratorExit):
        with pytest.raises(exc):
            Result.of(lambda: (_ for _ in ()).throw(exc))
    with pytest.raises(SystemExit):
        Result.of(lambda: sys.exit(1))
    for cls in (Option, Result):
        assert cls.__doc__ is None
        with pytest.raises(TypeError):
            cls()


def test_first_last_nth_walk_the_iterator():
    assert is_fresh_nothing(q.first_opt([])) and is_fresh_nothing(q.last_opt(iter([])))
    assert q.first_opt([None]) == Some(None) and q.first_opt(itertools.count()) == Some(0)
    assert q.last_opt(NoIndexing([4, 5])) == Some(5)
    assert q.nth_opt(True, "abc") == Some("b") and q.nth_opt(n=2, seq=NoIndexing("xyz")) == Some("z")
    assert is_fresh_nothing(q.nth_opt(3, "abc")) and is_fresh_nothing(q.nth_opt(2**64 - 1, "abc"))
    it = iter(range(10))
    assert q.nth_opt(2, it) == Some(2) and next(it) == 3  # exactly n + 1 fetched
    assert q.last_opt(it) == Some(9) and next(it, "done") == "done"


@given(st.lists(st.integers(), max_size=8), st.integers(0, 10))
def test_accessors_match_a_plain_model(xs, n):
    assert q.nth_opt(n, iter(xs)) == (Some(xs[n]) if n < len(xs) else Nothing)
    assert q.first_opt(xs) == (Some(xs[0]) if xs else Nothing)
    assert q.last_opt(iter(xs)) == (Some(xs[-1]) if xs else Nothing)


@pytest.mark.parametrize("n, exc", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError)])
def test_nth_opt_rejects_bad_counts_before_touching_seq(n, exc):
    seq = Flaky("abc", {0})
    with pytest.raises(exc) as info:
        q.nth_opt(n, seq)
    assert info.value.__notes__ == ["while processing 'n'"] and seq.fetch == 0


def test_iteration_errors_propagate():
    # A failure while skipping is an error, not a shorter sequence.
    for fail_at in ({0}, {1}, {2}):
        with pytest.raises(Boom):
            q.nth_opt(2, Flaky("abc", fail_at))
        with pytest.raises(Boom):
            q.last_opt(Flaky("abc", fail_at))
    for fn in (q.first_opt, q.last_opt, q.peek_opt, lambda s: q.nth_opt(0, s)):
        with pytest.raises(Boom):
            fn(Flaky("abc", {0}))
        with pytest.raises(TypeError):
            fn(5)


def test_get_opt_and_get_in_opt():
    data = {"a": [10, {"b": None}]}
    assert q.get_opt("a", data).value is data["a"] and q.get_opt(slice(1, None), [1, 2]) == Some([2])
    assert q.get_in_opt(data, "a", 1, "b") == Some(None) and q.get_in_opt(data).value is data
    for ind, coll in [("b", {"a": 1}), (5, [1]), ("x", 5), ([0, 1], [1, 2]), ([0], {0: 1})]:
        assert is_fresh_nothing(q.get_opt(ind, coll))
    for keys in [("a", 5), ("x",), ("a", 0, "deeper"), ("a", "0")]:
        assert is_fresh_nothing(q.get_in_opt(data, *keys))

    class MyKeyError(KeyError):
        pass

    for exc in (KeyError, IndexError, TypeError, MyKeyError):
        assert is_fresh_nothing(q.get_opt(0, Lookup(exc())))
        assert is_fresh_nothing(q.get_in_opt({"a": Lookup(exc())}, "a", 1))
    for exc in (ValueError(), LookupError(), Boom()):
        with pytest.raises(type(exc)) as info:
            q.get_opt(0, Lookup(exc))
        assert info.value is exc
        with pytest.raises(type(exc)) as info:
            q.get_in_opt({"a": Lookup(exc)}, "a", 1)
        assert info.value is exc


def test_peek_opt_shares_the_iterator():
    first, rest = q.peek_opt([1, 2]).value
    assert (first, list(rest)) == (1, [1, 2])
    assert is_fresh_nothing(q.peek_opt([]))
    it = iter([1, 2, 3])
    first, rest = q.peek_opt(it).value
    assert (first, list(rest), next(it, "done")) == (1, [1, 2, 3], "done")
