"""curry and the curried flip."""

import inspect
import threading
import time

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


def pair(a, b):
    return (a, b)


def triple(a, b, c):
    return (a, b, c)


class Counted:
    """A callable whose signature lookups are counted (inspect reads
    __signature__ once per inspect.signature call)."""

    def __init__(self, fail_first=None, refuse=False, delay=0.0):
        self.lookups = 0
        self.fail_first = fail_first
        self.refuse = refuse
        self.delay = delay

    def __call__(self, a, b, c=3):
        return (a, b, c)

    @property
    def __signature__(self):
        self.lookups += 1
        time.sleep(self.delay)
        if self.refuse:
            raise ValueError("no signature")
        if self.fail_first is not None and self.lookups == 1:
            raise self.fail_first("flaky")  # a fresh exception: a stored one would tie a cycle
        return inspect.signature(lambda a, b, c=3: None)


def test_partial_and_complete_calls():
    c = q.curry(pair)
    assert type(c(1)) is q.curry
    assert c(1)(2) == c(1, 2) == (1, 2)
    assert c(b=2)(1) == (1, 2)
    again = c()
    assert type(again) is q.curry and again is not c
    assert again()(1)()(2) == (1, 2)
    assert q.curry(pair, 1)(2) == q.curry(func=pair)(1, 2) == (1, 2)


def test_arguments_that_cannot_fit_reach_the_function():
    with pytest.raises(TypeError, match=r"pair\(\) takes 2 positional arguments but 3 were given"):
        q.curry(pair)(1, 2, 3)
    with pytest.raises(TypeError, match="unexpected keyword argument 'z'"):
        q.curry(pair)(1, z=2)


def test_type_error_from_the_function_is_not_taken_for_missing_arguments():
    def picky(a):
        raise TypeError("picky")

    with pytest.raises(TypeError, match="picky"):
        q.curry(picky)(1)


def test_keywords_accumulate_without_touching_earlier_instances():
    c = q.curry(triple, c=0)
    d = c(c=9)
    assert d(1, 2) == (1, 2, 9)
    assert c(1, 2) == (1, 2, 0)
    e = c(1)
    assert e(2, c=5) == (1, 2, 5)
    assert e(2) == (1, 2, 0)


def test_callables_without_signature_are_called_at_once():
    assert q.curry(max)([3, 1]) == 3
    with pytest.raises(TypeError):
        q.curry(max)(1)
    refusing = Counted(refuse=True)
    c = q.curry(refusing)
    with pytest.raises(TypeError):
        c(1)
    assert c(1, 2) == (1, 2, 3)
    assert refusing.lookups == 1  # "unavailable" is remembered


def test_signature_is_computed_once_per_chain():
    f = Counted()
    c = q.curry(f)
    assert c(1)(2) == (1, 2, 3)
    assert c(1, 2, 4) == (1, 2, 4)
    assert c()(b=2)(1) == (1, 2, 3)
    assert f.lookups == 1
    q.curry(f)(1)
    assert f.lookups == 2


def test_unexpected_signature_error_propagates_and_is_retried():
    f = Counted(fail_first=RuntimeError)
    c = q.curry(f)
    with pytest.raises(RuntimeError, match="flaky"):
        c(1)
    assert type(c(1)) is q.curry
    assert f.lookups == 2


def test_bind_errors_other_than_type_error_propagate():
    class Strict(inspect.Signature):
        def bind(self, *args, **kwargs):
            raise LookupError("bind")

    def f(a):
        return a

    f.__signature__ = Strict([inspect.Parameter("a", inspect.Parameter.POSITIONAL_OR_KEYWORD)])
    with pytest.raises(LookupError, match="bind"):
        q.curry(f)(1)


def test_concurrent_first_calls_compute_the_signature_once():
    f = Counted(delay=0.05)
    c = q.curry(f)
    results = []
    threads = [threading.Thread(target=lambda: results.append(c(1, 2))) for _ in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [(1, 2, 3)] * 6
    assert f.lookups == 1


@given(st.lists(st.integers(0, 2), max_size=4))
def test_any_split_of_the_arguments_gives_the_same_result(cuts):
    args = [10, 20, 30]
    c = q.curry(triple)
    start = 0
    for cut in sorted(cuts):
        c = c(*args[start:cut])
        start = max(start, cut)
    assert c(*args[start:]) == (10, 20, 30)


def test_class_properties():
    c = q.curry(pair)
    with pytest.raises(AttributeError):
        c.x = 1
    with pytest.raises(TypeError):
        class Sub(q.curry):
            pass

    class Holder:
        method = q.curry(pair)

    assert Holder().method(1, 2) == (1, 2)  # no binding of the instance
    assert q.curry.__text_signature__ == "(func, *args, **kwargs)"
    assert q.curry.__doc__ is None
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'func'"):
        q.curry()


def test_flip_is_curried():
    assert type(q.flip) is q.curry
    assert type(q.flip(pow)) is q.curry and type(q.flip(pow, 2)) is q.curry
    assert q.flip(pow)(2)(3) == q.flip(pow, 2, 3) == 9
    assert q.flip(pair, "a", "b") == ("b", "a")
    with pytest.raises(TypeError, match=r"flip\(\) takes 3 positional arguments but 4 were given"):
        q.flip(pow, 1, 2, 3)
