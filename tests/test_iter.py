"""The fluent Iter: chains over reusable and one-shot inputs, result types, laziness, the
unsigned conversions, and every lazy method against the module function it fronts."""

import itertools
import operator

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from tests.helpers import Source, raises


def chain(it):
    return (it.map(lambda v: v * 3).filter(lambda v: v % 2).unique(key=lambda v: v % 5)
            .accumulate(operator.add).sliding_window(2).pluck(1).interpose(-1)
            .partition_all(2).flat_map(lambda t: t).drop(1).take(5))


def test_a_long_chain_over_a_list_is_reusable():
    base = q.Iter(list(range(20)))
    expected = [-1, 27, -1, 48, -1]
    assert chain(base).collect() == expected and chain(base).collect() == expected
    assert base.collect() == base.collect() == list(range(20))
    done = chain(base)  # each derived Iter wraps one lazy iterator, used up once
    assert list(done) == expected and done.collect() == [] and done.first() == q.Nothing


def test_a_one_shot_input_is_used_up_and_shared_by_derived_iters():
    base = q.Iter(iter(range(10)))
    evens = base.filter(lambda v: v % 2 == 0)
    assert evens.take(2).collect() == [0, 2]
    assert base.collect() == [3, 4, 5, 6, 7, 8, 9]  # the filter drew 0, 1 and 2
    assert evens.collect() == [] and base.first() == q.Nothing


@pytest.mark.parametrize("method, args, kind", [
    ("map", (str,), q.Iter), ("filter", (None,), q.Iter), ("unique", (), q.Iter),
    ("take", (1,), q.Iter), ("drop", (1,), q.Iter), ("sliding_window", (2,), q.Iter),
    ("partition_all", (2,), q.Iter), ("flat_map", (lambda x: [x],), q.Iter),
    ("pluck", (0,), q.Iter), ("interpose", (0,), q.Iter), ("accumulate", (operator.add,), q.Iter),
    ("collect", (), list), ("reduce", (operator.add,), tuple), ("count", (), int),
    ("frequencies", (), dict), ("group_by", (len,), dict), ("to_dict", (), dict),
    ("first", (), q.Some), ("last", (), q.Some), ("nth", (1,), q.Some),
])
def test_each_methods_result_type_and_laziness(method, args, kind):
    src = Source([(1, 2), (3, 4), (5, 6)])
    result = getattr(q.Iter(src), method)(*args)
    assert type(result) is kind
    if kind is q.Iter:
        # Only sliding_window reads at call time: its first n - 1 elements.
        assert src.taken == (1 if method == "sliding_window" else 0)


def test_methods_on_empty_input_and_a_non_iterable():
    empty = q.Iter([])
    assert (empty.first(), empty.last(), empty.nth(0)) == (q.Nothing, q.Nothing, q.Nothing)
    assert type(empty.first()) is q.NothingType and empty.first() is not q.Nothing
    assert empty.interpose(0).collect() == [] and empty.frequencies() == {} and empty.count() == 0
    raises(TypeError, lambda: empty.reduce(operator.add), "reduce.. of empty iterable")
    assert q.Iter([4, 5]).nth(1) == q.Some(5) and q.Iter([4]).nth(1) == q.Nothing
    bad = q.Iter(5)  # accepted; fails at the first method that needs iter()
    for call in (bad.collect, bad.first, lambda: bad.map(str), lambda: bad.take(1),
                 lambda: bad.interpose(0), lambda: bad.partition_all(0), lambda: iter(bad)):
        raises(TypeError, call, "not iterable")


@pytest.mark.parametrize("method", ["take", "drop", "sliding_window", "partition_all", "nth"])
@pytest.mark.parametrize("value, error", [(-1, OverflowError), (1.5, TypeError), ("2", TypeError)])
def test_counts_are_unsigned_and_converted_first(method, value, error):
    src = Source([1, 2, 3])
    error = raises(error, lambda: getattr(q.Iter(src), method)(value))
    assert error.__notes__ == [f"while processing '{'i' if method == 'nth' else 'n'}'"] and src.taken == 0


def test_reduce_iter_protocol_and_the_hidden_inner():
    it = q.Iter([1, 2, 3])
    assert it.reduce(operator.add) == 6 and it.reduce(operator.add, 10) == 16
    raises(TypeError, lambda: it.reduce(operator.add, 1, 2), "^reduce takes at most 2 arguments$")
    assert list(q.Iter("ab")) == ["a", "b"] and type(iter(q.Iter("ab"))) is type(iter("ab"))
    raises(TypeError, lambda: next(q.Iter("ab")))
    raises(AttributeError, lambda: it.inner)
    assert q.Iter([("a", 1)]).to_dict() == {"a": 1}
    assert q.Iter.__text_signature__ == "(inner)" and q.Iter.reduce.__text_signature__ == "($self, binop, *rest)"
    raises(TypeError, lambda: it.map(), r"^Iter.map\(\) missing 1 required positional argument: 'f'$")


LAZY = {  # Iter method call -> the module function of the same purpose
    "map": (lambda it: it.map(abs), lambda xs: map(abs, xs)),
    "filter": (lambda it: it.filter(bool), lambda xs: filter(bool, xs)),
    "unique": (lambda it: it.unique(), q.unique),
    "unique key": (lambda it: it.unique(key=abs), lambda xs: q.unique(xs, key=abs)),
    "take": (lambda it: it.take(3), lambda xs: q.take(3, xs)),
    "drop": (lambda it: it.drop(3), lambda xs: q.drop(3, xs)),
    "sliding_window": (lambda it: it.sliding_window(3), lambda xs: q.sliding_window(3, xs)),
    "partition_all": (lambda it: it.partition_all(4), lambda xs: q.partition_all(4, xs)),
    "flat_map": (lambda it: it.flat_map(lambda x: [x] * (x % 3)), lambda xs: q.mapcat(lambda x: [x] * (x % 3), xs)),
    "pluck": (lambda it: it.pluck(0), lambda xs: q.pluck(0, [(x,) for x in xs])),
    "interpose": (lambda it: it.interpose(0), lambda xs: q.interpose(0, xs) if xs else iter(())),
    "accumulate": (lambda it: it.accumulate(operator.sub), lambda xs: q.accumulate(operator.sub, xs)),
    "frequencies": (lambda it: it.frequencies(), lambda xs: q.frequencies(xs)),
    "group_by": (lambda it: it.group_by(abs), lambda xs: q.groupby(abs, xs)),
}


@pytest.mark.parametrize("name", LAZY)
@given(xs=st.lists(st.integers(-5, 5), max_size=30))
def test_each_method_matches_its_module_function(name, xs):
    method, function = LAZY[name]
    inner = [(x,) for x in xs] if name == "pluck" else xs
    got = method(q.Iter(inner))
    got = got.collect() if type(got) is q.Iter else got
    want = function(xs)
    assert got == (want if isinstance(want, dict) else list(want))
    assert got == (method(q.Iter(iter(inner))).collect() if name not in ("frequencies", "group_by")
                   else method(q.Iter(iter(inner))))


def test_typed_buffers_go_through_the_typed_unique():
    import array
    data = array.array("q", [3, 1, 3, 2])
    assert q.Iter(data).unique().collect() == list(q.unique(data)) == [3, 1, 2]
    assert type(iter(q.Iter(data).unique())).__name__ == "UniqueIntIter"
    assert type(iter(q.Iter(data).unique(key=abs))).__name__ == "UniqueIter"
    assert list(itertools.islice(q.Iter(bytes(range(256)) * 4).unique(), 3)) == [0, 1, 2]
