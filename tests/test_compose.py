"""compose, compose_left, pipe, thread_first, thread_last and the small
adapters: identity, apply, do, complement, juxt, excepts."""

import functools

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


def recorder(log, name, result=None):
    def f(*args, **kwargs):
        log.append((name, args, kwargs))
        return name if result is None else result
    return f


def boom(*args, **kwargs):
    raise Boom


STEPS = {"inc": lambda x: x + 1, "dbl": lambda x: x * 2, "neg": lambda x: -x, "abs": abs, "str_len": lambda x: len(str(x))}


@given(st.lists(st.sampled_from(sorted(STEPS)), min_size=1, max_size=6), st.integers(-50, 50))
def test_chains_match_a_plain_python_model(names, x):
    fs = [STEPS[n] for n in names]
    expected = functools.reduce(lambda v, f: f(v), fs, x)
    assert q.compose_left(*fs)(x) == expected
    assert q.compose(*reversed(fs))(x) == expected
    assert q.pipe(x, *fs) == expected
    assert q.thread_first(x, *fs) == q.thread_last(x, *fs) == expected


def test_compose_call_order_and_keywords():
    log = []
    f, g = recorder(log, "f"), recorder(log, "g")
    assert q.compose(f, g)(1, k=2) == "f"
    assert log == [("g", (1,), {"k": 2}), ("f", ("g",), {})]
    log.clear()
    assert q.compose_left(f, g)(1, k=2) == "g"
    assert log == [("f", (1,), {"k": 2}), ("g", ("f",), {})]
    log.clear()
    single = q.compose(f)
    assert type(single).__name__ == "Compose" and single(1, 2, k=3) == "f"
    assert log == [("f", (1, 2), {"k": 3})]


def test_no_functions_gives_a_fresh_identity():
    a, b = q.compose(), q.compose_left()
    assert a is not b and a.__name__ == "identity"
    marker = object()
    assert a(marker) is marker and b(marker) is marker


def test_first_failure_stops_the_chain():
    log = []
    third = recorder(log, "third")
    with pytest.raises(Boom):
        q.compose(third, boom, len)([1])
    with pytest.raises(Boom):
        q.pipe(1, abs, boom, third)
    with pytest.raises(Boom):
        q.thread_first(1, abs, (boom, 2), third)
    assert log == []
    with pytest.raises(TypeError, match="object of type 'int' has no len"):
        q.compose(str, len)(5)  # a builtin taking one object, entered directly
    with pytest.raises(TypeError, match="takes exactly one argument"):
        q.compose(str, len)(5, 6)


def test_runaway_recursion_through_a_chain_is_a_recursion_error():
    def again(x):
        return chain(x)

    chain = q.compose(abs, again)
    with pytest.raises(RecursionError):
        chain(1)
    with pytest.raises(RecursionError):
        q.pipe(1, lambda x: q.pipe(x, again))
    chain = None  # the chain takes no part in cycle collection: break the cycle


def test_pipe_and_threading_without_steps_return_the_value_itself():
    marker = object()
    assert q.pipe(marker) is marker
    assert q.thread_first(marker) is marker and q.thread_last(marker) is marker


def test_threading_forms():
    assert q.thread_first(2, (pow, 3)) == 8 and q.thread_last(2, (pow, 3)) == 9
    log = []
    f = recorder(log, "f", result=7)
    assert q.thread_first(1, (f, "a", "b"), (f,)) == 7
    assert q.thread_last(1, (f, "a", "b")) == 7
    assert [entry[1] for entry in log] == [(1, "a", "b"), (7,), ("a", "b", 1)]

    class Form(tuple):
        pass

    assert q.thread_last(5, Form((divmod, 17))) == (3, 2)
    with pytest.raises(IndexError):
        q.thread_first(1, ())
    with pytest.raises(TypeError, match="'list' object is not callable"):
        q.thread_first(1, [abs])
    many = (lambda *a: a,) + tuple(range(12))
    assert q.thread_first("v", many) == ("v",) + tuple(range(12))
    assert q.thread_last("v", many) == tuple(range(12)) + ("v",)


def test_identity_apply_do():
    marker = object()
    assert q.identity(marker) is marker
    log = []
    assert q.do(log.append, marker) is marker and log == [marker]
    assert q.apply(pow, 2, 5) == 32
    assert q.apply(sorted, [3, 1, 2], reverse=True) == [3, 2, 1]
    assert q.apply(dict) == {}
    with pytest.raises(TypeError, match=r"do\(\) missing 1 required positional argument: 'x'"):
        q.do(print)


def test_complement():
    assert q.complement(lambda: [])() is True
    assert q.complement(bool)(1) is False
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
    assert q.juxt([abs, str])(-1) == q.juxt((abs, str))(-1) == (1, "-1")
    assert q.juxt(iter([abs]))(-1) == (1,)
    assert q.juxt()() == ()

    class CallableList(list):
        def __call__(self, x):
            return "called"

    assert q.juxt(CallableList([abs]))(-1) == ("called",)
    with pytest.raises(TypeError, match="not iterable"):
        q.juxt(5)
    log.clear()
    with pytest.raises(Boom):
        q.juxt(boom, f)(1)
    assert log == []


def test_excepts_matching_rule():
    inverse = lambda x: 1 / x  # noqa: E731
    assert q.excepts(ZeroDivisionError, inverse)(0) is None
    assert q.excepts(ZeroDivisionError, inverse, type)(0) is ZeroDivisionError
    assert q.excepts(ArithmeticError, inverse, type)(0) is ZeroDivisionError
    assert q.excepts(ZeroDivisionError, inverse)(4) == 0.25
    both = q.excepts((KeyError, IndexError), lambda c: c[5], lambda e: type(e).__name__)
    assert both({}) == "KeyError" and both([]) == "IndexError"

    handled = []
    with pytest.raises(TypeError):
        q.excepts(ZeroDivisionError, inverse, handled.append)("x")
    with pytest.raises(ZeroDivisionError):
        q.excepts("not an exception class", inverse, handled.append)(0)
    assert handled == []

    def failing_handler(e):
        raise Boom from e

    with pytest.raises(Boom):
        q.excepts(ZeroDivisionError, inverse, failing_handler)(0)


@pytest.mark.parametrize("make", [
    lambda: q.compose(abs), lambda: q.complement(abs), lambda: q.juxt(abs),
    lambda: q.excepts(Exception, abs),
])
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

    class Holder:
        attr = obj

    assert Holder().attr is obj  # returned unbound
