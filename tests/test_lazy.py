"""take, drop, take_nth, tail, cons, concat, concatv, mapcat, interleave,
iterate, accumulate, remove."""

import itertools
from operator import add, sub

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


class Script:
    """An iterator replaying steps: Boom raises, END ends once, anything else is yielded."""

    END = object()

    def __init__(self, *steps):
        self.steps, self.taken = list(steps), 0

    def __iter__(self):
        return self

    def __next__(self):
        step = self.steps.pop(0) if self.steps else self.END
        self.taken += 1
        if step is Boom or step is self.END:
            raise Boom if step is Boom else StopIteration
        return step


def boom(*args):
    raise Boom


def test_delegations():
    assert type(q.take(1, [])) is itertools.islice and type(q.cons(0, [])) is itertools.chain
    assert list(q.take(None, [1, 2])) == [1, 2] and list(q.drop(None, [1])) == [1]
    assert list(q.concat([[1], (), "ab"])) == [1, "a", "b"]
    assert list(q.concatv([1], (2,), "ab")) == [1, 2, "a", "b"] and list(q.concatv()) == []
    assert list(q.mapcat(lambda x: [x, x], [1, 2])) == [1, 1, 2, 2]
    for call in (lambda: q.take(-1, [1]), lambda: q.drop("x", [1]), lambda: q.take_nth(0, [1])):
        with pytest.raises(ValueError, match="islice"):
            call()
    for call in (lambda: q.take(1, 5), lambda: q.take_nth(1, 5), lambda: q.concat(5), lambda: q.mapcat(str, 5)):
        with pytest.raises(TypeError, match="not iterable"):
            call()


def test_delegations_touch_inner_sequences_only_when_reached():
    for it in (q.cons(0, 5), q.concatv([0], 5)):
        assert next(it) == 0
        with pytest.raises(TypeError):
            next(it)
    calls = []
    it = q.mapcat(lambda x: calls.append(x) or [x], Script(1, 2))
    assert calls == []
    assert next(it) == 1 and calls == [1]


def test_tail():
    assert q.tail(2, [1, 2, 3]) == [2, 3] and q.tail(2, "abc") == "bc"
    assert q.tail(5, (1,)) == (1,)
    assert q.tail(1, {"a": 1, "b": 2}) == ("b",)  # slicing a dict fails with KeyError
    assert q.tail(2**64 - 1, [1, 2]) == [1, 2]
    # n = 0 keeps everything (on the iterating path too, see below), as seq[-0:] does.
    assert q.tail(0, [1, 2]) == [1, 2]
    for bad, exc in ((-1, OverflowError), ("2", TypeError)):
        with pytest.raises(exc) as info:
            q.tail(bad, [1])
        assert info.value.__notes__ == ["while processing 'n'"]
    with pytest.raises(Boom):  # only TypeError and KeyError fall back to iteration
        q.tail(1, type("BadSlice", (), {"__getitem__": boom})())
    with pytest.raises(TypeError, match="not iterable"):
        q.tail(1, 5)
    with pytest.raises(Boom):
        q.tail(3, Script(1, Boom))


def test_interleave():
    src = Script(1)
    q.interleave([src, [2]])
    assert src.taken == 0  # opened, not read
    for seqs, exc in (([1, [2]], TypeError), (Script([1], Boom), Boom)):
        with pytest.raises(exc):
            q.interleave(seqs)
    # An error keeps the position: the same source is asked again.
    it = q.interleave([Script(Boom, "x"), [10, 20]])
    with pytest.raises(Boom):
        next(it)
    assert list(it) == ["x", 10, 20]
    with pytest.raises(StopIteration):
        next(it)


def test_iterate():
    calls = []
    it = q.iterate(lambda v: calls.append(v) or v * 2, 1)
    assert calls == []
    assert [next(it), next(it), next(it)] == [1, 2, 4] and calls == [1, 2]
    it = q.iterate(lambda v: v + 1 if v < 2 else boom(), 1)
    assert [next(it), next(it)] == [1, 2]
    with pytest.raises(Boom):
        next(it)
    assert list(it) == []  # a failure ends it for good


def test_accumulate():
    assert list(q.accumulate(lambda t, x: (t, x), [1], None)) == [None, (None, 1)]  # None is a start
    with pytest.raises(TypeError, match="^accumulate takes at most 3 arguments$"):
        q.accumulate(add, 5, 1, 2)  # before iter(seq)
    with pytest.raises(TypeError, match="not iterable"):
        q.accumulate(add, 5)
    # A failing binop drops the element and keeps the total.
    src = Script(1, 2, 3)
    it = q.accumulate(lambda t, x: boom() if x == 2 else t + x, src)
    assert src.taken == 0 and next(it) == 1
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [4]


def test_remove():
    assert list(q.remove(bool, [0, "", 1, [], "a"])) == [0, "", []]
    with pytest.raises(TypeError, match="not iterable"):
        q.remove(bool, 5)
    bad_bool = type("BadBool", (), {"__bool__": boom})()
    it = q.remove(lambda v: bad_bool if v == 1 else False, [1, 2])
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [2]


def test_errors_pass_through_and_sources_are_asked_again_after_the_end():
    err = Boom()

    def raiser(*args):
        raise err

    for it in (q.remove(raiser, [1]), q.accumulate(raiser, [1, 2]), q.iterate(raiser, 0),
               q.interleave([(raiser(x) for x in [1])])):
        with pytest.raises(Boom) as info:
            list(it)
        assert info.value is err
    it = q.remove(bool, Script(0, Script.END, 0))
    assert list(it) == [0] and list(it) == [0]
    it = q.accumulate(add, Script(1, Script.END, 2))
    assert list(it) == [1] and list(it) == [3]


def test_reentrant_next_raises_already_executing():
    seen = []

    def pred(v):
        with pytest.raises(ValueError, match="^iterator already executing$"):
            next(it)
        seen.append(v)

    it = q.remove(pred, [1, 2])
    assert list(it) == [1, 2] and seen == [1, 2]


small = st.lists(st.integers(-5, 5), max_size=20)


@given(small, st.integers(0, 25), st.integers(1, 5))
def test_slicing_matches_list_slices(xs, n, step):
    assert list(q.take(n, xs)) == xs[:n] and list(q.drop(n, iter(xs))) == xs[n:]
    assert list(q.take_nth(step, xs)) == xs[::step]
    assert q.tail(n, iter(xs)) == tuple(xs[-n:] if n else xs)
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
