"""take, drop, take_nth, tail, cons, concat, concatv, mapcat, interleave,
iterate, accumulate, remove."""

import itertools
from operator import add, sub

from hypothesis import given, strategies as st

import quibra._quibra as q
from tests.helpers import Boom, Source, boom, drain, raises, raising, then_raise


def test_delegations():
    assert type(q.take(1, [])) is itertools.islice and type(q.cons(0, [])) is itertools.chain
    assert list(q.take(None, [1, 2])) == [1, 2] and list(q.drop(None, [1])) == [1]
    assert list(q.concat([[1], (), "ab"])) == [1, "a", "b"]
    assert list(q.concatv([1], (2,), "ab")) == [1, 2, "a", "b"] and list(q.concatv()) == []
    assert list(q.mapcat(lambda x: [x, x], [1, 2])) == [1, 1, 2, 2]
    for call in (lambda: q.take(-1, [1]), lambda: q.drop("x", [1]), lambda: q.take_nth(0, [1])):
        raises(ValueError, call, "islice")
    for call in (lambda: q.take(1, 5), lambda: q.take_nth(1, 5), lambda: q.concat(5), lambda: q.mapcat(str, 5),
                 lambda: q.tail(1, 5), lambda: q.accumulate(add, 5), lambda: q.remove(bool, 5)):
        raises(TypeError, call, "not iterable")


def test_inner_sequences_are_touched_only_when_reached():
    for it in (q.cons(0, 5), q.concatv([0], 5)):
        assert next(it) == 0
        raises(TypeError, lambda: next(it))
    calls = []
    it = q.mapcat(lambda x: calls.append(x) or [x], Source([1, 2]))
    assert calls == [] and next(it) == 1 and calls == [1]
    q.interleave([src := Source([1]), [2]])
    assert src.taken == 0  # opened, not read


def test_tail():
    assert q.tail(2, "abc") == "bc" and q.tail(1, {"a": 1, "b": 2}) == ("b",)  # slicing a dict: KeyError
    assert q.tail(2**64 - 1, [1, 2]) == [1, 2]
    for bad, exc in ((-1, OverflowError), ("2", TypeError)):
        assert raises(exc, lambda: q.tail(bad, [1])).__notes__ == ["while processing 'n'"]
    # Only TypeError and KeyError fall back to iteration.
    raises(Boom, lambda: q.tail(1, type("BadSlice", (), {"__getitem__": boom})()))
    raises(Boom, lambda: q.tail(3, Source([1], fail_at={1})))


def test_iterate_and_interleave():
    calls = []
    it = q.iterate(lambda v: calls.append(v) or v * 2, 1)
    assert calls == [] and [next(it), next(it), next(it)] == [1, 2, 4] and calls == [1, 2]
    it = q.iterate(lambda v: v + 1 if v < 2 else boom(), 1)
    assert [next(it), next(it)] == [1, 2]
    raises(Boom, lambda: next(it))
    assert list(it) == []  # a failure ends it for good
    for seqs, exc in (([1, [2]], TypeError), (Source([[1]], fail_at={1}), Boom)):
        raises(exc, lambda: q.interleave(seqs))
    # An error keeps the position: the same source is asked again.
    it = q.interleave([Source(["x"], fail_at={0}), [10, 20]])
    raises(Boom, lambda: next(it))
    assert list(it) == ["x", 10, 20]
    raises(StopIteration, lambda: next(it))


def test_failing_user_code_drops_the_element_and_keeps_the_state():
    assert list(q.accumulate(lambda t, x: (t, x), [1], None)) == [None, (None, 1)]  # None is a start
    raises(TypeError, lambda: q.accumulate(add, 5, 1, 2), "^accumulate takes at most 3 arguments$")  # before iter(seq)
    it = q.accumulate(lambda t, x: boom() if x == 2 else t + x, src := Source([1, 2, 3]))
    assert src.taken == 0 and next(it) == 1
    raises(Boom, lambda: next(it))
    assert list(it) == [4]  # the total was kept
    assert list(q.remove(bool, [0, "", 1, [], "a"])) == [0, "", []]
    bad_bool = type("BadBool", (), {"__bool__": boom})()
    it = q.remove(lambda v: bad_bool if v == 1 else False, [1, 2])
    raises(Boom, lambda: next(it))
    assert list(it) == [2]


def test_errors_pass_through_and_sources_are_asked_again_after_the_end():
    raiser = raising(err := Boom())
    for it in (q.remove(raiser, [1]), q.accumulate(raiser, [1, 2]), q.iterate(raiser, 0),
               q.interleave([then_raise([], err)])):
        assert raises(Boom, lambda: list(it)) is err
    it = q.remove(bool, Source([0, 0], end_at={1}))
    assert list(it) == [0] and list(it) == [0]
    it = q.accumulate(add, Source([1, 2], end_at={1}))
    assert list(it) == [1] and list(it) == [3]


def test_reentrant_next_raises_already_executing():
    seen = []

    def pred(v):
        raises(ValueError, lambda: next(it), "^iterator already executing$")
        seen.append(v)

    it = q.remove(pred, [1, 2])
    assert list(it) == [1, 2] and seen == [1, 2]


small = st.lists(st.integers(-5, 5), max_size=20)


@given(small, st.integers(0, 25), st.integers(1, 5))
def test_slicing_matches_list_slices(xs, n, step):
    assert list(q.take(n, xs)) == xs[:n] and list(q.drop(n, iter(xs))) == xs[n:]
    assert list(q.take_nth(step, xs)) == xs[::step]
    assert q.tail(n, iter(xs)) == tuple(xs[-n:] if n else xs)  # n = 0 keeps everything, as seq[-0:] does
    for seq in (xs, tuple(xs), type("Sub", (list,), {})(xs)):
        got = q.tail(n, seq)
        want = seq[-n:]
        assert type(got) is type(want) and got == want and (got is seq) == (want is seq)


@given(st.lists(small, max_size=6))
def test_interleave_matches_a_model(seqs):
    model, width = [], max(map(len, seqs), default=0)
    for i in range(width):
        model += [s[i] for s in seqs if i < len(s)]
    assert list(q.interleave(seqs)) == list(q.interleave(map(iter, seqs))) == model


@given(small, st.one_of(st.none(), st.integers()))
def test_accumulate_matches_itertools(xs, initial):
    rest = () if initial is None else (initial,)
    assert list(q.accumulate(sub, xs, *rest)) == list(itertools.accumulate(xs, sub, initial=initial))


class Num:
    """A number whose +, truth and str are logged; raises where it was told to."""

    def __init__(self, v, log, bad=None):
        self.v, self.log, self.bad = v, log, bad

    def _run(self, what, result):
        self.log.append((what, self.v))
        if what == self.bad:
            raise Boom(what)
        return result

    def __add__(self, other):
        return self._run("add", Num(self.v + getattr(other, "v", other), self.log))

    def __radd__(self, other):
        return self._run("radd", Num(other + self.v, self.log))

    def __bool__(self):
        return self._run("bool", bool(self.v))

    def __str__(self):
        return self._run("str", str(self.v))

    def __eq__(self, other):
        return type(other) is Num and other.v == self.v


@given(st.lists(st.tuples(st.integers(-2, 2), st.sampled_from([None, "plain", "add", "radd", "bool"])), max_size=8))
def test_operator_builtins_run_as_the_calls_they_wrap(drawn):
    """accumulate(operator.add) and remove(operator.truth or bool) take a direct route; values,
    calls into __add__/__bool__, errors and where they stop are those of itertools."""
    import operator

    def outcomes(make):
        log = []
        xs = [v if kind == "plain" else Num(v, log, kind) for v, kind in drawn]
        return [getattr(x, "v", x) if not isinstance(x, type) else x for x in drain(make(xs))], log

    assert outcomes(lambda xs: q.accumulate(operator.add, xs)) == outcomes(lambda xs: itertools.accumulate(xs, operator.add))
    assert outcomes(lambda xs: q.accumulate(operator.add, iter(xs), 1)) == outcomes(
        lambda xs: itertools.accumulate(xs, operator.add, initial=1))
    for pred in (operator.truth, bool):
        assert outcomes(lambda xs: q.remove(pred, xs)) == outcomes(lambda xs: itertools.filterfalse(pred, xs))
