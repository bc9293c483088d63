"""compose, compose_left, pipe, thread_first, thread_last and the small
adapters: identity, apply, do, complement, juxt, excepts."""

import functools
from operator import neg

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


def recorder(log, name):
    def f(*args, **kwargs):
        log.append((name, args, kwargs))
        return name
    return f


def boom(*args, **kwargs):
    raise Boom


STEPS = {"inc": lambda x: x + 1, "neg": neg, "abs": abs, "str_len": lambda x: len(str(x))}


@given(st.lists(st.sampled_from(sorted(STEPS)), min_size=1, max_size=6), st.integers(-50, 50))
def test_chains_match_a_plain_python_model(names, x):
    fs = [STEPS[n] for n in names]
    expected = functools.reduce(lambda v, f: f(v), fs, x)
    assert q.compose_left(*fs)(x) == q.compose(*reversed(fs))(x) == expected
    assert q.pipe(x, *fs) == q.thread_first(x, *fs) == q.thread_last(x, *fs) == expected


def test_call_order_keywords_and_short_circuit():
    log = []
    f, g = recorder(log, "f"), recorder(log, "g")
    assert q.compose(f, g)(1, k=2) == "f" and q.compose_left(f, g)(1, k=2) == "g"
    assert q.compose(f)(1, 2, k=3) == "f"
    assert log == [("g", (1,), {"k": 2}), ("f", ("g",), {}),
                   ("f", (1,), {"k": 2}), ("g", ("f",), {}), ("f", (1, 2), {"k": 3})]
    log.clear()
    for run in (lambda: q.compose(f, boom, len)([1]), lambda: q.pipe(1, abs, boom, f),
                lambda: q.thread_first(1, abs, (boom, 2), f)):
        with pytest.raises(Boom):
            run()
    assert log == []
    with pytest.raises(TypeError, match="takes exactly one argument"):
        q.compose(str, len)(5, 6)  # builtins taking one object are entered directly


def test_trivial_chains_return_their_input():
    a, b = q.compose(), q.compose_left()
    assert a is not b and a.__name__ == "identity"
    marker = object()
    assert a(marker) is b(marker) is q.pipe(marker) is q.thread_first(marker) is q.thread_last(marker) is marker


def test_runaway_recursion_through_a_chain_is_a_recursion_error():
    def again(x):
        return chain(x)

    chain = q.compose(abs, again)
    with pytest.raises(RecursionError):
        chain(1)
    chain = None  # the chain takes no part in cycle collection: break the cycle


def test_threading_forms():
    log = []
    f = recorder(log, "f")
    assert q.thread_first(1, (f, "a", "b"), (f,)) == q.thread_last(1, (f, "a", "b")) == "f"
    assert [entry[1] for entry in log] == [(1, "a", "b"), ("f",), ("a", "b", 1)]
    assert q.thread_last(5, type("Form", (tuple,), {})((divmod, 17))) == (3, 2)
    many = (lambda *a: a,) + tuple(range(12))
    assert q.thread_last("v", many) == tuple(range(12)) + ("v",)
    with pytest.raises(IndexError):
        q.thread_first(1, ())
    with pytest.raises(TypeError, match="'list' object is not callable"):
        q.thread_first(1, [abs])


def test_identity_apply_do_complement():
    marker, log = object(), []
    assert q.identity(marker) is marker and q.do(log.append, marker) is marker and log == [marker]
    assert q.apply(sorted, [3, 1, 2], reverse=True) == [3, 2, 1] and q.apply(dict) == {}
    assert q.complement(lambda: [])() is True and q.complement(bool)(1) is False
    assert q.complement(lambda a, k: a == k)(1, k=1) is False

    class NoTruth:
        def __bool__(self):
            raise Boom

    with pytest.raises(Boom):
        q.complement(NoTruth)()


def test_juxt_function_list_rule():
    log = []
    f, g = recorder(log, "f"), recorder(log, "g")
    assert q.juxt(f, g)(1, k=2) == ("f", "g")
    assert log == [("f", (1,), {"k": 2}), ("g", (1,), {"k": 2})]
    assert q.juxt([abs, str])(-1) == q.juxt(iter([abs, str]))(-1) == (1, "-1")
    assert q.juxt()() == ()
    callable_list = type("CallableList", (list,), {"__call__": lambda self, x: "called"})
    assert q.juxt(callable_list([abs]))(-1) == ("called",)
    with pytest.raises(TypeError, match="not iterable"):
        q.juxt(5)
    log.clear()
    with pytest.raises(Boom):
        q.juxt(boom, f)(1)
    assert log == []


def test_excepts_matching_rule():
    inverse = lambda x: 1 / x  # noqa: E731
    assert q.excepts(ZeroDivisionError, inverse)(0) is None
    assert q.excepts(ArithmeticError, inverse, type)(0) is ZeroDivisionError
    assert q.excepts(ZeroDivisionError, inverse)(4) == 0.25
    both = q.excepts((KeyError, IndexError), lambda c: c[5], lambda e: type(e).__name__)
    assert both({}) == "KeyError" and both([]) == "IndexError"
    handled = []
    with pytest.raises(TypeError):
        q.excepts(ZeroDivisionError, inverse, handled.append)("x")
    with pytest.raises(ZeroDivisionError):
        q.excepts("not a class", inverse, handled.append)(0)
    assert handled == []
    with pytest.raises(Boom):
        q.excepts(ZeroDivisionError, inverse, boom)(0)


@pytest.mark.parametrize("make", [lambda: q.compose(abs), lambda: q.complement(abs),
                                  lambda: q.juxt(abs), lambda: q.excepts(Exception, abs)])
def test_combinator_classes_are_closed(make):
    obj = make()
    cls = type(obj)
    assert cls.__module__ == "quibra._quibra" and cls.__doc__ is None
    with pytest.raises(TypeError, match="cannot create"):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        obj.extra = 1
    assert type("Holder", (), {"attr": obj})().attr is obj  # returned unbound
