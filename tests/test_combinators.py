"""The callable combinators: curry and flip; compose, compose_left, pipe and
threading; identity, apply, do, complement, juxt, excepts; memoize."""

import collections
import inspect
import types
import weakref

import pytest
from hypothesis import example, given, settings, strategies as st

import quibra._quibra as q
from tests.helpers import Boom, Logged, boom, raises


def recorder(log, name):
    return lambda *args, **kwargs: log.append((name, args, kwargs)) or name


def triple(a, b, c=3):
    return (a, b, c)


class Counted:
    """A callable counting its signature lookups; the first `failures` raise `error`."""

    def __init__(self, error=None, failures=0):
        self.lookups, self.error, self.failures = 0, error, failures

    __call__ = staticmethod(triple)

    @property
    def __signature__(self):
        self.lookups += 1
        if self.lookups <= self.failures:
            raise self.error("flaky")  # fresh each time: a stored one would tie a cycle
        return inspect.signature(triple)


def test_partial_complete_and_unusable_arguments():
    c = q.curry(triple)
    assert type(c(1)) is q.curry and type(c()) is q.curry and c() is not c
    assert c(1)(2) == c(1, 2) == c()(b=2)(1) == q.curry(func=triple, a=1)(b=2) == (1, 2, 3)
    raises(TypeError, lambda: c(1, 2, 3, 4), r"triple\(\) takes from 2 to 3 positional arguments but 4 were given")
    raises(TypeError, lambda: c(1, z=2), "unexpected keyword argument 'z'")
    raises(TypeError, lambda: q.curry(lambda a: a + "")(1), "unsupported operand")  # from the body: not a partial call


def test_keywords_accumulate_without_touching_earlier_instances():
    c = q.curry(triple, c=0)
    e = c(1)
    assert c(c=9)(1, 2) == (1, 2, 9) and e(2, c=5) == (1, 2, 5)
    assert e(2) == c(1, 2) == (1, 2, 0)


def test_signature_lookup():
    c = q.curry(f := Counted())
    assert c(1)(2) == c()(b=2)(1) == (1, 2, 3) and c(1, 2, 4) == (1, 2, 4) and f.lookups == 1
    assert type(q.curry(f)(1)) is q.curry and f.lookups == 2  # once per chain

    c = q.curry(refusing := Counted(ValueError, failures=1))  # no signature: called at once, for good
    raises(TypeError, lambda: c(1))
    assert c(1, 2) == (1, 2, 3) and refusing.lookups == 1 and q.curry(max)([3, 1]) == 3

    c = q.curry(flaky := Counted(RuntimeError, failures=1))  # any other error: retried on the next call
    raises(RuntimeError, lambda: c(1), "flaky")
    assert type(c(1)) is q.curry and flaky.lookups == 2

    strict = lambda a: a  # noqa: E731
    strict.__signature__ = type("Strict", (inspect.Signature,), {"bind": boom})()
    raises(Boom, lambda: q.curry(strict)(1))  # only a TypeError from bind means "not yet complete"


def test_flip_is_a_curry():
    assert type(q.flip) is q.curry and type(q.flip(pow)) is q.curry and type(q.flip(pow, 2)) is q.curry
    assert q.flip(pow)(2)(3) == q.flip(pow, 2, 3) == 9


P = inspect.Parameter
KINDS = [P.POSITIONAL_ONLY, P.POSITIONAL_OR_KEYWORD, P.VAR_POSITIONAL, P.KEYWORD_ONLY, P.VAR_KEYWORD]


@st.composite
def signatures(draw):
    """Any valid parameter list over a few names, so that keywords often hit."""
    kinds = sorted(draw(st.lists(st.sampled_from(KINDS), max_size=6)))
    kinds = [k for i, k in enumerate(kinds) if k not in (P.VAR_POSITIONAL, P.VAR_KEYWORD) or k not in kinds[:i]]
    names = draw(st.permutations("abcdefghij"))
    first_default = draw(st.integers(0, sum(k <= P.POSITIONAL_OR_KEYWORD for k in kinds)))  # ends the run
    params = []
    for n, kind in enumerate(kinds):
        default = n >= first_default if kind <= P.POSITIONAL_OR_KEYWORD else (
            kind == P.KEYWORD_ONLY and draw(st.booleans()))
        params.append(P(names[n], kind, **({"default": n} if default else {})))
    return inspect.Signature(params)


def arguments(sig):
    """A positional count and keyword names around the signature's own."""
    names = [*sig.parameters, "z"]
    return st.tuples(st.integers(0, len(names)), st.lists(st.sampled_from(names), unique=True, max_size=3))


cases = signatures().flatmap(lambda sig: st.tuples(st.just(sig), arguments(sig), arguments(sig)))


def verdict(sig, nargs, names):
    """What bind, then bind_partial, say: "call" or "curry"."""
    args, kwargs = tuple(range(nargs)), dict.fromkeys(names, 0)
    for method, answer in ((sig.bind, "call"), (sig.bind_partial, "curry")):
        try:
            method(*args, **kwargs)
            return answer
        except TypeError:
            pass
    return "call"


def outcome(c, nargs, names):
    args, kwargs = tuple(range(nargs)), dict.fromkeys(names, 0)
    r = c(*args, **kwargs)
    if type(r) is q.curry:
        return "curry"
    assert r == (args, kwargs)  # the callable got exactly the collected arguments
    return "call"


def corner(f, nargs, names, then=(0, [])):
    return example((inspect.signature(f), (nargs, names), then))


@settings(max_examples=300)
@given(cases)
@corner(lambda a, **k: 0, 1, [])  # **k reached while placing positional arguments
@corner(lambda a, b=1, /, **k: 0, 1, ["b"])  # a positional-only name left for **k
@corner(lambda a, b=1, /: 0, 1, ["b"])
@corner(lambda a, b, /: 0, 0, ["b"], then=(2, []))  # bind_partial takes b by name
@corner(lambda a, /: 0, 0, ["a"])
@corner(lambda *, a: 0, 1, [])
@corner(lambda a, *r, b: 0, 3, ["a"])
@corner(lambda a, b, *, c: 0, 0, ["c"], then=(1, ["b"]))
def test_curry_decides_as_bind_and_bind_partial_do(case):
    sig, first, second = case
    f = lambda *a, **k: (a, k)  # noqa: E731
    f.__signature__ = sig
    assert outcome(q.curry(f), *first) == verdict(sig, *first)
    # The same arguments split over a partial call and a completing one,
    # with the signature inherited by the derived curry.
    n, names = first
    c = q.curry(f, *range(n), **dict.fromkeys(names, 0))
    if verdict(sig, *first) == "curry":
        c = c()
        assert type(c) is q.curry
        total = (n + second[0], sorted(set(names) | set(second[1])))
        r = c(*range(n, n + second[0]), **dict.fromkeys(second[1], 0))
        want = verdict(sig, *total)
        assert (type(r) is q.curry) == (want == "curry")


def test_curry_leaves_other_signatures_to_bind():
    f = lambda *a, **k: (a, k)  # noqa: E731
    params = list(inspect.signature(lambda a, b: 0).parameters.values())
    # A subclass keeps its own bind and bind_partial.
    f.__signature__ = type("Sub", (inspect.Signature,), {"bind": boom})(params)
    raises(Boom, lambda: q.curry(f)(1))
    f.__signature__ = type("Sub", (inspect.Signature,), {"bind_partial": lambda self, *a, **k: None})(params)
    assert type(q.curry(f)(1, 2, 3)) is q.curry  # bind refuses, the subclass's bind_partial accepts
    # A parameter of a subclass is read through bind too.
    f.__signature__ = inspect.Signature([type("Param", (P,), {})("a", P.POSITIONAL_OR_KEYWORD), params[1]])
    c = q.curry(f)
    assert type(c(1)) is q.curry and c(1)(2) == c(1, 2) == ((1, 2), {})
    g = lambda a, b: (a, b)  # noqa: E731
    g.__signature__ = inspect.signature(lambda *a: 0)
    raises(TypeError, lambda: q.curry(g)(1), "missing 1 required positional argument")  # bind accepts: g is called


def test_curry_keyword_names_of_a_str_subclass():
    name = type("Name", (str,), {"__hash__": str.__hash__, "__eq__": str.__eq__})("b")
    c = q.curry(triple)
    assert c(1, **{name: 2}) == (1, 2, 3) and type(c(**{name: 2})) is q.curry


def test_call_order_keywords_and_short_circuit():
    inc, dbl, log = (1).__add__, (2).__mul__, []
    assert (q.compose(str, dbl, inc)(3) == q.compose_left(inc, dbl, str)(3) == q.pipe(3, inc, dbl, str)
            == q.thread_first(3, inc, dbl, str) == q.thread_last(3, inc, dbl, str) == "8")
    f, g = recorder(log, "f"), recorder(log, "g")
    assert q.compose(f, g)(1, k=2) == "f" and q.compose_left(f, g)(1, k=2) == "g" and q.compose(f)(1, 2, k=3) == "f"
    assert log == [("g", (1,), {"k": 2}), ("f", ("g",), {}),
                   ("f", (1,), {"k": 2}), ("g", ("f",), {}), ("f", (1, 2), {"k": 3})]
    log.clear()
    for run in (lambda: q.compose(f, boom, len)([1]), lambda: q.pipe(1, abs, boom, f),
                lambda: q.thread_first(1, abs, (boom, 2), f)):
        raises(Boom, run)
    assert log == []
    raises(TypeError, lambda: q.compose(str, len)(5, 6), "takes exactly one argument")  # builtins entered directly
    a, b, marker = q.compose(), q.compose_left(), object()
    assert a is not b and a.__name__ == "identity"
    assert a(marker) is b(marker) is q.pipe(marker) is q.thread_first(marker) is q.thread_last(marker) is marker


def test_runaway_recursion_through_a_chain_is_a_recursion_error():
    chain = q.compose(abs, lambda x: chain(x))
    raises(RecursionError, lambda: chain(1))


def test_threading_forms():
    tup = lambda *a: a  # noqa: E731
    assert q.thread_first(1, (tup, "a", "b"), (tup,)) == ((1, "a", "b"),)
    assert q.thread_last(1, (tup, "a", "b")) == ("a", "b", 1)
    assert q.thread_last(5, type("Form", (tuple,), {})((divmod, 17))) == (3, 2)
    assert q.thread_last("v", (tup,) + tuple(range(12))) == tuple(range(12)) + ("v",)
    raises(IndexError, lambda: q.thread_first(1, ()))
    raises(TypeError, lambda: q.thread_first(1, [abs]), "'list' object is not callable")


def test_identity_apply_do_complement():
    marker, log = object(), []
    assert q.identity(marker) is marker and q.do(log.append, marker) is marker and log == [marker]
    assert q.apply(sorted, [3, 1, 2], reverse=True) == [3, 2, 1] and q.apply(dict) == {}
    assert q.complement(lambda: [])() is True and q.complement(bool)(1) is False
    assert q.complement(lambda a, k: a == k)(1, k=1) is False
    raises(Boom, q.complement(type("NoTruth", (), {"__bool__": boom})))  # the truth test of the result may fail


def test_juxt_function_list_rule():
    f, g = recorder(log := [], "f"), recorder(log, "g")
    assert q.juxt(f, g)(1, k=2) == ("f", "g")
    assert log == [("f", (1,), {"k": 2}), ("g", (1,), {"k": 2})]
    assert q.juxt([abs, str])(-1) == q.juxt(iter([abs, str]))(-1) == (1, "-1") and q.juxt()() == ()
    assert q.juxt(type("CallableList", (list,), {"__call__": lambda self, x: "called"})([abs]))(-1) == ("called",)
    raises(TypeError, lambda: q.juxt(5), "not iterable")
    log.clear()
    raises(Boom, lambda: q.juxt(boom, f)(1))
    assert log == []


def test_excepts_matching_rule():
    inverse = lambda x: 1 / x  # noqa: E731
    assert q.excepts(ZeroDivisionError, inverse)(0) is None and q.excepts(ZeroDivisionError, inverse)(4) == 0.25
    assert q.excepts(ArithmeticError, inverse, type)(0) is ZeroDivisionError
    both = q.excepts((KeyError, IndexError), lambda c: c[5], lambda e: type(e).__name__)
    assert both({}) == "KeyError" and both([]) == "IndexError"
    handled = []
    for exc, arg, raised in ((ZeroDivisionError, "x", TypeError), ("not a class", 0, ZeroDivisionError)):
        raises(raised, lambda: q.excepts(exc, inverse, handled.append)(arg))
    assert handled == []
    raises(Boom, lambda: q.excepts(ZeroDivisionError, inverse, boom)(0))


@pytest.mark.parametrize("func, args, kwargs, key", [
    (lambda x: x, (3,), {}, 3),
    (len, ("ab",), {}, "ab"),  # positional-only counts too
    (lambda x: x, (), {"x": 3}, ((), frozenset({("x", 3)}))),
    (lambda x, y=1: x + y, (1,), {}, ((1,), None)),
    (lambda x, y=1: x + y, (1,), {"y": 2}, ((1,), frozenset({("y", 2)}))),
    (lambda x, y=1: x + y, (), {"x": 1}, (None, frozenset({("x", 1)}))),
    (lambda a, b: a + b, (1, 2), {}, (1, 2)),
    (lambda a, b: a + b, (1,), {"b": 2}, ((1,), frozenset({("b", 2)}))),
    (lambda *args: args, (1,), {}, (1,)),
    (lambda a, **kw: a, (1,), {}, ((1,), None)),  # anything taking keywords gives keyword-style keys
    (max, (1, 5), {}, ((1, 5), None)),  # no signature: keyword-style keys
    (dict, (), {}, (None, None)),
])
def test_memoize_key_rules_follow_the_signature(func, args, kwargs, key):
    cache = {}
    result = q.memoize(func, cache)(*args, **kwargs)
    assert cache == {key: result}


def test_memoize_key_function_sees_the_arguments():
    seen, cache = [], {}
    m = q.memoize(lambda a, b: a + b, cache, key=lambda args, kwargs: seen.append((args, kwargs)) or "k")
    assert m(1, 2) == 3 and m(5, b=6) == 3
    assert seen == [((1, 2), None), ((5,), {"b": 6})] and cache == {"k": 3}


def test_memoize_compares_parameter_kinds_with_plain_equality():
    nan, kind = float("nan"), inspect.Parameter.POSITIONAL_OR_KEYWORD  # nan: itself, yet unequal to itself
    f = lambda x: x  # noqa: E731
    param = types.SimpleNamespace(kind=nan, default=inspect.Parameter.empty)
    f.__signature__ = type("Sig", (inspect.Signature,), {"parameters": {"x": param}})()
    inspect.Parameter.POSITIONAL_OR_KEYWORD = nan
    try:
        q.memoize(f, cache := {})(3)
    finally:
        inspect.Parameter.POSITIONAL_OR_KEYWORD = kind
    assert cache == {(3,): 3}  # no required parameter counted, so not keyed by the argument


def test_memoize_uses_the_callers_dict_as_a_plain_dict():
    calls, cache = [], {}
    m = q.memoize(lambda x: calls.append(x) or x * 10, cache=cache)
    assert m(1) == m(1) == 10 and calls == [1]
    cache[1] = "edited"
    assert m(1) == "edited"
    sub = type("Overridden", (dict,), {"__missing__": lambda s, k: "missing", "__getitem__": lambda s, k: "getitem"})()
    assert q.memoize(lambda x: x * 2, sub)(2) == 4 and dict(sub) == {2: 4}
    error = raises(TypeError, lambda: q.memoize(abs, []), "'list' object is not an instance of 'dict'")
    assert error.__notes__ == ["while processing 'cache'"]


@pytest.mark.parametrize("ordered", [collections.OrderedDict, type("Ordered", (collections.OrderedDict,), {})])
def test_memoize_writes_an_ordered_cache_through_its_own_assignment(ordered):
    # A store through the base dict would skip the ordered dict's own bookkeeping.
    for func, calls in [(abs, [(-1,), (2,)]), (max, [(1, 2), (3, 4)]), (lambda x, y=0: x, [(5,), (6,)])]:
        cache = ordered()
        m = q.memoize(func, cache=cache)
        for args in calls * 2:
            m(*args)
        keys = list(cache)
        assert len(cache) == len(keys) == 2 and cache.popitem() == (keys[1], m(*calls[1]))


def test_memoize_never_caches_a_failure():
    calls, cache = [], {}
    m = q.memoize(lambda x, y=0: calls.append(x) or (boom() if len(calls) == 1 else x), cache)
    raises(Boom, lambda: m(1))
    assert cache == {} and m(1) == 1 and calls == [1, 1]
    for unhashable in (lambda: q.memoize(abs)([1]), lambda: m(1, y=[2])):
        raises(TypeError, unhashable, "unhashable")
    assert calls == [1, 1]


def test_memoize_tuple_keys_are_fresh_each_time_they_are_kept():
    calls, cache = [], {}
    m = q.memoize(lambda a, b, c: calls.append((a, b, c)) or a + b + c, cache)
    assert [m(1, 2, 3), m(1, 2, 3), m(1, 2, 4), m(1, 2, 3), m(3, 2, 1)] == [6, 6, 7, 6, 6]
    assert calls == list(cache) == [(1, 2, 3), (1, 2, 4), (3, 2, 1)]
    assert [cache[k] for k in calls] == [6, 7, 6]  # stored under their own hashes

    # Equal by value, so a second key hits the entry the first one made.
    first, second, boxed = Logged(1, []), Logged(1, []), q.memoize(lambda a, b, c: [a])
    assert boxed(first, 0, 0) is boxed(second, 0, 0)
    gone = weakref.ref(second)
    del second
    assert gone() is None  # a hit keeps no argument alive


def test_memoize_recursion_through_the_same_object():
    fib = q.memoize(lambda n: n if n < 2 else fib(n - 1) + fib(n - 2))
    assert fib(80) == 23416728348467685


@pytest.mark.parametrize("obj", [q.curry(abs), q.memoize(abs), q.compose(abs), q.complement(abs), q.juxt(abs),
                                 q.excepts(Exception, abs)])
def test_classes_are_closed(obj):
    raises(TypeError, lambda: type(obj)(), "cannot create|missing 1 required positional argument: 'func'")
    raises(TypeError, lambda: type("Sub", (type(obj),), {}))
    raises(AttributeError, lambda: setattr(obj, "extra", 1))
    assert type("Holder", (), {"attr": obj})().attr is obj  # never bound to the instance
