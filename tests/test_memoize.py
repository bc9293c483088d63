"""memoize: cache keys, the caller's cache, and failures."""

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


def unary(x):
    return ("unary", x)


def with_default(x, y=1):
    return x + y


def binary(a, b):
    return a + b


def variadic(*args):
    return args


def kw_only(a, *, k):
    return (a, k)


def keyed(func, **call_kwargs):
    """The single key a fresh memoize of func stores for one call."""
    cache = {}
    m = q.memoize(func, cache)

    def key_of(*args, **kwargs):
        cache.clear()
        result = m(*args, **kwargs)
        (key, stored), = cache.items()
        assert stored == result
        return key
    return key_of


def test_key_rules_follow_the_signature():
    assert keyed(unary)(3) == 3
    assert keyed(unary)(x=3) == ((), frozenset({("x", 3)}))
    assert keyed(with_default)(1) == ((1,), None)
    assert keyed(with_default)(1, y=2) == ((1,), frozenset({("y", 2)}))
    assert keyed(with_default)(x=1) == (None, frozenset({("x", 1)}))
    assert keyed(binary)(1, 2) == (1, 2)
    assert keyed(binary)(1, b=2) == ((1,), frozenset({("b", 2)}))
    assert keyed(variadic)(1) == (1,)
    assert keyed(variadic)() == ()
    assert keyed(kw_only)(1, k=2) == ((1,), frozenset({("k", 2)}))
    assert keyed(len)("ab") == "ab"  # positional-only counts as unary


def test_builtin_without_signature_uses_keyword_keys():
    cache = {}
    m = q.memoize(max, cache)
    assert m(1, 5) == 5
    assert list(cache) == [((1, 5), None)]
    noarg = q.memoize(dict, {})
    assert noarg() == {}


def test_key_function_sees_the_arguments():
    seen = []

    def key(args, kwargs):
        seen.append((args, kwargs))
        return "k"

    cache = {}
    m = q.memoize(binary, cache, key=key)
    assert m(1, 2) == 3 and m(5, b=6) == 3
    assert seen == [((1, 2), None), ((5,), {"b": 6})]
    assert cache == {"k": 3}


def test_cache_is_the_callers_dict():
    calls = []

    def f(x):
        calls.append(x)
        return x * 10

    cache = {}
    m = q.memoize(f, cache=cache)
    assert m(1) == 10 and m(1) == 10 and calls == [1]
    cache[1] = "edited"
    assert m(1) == "edited"

    class Missing(dict):
        def __missing__(self, key):
            return "missing"

        def __getitem__(self, key):
            return "getitem"

    sub = Missing()
    assert q.memoize(f, sub)(2) == 20
    assert dict(sub) == {2: 20}


def test_cache_must_be_a_dict():
    with pytest.raises(TypeError, match="'list' object is not an instance of 'dict'") as info:
        q.memoize(unary, [])
    assert info.value.__notes__ == ["while processing 'cache'"]
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'func'"):
        q.memoize(key=lambda a, k: a)


def test_failures_are_not_cached():
    calls = []

    def flaky(x):
        calls.append(x)
        if len(calls) == 1:
            raise Boom
        return x

    cache = {}
    m = q.memoize(flaky, cache)
    with pytest.raises(Boom):
        m(1)
    assert cache == {}
    assert m(1) == 1 and calls == [1, 1]
    with pytest.raises(TypeError, match="unhashable"):
        m([1])
    with pytest.raises(TypeError, match="unhashable"):
        q.memoize(with_default)(1, y=[2])
    assert calls == [1, 1]
    with pytest.raises(Boom):
        q.memoize(unary, key=lambda a, k: (_ for _ in ()).throw(Boom))(1)


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
    for a, b in calls:
        assert m(a, b) == a * 7 + b
    assert count[0] == len(set(calls)) == len(cache)
