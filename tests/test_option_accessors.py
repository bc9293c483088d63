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
    """An iterator that raises Boom at the given fetches and goes on afterwards."""

    def __init__(self, items, fail_at):
        self.items, self.fail_at, self.fetch = list(items), set(fail_at), 0

    def __iter__(self):
        return self

    def __next__(self):
        i = self.fetch
        self.fetch += 1
        if i in self.fail_at:
            raise Boom(i)
        if not self.items:
            raise StopIteration
        return self.items.pop(0)


class NoIndexing(list):
    """A list that must be walked, never indexed or sliced."""

    def __getitem__(self, i):
        raise AssertionError("indexed")


# ---- factories -----------------------------------------------------------------

def test_option_of():
    empty = Option.of(None)
    assert empty == Nothing and is_fresh_nothing(empty)
    for v in (0, "", [], False, Nothing):
        got = Option.of(v)
        assert type(got) is Some and got.value is v
    assert Option.of(v=1) == Some(1)
    assert Option.of.__text_signature__ == "(v)" and Result.of.__text_signature__ == "(f)"


def test_result_of_captures_exceptions_only():
    assert Result.of(lambda: 1) == Ok(1)
    assert Result.of(lambda: None) == Ok(None)
    err = Result.of(lambda: 1 / 0)
    assert type(err) is Err and type(err.error) is ZeroDivisionError
    assert err.error.__traceback__ is not None
    assert type(Result.of(5).error) is TypeError  # not callable
    with pytest.raises(SystemExit):
        Result.of(lambda: sys.exit(1))

    def interrupt():
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        Result.of(interrupt)
    raised = Boom()
    assert Result.of(lambda: (_ for _ in ()).throw(raised)).error is raised


def test_factory_classes_cannot_be_instantiated():
    for cls in (Option, Result):
        with pytest.raises(TypeError):
            cls()
        assert cls.__doc__ is None


# ---- first_opt, last_opt, nth_opt ---------------------------------------------

def test_first_and_last():
    assert is_fresh_nothing(q.first_opt([]))
    assert q.first_opt([None]) == Some(None)
    assert q.first_opt(itertools.count()) == Some(0)
    assert is_fresh_nothing(q.last_opt(iter([])))
    it = iter([1, 2, 3])
    assert q.last_opt(it) == Some(3)
    assert next(it, "done") == "done"
    assert q.last_opt(NoIndexing([4, 5])) == Some(5)


def test_nth_opt_counts_through_the_iterator():
    assert q.nth_opt(0, "abc") == Some("a")
    assert q.nth_opt(True, "abc") == Some("b")
    assert q.nth_opt(n=2, seq=NoIndexing("xyz")) == Some("z")
    assert is_fresh_nothing(q.nth_opt(3, "abc"))
    assert is_fresh_nothing(q.nth_opt(2**64 - 1, "abc"))
    it = iter(range(10))
    assert q.nth_opt(2, it) == Some(2)
    assert next(it) == 3  # consumed exactly n + 1 elements


@pytest.mark.parametrize("n, exc", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError), ("1", TypeError)])
def test_nth_opt_rejects_bad_counts_before_touching_seq(n, exc):
    touched = []

    def gen():
        touched.append(1)
        yield 1

    with pytest.raises(exc) as info:
        q.nth_opt(n, gen())
    assert info.value.__notes__ == ["while processing 'n'"]
    assert touched == []


@given(st.lists(st.integers(), max_size=8), st.integers(0, 10))
def test_accessors_match_a_plain_model(xs, n):
    def model(i):
        return Some(xs[i]) if i < len(xs) else Nothing

    assert q.nth_opt(n, iter(xs)) == model(n)
    assert q.first_opt(xs) == model(0)
    assert q.last_opt(iter(xs)) == (Some(xs[-1]) if xs else Nothing)


def test_iteration_errors_propagate():
    # A failure while skipping is an error, not a shorter sequence.
    with pytest.raises(Boom):
        q.nth_opt(1, Flaky("abc", {0}))
    with pytest.raises(Boom):
        q.nth_opt(1, Flaky("abc", {1}))
    for fn in (q.first_opt, q.last_opt, q.peek_opt):
        with pytest.raises(Boom):
            fn(Flaky("abc", {0}))
    with pytest.raises(Boom):
        q.last_opt(Flaky("abc", {2}))
    for fn in (q.first_opt, q.last_opt, q.peek_opt, lambda s: q.nth_opt(0, s)):
        with pytest.raises(TypeError):
            fn(5)


# ---- get_opt, get_in_opt ----------------------------------------------------------

class Weird:
    """Raises what it is told to from __getitem__."""

    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, key):
        raise self.exc


class MyKeyError(KeyError):
    pass


def test_get_opt():
    assert q.get_opt("a", {"a": 1}) == Some(1)
    assert q.get_opt(slice(1, None), [1, 2]) == Some([2])
    assert q.get_opt(-1, [1, 2]) == Some(2)
    for ind, coll in [("b", {"a": 1}), (5, [1]), ("x", 5), ([0, 1], [1, 2]), ([0], {0: 1})]:
        assert is_fresh_nothing(q.get_opt(ind, coll))
    for exc in (KeyError, IndexError, TypeError, MyKeyError):
        assert is_fresh_nothing(q.get_opt(0, Weird(exc("x"))))
    for exc in (ValueError("x"), LookupError("x"), Boom()):
        with pytest.raises(type(exc)) as info:
            q.get_opt(0, Weird(exc))
        assert info.value is exc


def test_get_in_opt():
    data = {"a": [10, {"b": None}]}
    assert q.get_in_opt(data, "a", 0) == Some(10)
    assert q.get_in_opt(data, "a", 1, "b") == Some(None)
    assert q.get_in_opt(data).value is data
    assert q.get_in_opt.__text_signature__ == "(coll, *keys)"
    for keys in [("a", 5), ("x",), ("a", 0, "deeper"), ("a", "0")]:
        assert is_fresh_nothing(q.get_in_opt(data, *keys))
    raised = ValueError("v")
    with pytest.raises(ValueError) as info:
        q.get_in_opt({"a": Weird(raised)}, "a", 1)
    assert info.value is raised
    assert is_fresh_nothing(q.get_in_opt({"a": Weird(IndexError())}, "a", 1))


# ---- peek_opt --------------------------------------------------------------------

def test_peek_opt():
    got = q.peek_opt([1, 2])
    assert type(got) is Some
    first, rest = got.value
    assert first == 1 and list(rest) == [1, 2]
    assert is_fresh_nothing(q.peek_opt([]))
    it = iter([1, 2, 3])
    first, rest = q.peek_opt(it).value
    assert (first, list(rest)) == (1, [1, 2, 3])
    assert next(it, "done") == "done"
