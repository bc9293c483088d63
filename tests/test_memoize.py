"""memoize: cache keys, the caller's cache, and failures."""

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


def stored_key(func, *args, **kwargs):
    """The one key a fresh memoize of func stores for the call."""
    cache = {}
    result = q.memoize(func, cache)(*args, **kwargs)
    (key, stored), = cache.items()
    assert stored == result
    return key


def test_key_rules_follow_the_signature():
    def unary(x): return x
    def with_default(x, y=1): return x + y
    def binary(a, b): return a + b
    def variadic(*args): return args
    def kw_only(a, *, k): return (a, k)

    assert stored_key(unary, 3) == 3
    assert stored_key(len, "ab") == "ab"  # positional-only counts too
    assert stored_key(unary, x=3) == ((), frozenset({("x", 3)}))
    assert stored_key(with_default, 1) == ((1,), None)
    assert stored_key(with_default, 1, y=2) == ((1,), frozenset({("y", 2)}))
    assert stored_key(with_default, x=1) == (None, frozenset({("x", 1)}))
    assert stored_key(binary, 1, 2) == (1, 2)
    assert stored_key(binary, 1, b=2) == ((1,), frozenset({("b", 2)}))
    assert stored_key(variadic, 1) == (1,)
    assert stored_key(kw_only, 1, k=2) == ((1,), frozenset({("k", 2)}))
    assert stored_key(max, 1, 5) == ((1, 5), None)  # no signature: keyword-style keys
    assert stored_key(dict) == (None, None)


def test_key_function_sees_the_arguments():
    seen = []
    cache = {}
    m = q.memoize(lambda a, b: a + b, cache, key=lambda args, kwargs: seen.append((args, kwargs)) or "k")
    assert m(1, 2) == 3 and m(5, b=6) == 3
    assert seen == [((1, 2), None), ((5,), {"b": 6})] and cache == {"k": 3}


def test_cache_is_the_callers_dict_used_as_a_plain_dict():
    calls = []
    cache = {}
    m = q.memoize(lambda x: calls.append(x) or x * 10, cache=cache)
    assert m(1) == m(1) == 10 and calls == [1]
    cache[1] = "edited"
    assert m(1) == "edited"

    class Overridden(dict):
        def __missing__(self, key):
            return "missing"

        def __getitem__(self, key):
            return "getitem"

    sub = Overridden()
    assert q.memoize(lambda x: x * 2, sub)(2) == 4 and dict(sub) == {2: 4}

    with pytest.raises(TypeError, match="'list' object is not an instance of 'dict'") as info:
        q.memoize(abs, [])
    assert info.value.__notes__ == ["while processing 'cache'"]
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'func'"):
        q.memoize(key=lambda a, k: a)


def test_failures_are_never_cached():
    calls = []

    def flaky(x, y=0):
        calls.append(x)
        if len(calls) == 1:
            raise Boom
        return x

    cache = {}
    m = q.memoize(flaky, cache)
    with pytest.raises(Boom):
        m(1)
    assert cache == {} and m(1) == 1 and calls == [1, 1]
    for unhashable in (lambda: q.memoize(abs)([1]), lambda: m(1, y=[2])):
        with pytest.raises(TypeError, match="unhashable"):
            unhashable()
    assert calls == [1, 1]


def test_recursion_through_the_same_object():
    def fib(n):
        return n if n < 2 else memo_fib(n - 1) + memo_fib(n - 2)

    memo_fib = q.memoize(fib)
    assert memo_fib(80) == 23416728348467685
    memo_fib = None  # the wrapper takes no part in cycle collection: break the cycle


@given(st.lists(st.tuples(st.integers(-3, 3), st.integers(-3, 3)), max_size=30))
def test_results_match_the_function(calls):
    count = [0]

    def f(a, b):
        count[0] += 1
        return a * 7 + b

    cache = {}
    m = q.memoize(f, cache)
    assert [m(a, b) for a, b in calls] == [a * 7 + b for a, b in calls]
    assert count[0] == len(set(calls)) == len(cache)
