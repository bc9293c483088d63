"""curry and the curried flip."""

import inspect
import threading
import time

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


def triple(a, b, c=3):
    return (a, b, c)


class Counted:
    """A callable counting its signature lookups (inspect.signature reads
    __signature__ once per call)."""

    def __init__(self, fail_first=None, refuse=False, delay=0.0):
        self.lookups, self.fail_first, self.refuse, self.delay = 0, fail_first, refuse, delay

    def __call__(self, a, b, c=3):
        return (a, b, c)

    @property
    def __signature__(self):
        self.lookups += 1
        time.sleep(self.delay)
        if self.refuse:
            raise ValueError("no signature")
        if self.fail_first is not None and self.lookups == 1:
            raise self.fail_first("flaky")  # fresh each time: a stored one would tie a cycle
        return inspect.signature(triple)


def test_partial_complete_and_unusable_arguments():
    c = q.curry(triple)
    assert type(c(1)) is q.curry and type(c()) is q.curry and c() is not c
    assert c(1)(2) == c(1, 2) == c()(b=2)(1) == q.curry(func=triple, a=1)(b=2) == (1, 2, 3)
    with pytest.raises(TypeError, match=r"triple\(\) takes from 2 to 3 positional arguments but 4 were given"):
        c(1, 2, 3, 4)
    with pytest.raises(TypeError, match="unexpected keyword argument 'z'"):
        c(1, z=2)

    def picky(a):
        raise TypeError("picky")

    with pytest.raises(TypeError, match="picky"):  # never mistaken for missing arguments
        q.curry(picky)(1)


def test_keywords_accumulate_without_touching_earlier_instances():
    c = q.curry(triple, c=0)
    assert c(c=9)(1, 2) == (1, 2, 9)
    e = c(1)
    assert e(2, c=5) == (1, 2, 5)
    assert e(2) == c(1, 2) == (1, 2, 0)


def test_callables_without_signature_are_called_at_once():
    assert q.curry(max)([3, 1]) == 3
    refusing = Counted(refuse=True)
    c = q.curry(refusing)
    with pytest.raises(TypeError):
        c(1)
    assert c(1, 2) == (1, 2, 3)
    assert refusing.lookups == 1


def test_signature_is_computed_once_per_chain_and_retried_after_other_errors():
    f = Counted()
    c = q.curry(f)
    assert c(1)(2) == c()(b=2)(1) == (1, 2, 3) and c(1, 2, 4) == (1, 2, 4)
    assert f.lookups == 1
    q.curry(f)(1)
    assert f.lookups == 2

    flaky = Counted(fail_first=RuntimeError)
    c = q.curry(flaky)
    with pytest.raises(RuntimeError, match="flaky"):
        c(1)
    assert type(c(1)) is q.curry and flaky.lookups == 2


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
    assert results == [(1, 2, 3)] * 6 and f.lookups == 1


@given(st.lists(st.integers(0, 1), max_size=4))
def test_any_split_of_the_arguments_gives_the_same_result(cuts):
    c, start = q.curry(triple), 0
    for cut in sorted(cuts):
        c, start = c(*[10, 20][start:cut]), max(start, cut)
    assert c(*[10, 20][start:]) == (10, 20, 3)


def test_class_properties_and_flip():
    c = q.curry(triple)
    with pytest.raises(AttributeError):
        c.x = 1
    with pytest.raises(TypeError):
        type("Sub", (q.curry,), {})
    holder = type("Holder", (), {"method": c})()
    assert holder.method(1, 2) == (1, 2, 3)  # no binding of the instance
    assert q.curry.__text_signature__ == "(func, *args, **kwargs)" and q.curry.__doc__ is None

    assert type(q.flip) is q.curry and type(q.flip(pow)) is q.curry and type(q.flip(pow, 2)) is q.curry
    assert q.flip(pow)(2)(3) == q.flip(pow, 2, 3) == 9
    with pytest.raises(TypeError, match=r"flip\(\) takes 3 positional arguments but 4 were given"):
        q.flip(pow, 1, 2, 3)
