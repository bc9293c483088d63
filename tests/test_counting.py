"""frequencies, countby, groupby, reduceby, isdistinct and topk."""

import collections
import functools
import operator

import pytest
from hypothesis import example, given, strategies as st

import quibra._quibra as q
from tests.helpers import Boom, Colliding, Logged, Source, assert_calls_user_code_alike, raises, raising, then_raise


def items(d):
    return list(d.items())


# Key forms and starting values the models below leave out.
@pytest.mark.parametrize("call, expected", [
    (lambda: q.countby(0, ("ab", "cd")), [("a", 1), ("c", 1)]),
    (lambda: q.countby([0, 1], ["ab", "ab", "ac"]), [(("a", "b"), 2), (("a", "c"), 1)]),
    (lambda: q.groupby(-1, [(1, "x"), (2, "y"), (3, "x")]), [("x", [(1, "x"), (3, "x")]), ("y", [(2, "y")])]),
    (lambda: q.reduceby(0, lambda acc, x: acc + [x[1]], ["ab", "cd", "ae"], list), [("a", ["b", "e"]), ("c", ["d"])]),
    (lambda: q.reduceby([0], lambda acc, x: (acc, x), "ab", None), [(("a",), (None, "a")), (("b",), (None, "b"))]),
])
def test_results_in_first_seen_order(call, expected):
    assert items(call()) == expected


def test_equal_keys_keep_the_first_object_met():
    nan, other = float("nan"), float("nan")
    assert items(q.frequencies([1.0, 1, True, -1, -2, -1])) == [(1, 3), (-1, 2), (-2, 1)]
    assert type(next(iter(q.countby(lambda x: x, [1.0, 1])))) is float
    assert items(q.groupby(lambda x: x, [nan, other, nan])) == [(nan, [nan, nan]), (other, [other])]


@pytest.mark.parametrize("h", [0, -1, -2, 7])
def test_colliding_keys_are_compared_once_each_in_the_order_they_were_met(h):
    log, marks = [], []

    def key(x):
        marks.append(len(log))  # where the comparisons for x begin
        return x

    keys = [Colliding(i, log, h) for i in range(30)]  # enough to make the table grow
    probe = Colliding(20, log, h)
    counts = q.countby(key, [*keys, probe])
    # stored == new, oldest first, up to the equal one; then the dict is built
    assert log[marks[-1]:marks[-1] + 22] == [("eq", i, 20) for i in range(21)] + [("eq", 0, 1)]
    assert [counts[k] for k in keys] == [1] * 20 + [2] + [1] * 9
    del log[:], marks[:]
    groups = q.groupby(key, [keys[3], probe, keys[3]])
    assert log[:marks[-1]] == [("eq", 3, 20)]  # the same object is never compared
    assert items(groups) == [(keys[3], [keys[3], keys[3]]), (probe, [probe])]


def test_a_list_changed_by_eq_while_it_is_counted():
    class Changer:
        def __init__(self, clears=False):
            self.clears = clears

        def __hash__(self):
            return 1

        def __eq__(self, other):
            if other.clears:
                xs.clear()
            elif len(xs) < 5:
                xs.append(Changer())
            return False

    xs = [Changer(), Changer()]
    assert len(q.frequencies(xs)) == len(xs) == 5  # every appended element is read
    xs[:] = [Changer(), Changer(clears=True), Changer()]
    assert len(q.frequencies(xs)) == 2 and xs == []  # the walk ends at the new length


@pytest.mark.parametrize("where", ["key", "hash", "eq", "iteration"])
def test_user_errors_pass_through_unchanged(where):
    calls = [q.countby, q.groupby, lambda k, s: q.reduceby(k, max, s)]
    if where != "key":
        calls.append(lambda k, s: q.frequencies(s))
    if where in ("key", "iteration"):
        calls.append(lambda k, s: q.topk(1, s, key=k))
    for call in calls:
        throw = raising(exc := Boom())
        odd = type("Odd", (), {"__hash__": lambda s: throw() if where == "hash" else 1, "__eq__": throw})
        seq = {"key": [1, 2], "iteration": then_raise([1], exc)}.get(where) or [odd(), odd()]
        assert raises(Boom, lambda: call(throw if where == "key" else (lambda x: x), seq)) is exc


@pytest.mark.parametrize("call, exc, match", [
    (lambda: q.groupby("k", [{"k": 1}, {}]), KeyError, None),
    (lambda: q.frequencies([[1]]), TypeError, "unhashable"),
    (lambda: q.countby(list, "ab"), TypeError, "unhashable"),
    (lambda: q.isdistinct([[1]]), TypeError, "unhashable"),
    (lambda: q.frequencies(5), TypeError, "not iterable"),
    (lambda: q.groupby(len, None), TypeError, "not iterable"),
    (lambda: q.topk(1, 3), TypeError, "not iterable"),
    (lambda: q.topk(1, [1, "a"]), TypeError, "'<' not supported"),
])
def test_lookup_and_type_errors(call, exc, match):
    raises(exc, call, match)


def test_argument_errors():
    seq = iter([1])
    raises(TypeError, lambda: q.reduceby(len, operator.add, seq, 0, 1), "^reduceby takes at most 4 arguments$")
    assert next(seq) == 1  # checked before reading
    assert raises(OverflowError, lambda: q.topk(-1, [1])).__notes__ == ["while processing 'k'"]


def test_isdistinct_stops_at_the_first_repeat():
    src = Source([*range(10), 3, *range(10, 100)])
    assert q.isdistinct(src) is False and src.taken == 11
    assert q.isdistinct([]) is True and q.isdistinct([1, 1.0]) is False


@pytest.mark.parametrize("call, expected", [
    (lambda: q.topk(2 ** 64 - 1, iter([3, 1])), (3, 1)),
    (lambda: q.topk(2, ["bb", "a", "cc"], key=len), ("bb", "cc")),
    (lambda: q.topk(2, [(1, "z"), (3, "a"), (2, "b")], key=0), ((3, "a"), (2, "b"))),
    (lambda: q.topk(2, [{1}, {2}, {3}], key=[]), ({1}, {2})),  # all keys (): the sets are never compared
])
def test_topk(call, expected):
    assert call() == expected


elements = st.lists(st.one_of(st.integers(-5, 5), st.sampled_from(["a", "b", "", "ab"])), max_size=40)


@given(elements)
def test_against_python_models(xs):
    key = lambda x: type(x).__name__ + str(x)[:1]  # noqa: E731
    groups = {}
    for x in xs:
        groups.setdefault(key(x), []).append(x)
    assert items(q.frequencies(xs)) == items(q.frequencies(iter(xs))) == items(collections.Counter(xs))
    assert items(q.countby(key, iter(xs))) == items(collections.Counter(map(key, xs)))
    assert items(q.groupby(key, xs)) == items(groups)
    folded = [(k, functools.reduce(operator.add, g)) for k, g in groups.items()]
    assert items(q.reduceby(key, operator.add, xs)) == folded
    assert items(q.reduceby(key, lambda acc, x: acc + str(x), xs, "")) == [(k, "".join(map(str, g))) for k, g in groups.items()]
    assert q.isdistinct(xs) == (len(set(xs)) == len(xs))
    assert q.topk(3, xs, key=str) == tuple(sorted(xs, key=str, reverse=True)[:3])
    ints = [x for x in xs if isinstance(x, int)]
    assert q.topk(4, ints) == tuple(sorted(ints, reverse=True)[:4])


@given(st.lists(st.tuples(st.integers(0, 4), st.booleans()), max_size=12), st.booleans())
def test_isdistinct_and_reduceby_call_user_code_as_a_set_and_a_dict_would(drawn, with_init):
    def distinct(keys):
        seen = set()
        for k in keys:
            if k in seen:
                return False
            seen.add(k)
        return True

    def fold(keys):
        out, missing = {}, object()
        for x, k in enumerate(keys):
            acc = out.get(k, missing)
            out[k] = x if acc is missing else acc + x
        return out

    assert_calls_user_code_alike(q.isdistinct, distinct, drawn)
    init = [0] if with_init else []
    assert_calls_user_code_alike(lambda keys: q.reduceby(keys.__getitem__, operator.add, range(len(keys)), *init),
                                 fold, drawn)


def fresh(x):
    """An equal object that is not x itself (ints and floats beyond the interpreter's caches)."""
    return type(x)(str(x)) if type(x) in (int, float) else x


plain_elements = st.one_of(
    st.lists(st.one_of(st.integers(-3, 3), st.integers(), st.sampled_from([2**30 - 1, 2**30, -2**30, 2**62, -2**64]))),
    st.lists(st.one_of(st.floats(allow_nan=False), st.sampled_from([0.0, -0.0, 1.5]))),
    st.lists(st.text(max_size=3)),
    st.lists(st.sampled_from([2**62, -2**64, 2**30, 7, 0.5, -0.0, 0.0, "é", "e"])).map(
        lambda xs: [x for x in xs if type(x) is type(xs[0])]),  # many ties
    # Each of these leaves the selection to the sort.
    st.lists(st.one_of(st.integers(-3, 3), st.floats(-3, 3)), min_size=2),
    st.lists(st.one_of(st.integers(-2, 2), st.booleans())),
    st.lists(st.floats(), min_size=1),
    st.lists(st.integers(-2, 2)).map(lambda xs: xs + [Logged(1, [])]),
)


@given(plain_elements.map(lambda xs: [fresh(x) for x in xs]), st.integers(0, 12), st.sampled_from([list, tuple, iter]))
@example([1.0, float("nan"), 2.0, 0.5, 3.0], 2, list)
@example([2.0, 1.0, float("nan"), 0.5, 3.0], 1, list)
def test_topk_without_key_is_the_stable_descending_sort(xs, k, form):
    try:
        want = sorted(xs, reverse=True)[:k]
    except TypeError as e:
        raises(TypeError, lambda: q.topk(k, form(xs)), str(e)[:20])
        return
    got = q.topk(k, form(xs))
    assert type(got) is tuple and len(got) == len(want)
    assert all(a is b for a, b in zip(got, want))  # ties keep input order: the very same objects


@pytest.mark.parametrize("tail", [[(5, True), (20_001, False), (7, True)], [(3, False)]])
def test_counting_mostly_new_keys_then_a_key_of_another_kind(tail):
    """Past a run of nearly all new builtin keys the counts live in the result dict until a
    key of another kind arrives; keys, order, counts and __hash__/__eq__ calls (one lookup
    per key) stay those of a dict."""
    def counts(keys):
        out = {}
        for k in keys:
            out.setdefault(k, [0])[0] += 1
        return [(k, n) for k, [n] in out.items()]

    drawn = [(v, False) for v in range(20_000)] + [(1.0, False), (True, False)] + tail
    assert_calls_user_code_alike(lambda ks: list(q.frequencies(ks).items()), counts, drawn)
    assert_calls_user_code_alike(lambda ks: list(q.countby(lambda k: k, iter(ks)).items()), counts, drawn)
    raises(TypeError, lambda: q.frequencies([*range(20_000), []]), "unhashable")
