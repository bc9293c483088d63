"""take, drop, take_nth, tail, cons, concat, concatv, mapcat, interleave,
iterate, accumulate, remove."""

import itertools
import operator

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


class Reads:
    """An iterator that records how many elements were taken from it."""

    def __init__(self, items):
        self.items, self.taken = list(items), 0

    def __iter__(self):
        return self

    def __next__(self):
        if self.taken >= len(self.items):
            raise StopIteration
        self.taken += 1
        return self.items[self.taken - 1]


class Resumable:
    """Ends, then delivers again: shows whether a consumer asks after the end."""

    def __init__(self, *rounds):
        self.rounds = [list(r) for r in rounds]

    def __iter__(self):
        return self

    def __next__(self):
        if self.rounds[0]:
            return self.rounds[0].pop(0)
        if len(self.rounds) > 1:
            self.rounds.pop(0)
        raise StopIteration


def test_delegations_return_the_interpreters_own_iterators():
    assert type(q.take(1, [])) is itertools.islice
    assert list(q.take(2, [1, 2, 3])) == [1, 2]
    assert list(q.take(None, [1, 2])) == [1, 2]
    assert list(q.drop(1, [1, 2, 3])) == [2, 3]
    assert list(q.drop(None, [1, 2])) == [1, 2]
    assert list(q.take_nth(2, [1, 2, 3, 4, 5])) == [1, 3, 5]
    assert type(q.cons(0, [])) is itertools.chain
    assert list(q.cons(0, [1, 2])) == [0, 1, 2]
    assert list(q.concat([[1], (), "ab"])) == [1, "a", "b"]
    assert list(q.concatv([1], (2,), "ab")) == [1, 2, "a", "b"]
    assert list(q.concatv()) == []
    assert list(q.mapcat(lambda x: [x, x], [1, 2])) == [1, 1, 2, 2]


def test_delegations_raise_islice_and_iter_errors_at_the_call():
    for call in (lambda: q.take(-1, [1]), lambda: q.drop("x", [1]), lambda: q.take_nth(0, [1])):
        with pytest.raises(ValueError, match="islice"):
            call()
    for call in (lambda: q.take(1, 5), lambda: q.drop(1, 5), lambda: q.take_nth(1, 5),
                 lambda: q.concat(5), lambda: q.mapcat(str, 5)):
        with pytest.raises(TypeError, match="not iterable"):
            call()


def test_delegations_touch_inner_sequences_only_when_iteration_reaches_them():
    it = q.cons(0, 5)
    assert next(it) == 0
    with pytest.raises(TypeError):
        next(it)
    it = q.concatv([1], 5)
    assert next(it) == 1
    with pytest.raises(TypeError):
        next(it)
    calls = []
    it = q.mapcat(lambda x: calls.append(x) or [x], Reads([1, 2]))
    assert calls == []
    assert next(it) == 1 and calls == [1]


def test_tail():
    assert q.tail(2, [1, 2, 3]) == [2, 3]
    assert q.tail(2, "abc") == "bc"
    assert q.tail(2, iter([1, 2, 3])) == (2, 3)
    assert q.tail(5, (1,)) == (1,)
    assert q.tail(5, iter([1])) == (1,)
    assert q.tail(1, {"a": 1, "b": 2}) == ("b",)  # KeyError from slicing: iterated
    assert q.tail(2**64 - 1, [1, 2]) == [1, 2]
    # n = 0 keeps everything on both paths, as seq[-0:] does.
    assert q.tail(0, [1, 2]) == [1, 2]
    assert q.tail(0, iter([1, 2])) == (1, 2)
    assert q.tail(0, iter([])) == ()


def test_tail_errors():
    for bad, exc in ((-1, OverflowError), ("2", TypeError)):
        with pytest.raises(exc) as info:
            q.tail(bad, [1])
        assert info.value.__notes__ == ["while processing 'n'"]

    class BadSlice:
        def __getitem__(self, k):
            raise Boom

        def __iter__(self):
            raise AssertionError("only TypeError and KeyError fall back to iteration")

    with pytest.raises(Boom):
        q.tail(1, BadSlice())
    with pytest.raises(TypeError, match="not iterable"):
        q.tail(1, 5)

    def gen():
        yield 1
        raise Boom

    with pytest.raises(Boom):
        q.tail(3, gen())


def test_interleave_round_robin_drops_exhausted_sources_in_order():
    assert list(q.interleave([[1, 2, 3], "ab", []])) == [1, "a", 2, "b", 3]
    assert list(q.interleave([iter("abc"), [1], iter("xy")])) == ["a", 1, "x", "b", "y", "c"]
    assert list(q.interleave([])) == []
    it = q.interleave(iter([[1]]))
    assert list(it) == [1]
    with pytest.raises(StopIteration):
        next(it)


def test_interleave_opens_every_source_at_the_call():
    with pytest.raises(TypeError, match="not iterable"):
        q.interleave([1, [2]])
    src = Reads([1])
    q.interleave([src, [2]])
    assert src.taken == 0

    def outer():
        yield [1]
        raise Boom

    with pytest.raises(Boom):
        q.interleave(outer())


def test_interleave_source_error_keeps_the_position():
    class FailsFirst:
        def __init__(self):
            self.items = [Boom, "x"]

        def __iter__(self):
            return self

        def __next__(self):
            if not self.items:
                raise StopIteration
            item = self.items.pop(0)
            if item is Boom:
                raise Boom
            return item

    it = q.interleave([FailsFirst(), [10, 20]])
    with pytest.raises(Boom):
        next(it)
    # The same source is asked again; once it ends it drops out of the round.
    assert list(it) == ["x", 10, 20]


def test_iterate():
    calls = []
    it = q.iterate(lambda v: calls.append(v) or v * 2, 1)
    assert calls == []
    assert [next(it) for _ in range(3)] == [1, 2, 4]
    assert calls == [1, 2]

    def once(v):
        if v == 2:
            raise Boom
        return v + 1

    it = q.iterate(once, 1)
    assert [next(it), next(it)] == [1, 2]
    with pytest.raises(Boom):
        next(it)
    with pytest.raises(StopIteration):
        next(it)


def test_accumulate():
    add = operator.add
    assert list(q.accumulate(add, [1, 2, 3])) == [1, 3, 6]
    assert list(q.accumulate(add, [1, 2, 3], 10)) == [10, 11, 13, 16]
    assert list(q.accumulate(add, [], 10)) == [10]
    assert list(q.accumulate(add, [])) == []
    assert list(q.accumulate(lambda t, x: (t, x), [1], None)) == [None, (None, 1)]
    with pytest.raises(TypeError, match="^accumulate takes at most 3 arguments$"):
        q.accumulate(add, 5, 1, 2)  # checked before iter(seq)
    with pytest.raises(TypeError, match="not iterable"):
        q.accumulate(add, 5)


def test_accumulate_binop_failure_keeps_the_total():
    def add(t, x):
        if x == 2:
            raise Boom
        return t + x

    src = Reads([1, 2, 3])
    it = q.accumulate(add, src)
    assert src.taken == 0
    assert next(it) == 1
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [4]


def test_remove():
    assert list(q.remove(lambda v: v % 2, [1, 2, 3, 4])) == [2, 4]
    assert list(q.remove(bool, [0, "", None, 1, [], "a"])) == [0, "", None, []]
    with pytest.raises(TypeError, match="not iterable"):
        q.remove(bool, 5)

    class BadBool:
        def __bool__(self):
            raise Boom

    it = q.remove(lambda v: BadBool() if v == 1 else False, [1, 2])
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [2]


def test_callback_errors_pass_through_unchanged():
    err = Boom()

    def raiser(*args):
        raise err

    for it in (q.remove(raiser, [1]), q.accumulate(raiser, [1, 2]), q.iterate(raiser, 0),
               q.interleave([(raiser(x) for x in [1])])):
        with pytest.raises(Boom) as info:
            list(it)
        assert info.value is err


def test_accumulate_and_remove_ask_their_source_again_after_the_end():
    it = q.remove(bool, Resumable([0], [0]))
    assert list(it) == [0] and list(it) == [0]
    it = q.accumulate(operator.add, Resumable([1], [2]))
    assert list(it) == [1] and list(it) == [3]


def test_reentrant_next_raises_already_executing():
    seen = []

    def pred(v):
        try:
            next(it)
        except ValueError as e:
            seen.append(str(e))
        return False

    it = q.remove(pred, [1, 2])
    assert list(it) == [1, 2]
    assert seen == ["iterator already executing"] * 2
    it = None  # the iterator is not collected by gc: break the cycle through pred


small = st.lists(st.integers(-5, 5), max_size=20)


@given(small, st.integers(0, 25), st.integers(1, 5))
def test_slicing_matches_list_slices(xs, n, step):
    assert list(q.take(n, xs)) == xs[:n]
    assert list(q.drop(n, iter(xs))) == xs[n:]
    assert list(q.take_nth(step, xs)) == xs[::step]
    assert list(q.tail(n, iter(xs))) == (xs[-n:] if n else xs)


@given(st.lists(small, max_size=5))
def test_interleave_matches_a_model(seqs):
    model, iters = [], [iter(s) for s in seqs]
    while iters:
        alive = []
        for it in iters:
            for x in it:
                model.append(x)
                alive.append(it)
                break
        iters = alive
    assert list(q.interleave(seqs)) == model


@given(small, st.one_of(st.none(), st.integers()))
def test_accumulate_matches_itertools(xs, initial):
    rest = () if initial is None else (initial,)
    assert list(q.accumulate(operator.sub, xs, *rest)) == list(itertools.accumulate(xs, operator.sub, initial=initial))
