"""What every native iterator shares: the guard, sources, hints, ownership."""

import gc
import operator
import weakref

import pytest

import quibra._quibra as q


class Boom(Exception):
    pass


class Source:
    """An iterator that can raise at chosen positions and be weakly referenced."""

    def __init__(self, items, fail_at=()):
        self.items = list(items)
        self.fail_at = set(fail_at)
        self.pos = 0
        self.calls = 0

    def __iter__(self):
        return self

    def __next__(self):
        self.calls += 1
        if self.pos in self.fail_at:
            self.fail_at.discard(self.pos)
            raise Boom(self.pos)
        if self.pos >= len(self.items):
            raise StopIteration
        self.pos += 1
        return self.items[self.pos - 1]


MAKERS = {
    "unique": lambda s: q.unique(s),
    "interpose": lambda s: q.interpose(0, s),
    "sliding_window": lambda s: q.sliding_window(2, s),
    "pluck": lambda s: q.pluck(0, s),
    "partition_all": lambda s: q.partition_all(2, s),
}
CLASS_NAMES = {
    "unique": "UniqueIter", "interpose": "InterposeIter", "sliding_window": "SlidingWindowIter",
    "pluck": "PluckIter", "partition_all": "RustIter",
}


@pytest.mark.parametrize("name", MAKERS)
def test_class_shape(name):
    it = MAKERS[name](Source([(1,), (2,)]))
    cls = type(it)
    assert cls.__name__ == CLASS_NAMES[name] and cls.__module__ == "quibra._quibra"
    assert iter(it) is it
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(AttributeError):
        it.extra = 1
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    if cls is q.RustIter:
        assert cls.__doc__ is None and not hasattr(it, "__length_hint__")
    else:
        assert cls.__doc__ and "spec" not in cls.__doc__.lower()
        assert cls.__length_hint__.__text_signature__ == "($self)"
    assert not hasattr(q, CLASS_NAMES[name]) or cls is q.RustIter


def test_length_hint_docstrings():
    docs = {
        q.unique([]): "Upper bound (PEP 424 allows estimates): every remaining source\n"
                      "element could be new. Lets consumers preallocate.",
        q.sliding_window(2, []): "Exact for list sources (one window per remaining element once\n"
                                 "primed), the source's own hint otherwise.",
        q.pluck(0, []): "One output per remaining source element (PEP 424): exact for list\n"
                        "sources, the source's own hint otherwise.",
        q.interpose(0, [1]): "k source items yield 2k-1 outputs (a separator before every item but\n"
                             "the first). Exact for list sources, the source's own hint otherwise.",
    }
    for it, doc in docs.items():
        assert type(it).__length_hint__.__doc__ == doc


def test_reentrant_next_from_a_key_function():
    holder = {}
    seen_errors = []

    def key(x):
        try:
            next(holder["it"])
        except ValueError as e:
            seen_errors.append(str(e))
        with pytest.raises(ValueError, match="iterator already executing"):
            holder["it"].__length_hint__()
        return x

    holder["it"] = q.unique([1, 2, 1, 3], key=key)
    assert list(holder["it"]) == [1, 2, 3]
    assert seen_errors == ["iterator already executing"] * 4
    holder.clear()  # the iterator is not collected: break the cycle through its key


def test_reentrant_error_escaping_drops_the_element_only():
    holder = {}

    def key(x):
        if x == 2 and not holder.get("raised"):
            holder["raised"] = True
            next(holder["it"])
        return x

    it = holder["it"] = q.unique([1, 2, 3, 2], key=key)
    assert next(it) == 1
    with pytest.raises(ValueError, match="iterator already executing"):
        next(it)
    assert list(it) == [3, 2]  # the failed 2 was dropped, never stored
    holder.clear()


@pytest.mark.parametrize("name", ["unique", "interpose", "sliding_window", "pluck", "partition_all"])
def test_usable_after_a_source_error(name):
    src = Source([(i,) for i in range(6)], fail_at={3})
    it = MAKERS[name](src)
    got = []
    with pytest.raises(Boom):
        for x in it:
            got.append(x)
    got.extend(it)
    flat = [x for x in got if x != 0]
    expected = {
        "unique": [(0,), (1,), (2,), (3,), (4,), (5,)],
        "pluck": [1, 2, 3, 4, 5],  # 0 filtered out above
        "interpose": [(0,), (1,), (2,), (3,), (4,), (5,)],
        "sliding_window": [((0,), (1,)), ((1,), (2,)), ((2,), (3,)), ((3,), (4,)), ((4,), (5,))],
        # the chunk being collected when the source raised is lost
        "partition_all": [((0,), (1,)), ((3,), (4,)), ((5,),)],
    }[name]
    assert flat == expected


def test_list_sources_follow_growth_and_truncation():
    xs = [1, 2, 3]
    it = q.unique(xs)
    assert next(it) == 1
    xs.append(4)
    assert list(it) == [2, 3, 4]
    xs.append(5)
    assert list(it) == []  # done stays done

    xs = [[1], [2], [3], [4]]
    it = q.pluck(0, xs)
    next(it)
    xs.clear()
    assert list(it) == []

    xs = [1, 2, 3]
    it = q.interpose(0, xs)
    assert [next(it), next(it)] == [1, 0]
    xs.append(9)
    assert list(it) == [2, 0, 3, 0, 9]

    xs = [1, 2, 3]
    it = q.sliding_window(2, xs)
    del xs[2:]
    assert list(it) == [(1, 2)]


def test_list_subclasses_are_read_through_their_own_iter():
    class Reversed(list):
        def __iter__(self):
            return reversed(self)

    r = Reversed([1, 2, 3])
    assert list(q.unique(r)) == [3, 2, 1]
    assert list(q.interpose(0, r)) == [3, 0, 2, 0, 1]
    assert list(q.sliding_window(2, r)) == [(3, 2), (2, 1)]
    assert list(q.pluck(0, Reversed([[1], [2]]))) == [2, 1]

    class Loud(list):
        def __iter__(self):
            raise AssertionError("exact lists are read by position")

    # An exact list never goes through list.__iter__ (it cannot be overridden),
    # but a subclass always does.
    with pytest.raises(AssertionError):
        q.unique(Loud([1]))


@pytest.mark.parametrize("name", MAKERS)
def test_source_is_owned_until_the_iterator_goes(name):
    src = Source([(1,), (2,), (3,)])
    ref = weakref.ref(src)
    it = MAKERS[name](src)
    del src
    list(it)
    gc.collect()
    assert ref() is not None  # exhaustion keeps the source
    del it
    gc.collect()
    assert ref() is None


def test_length_hints():
    assert operator.length_hint(q.unique([1, 1, 2])) == 3
    assert operator.length_hint(q.unique(x for x in [1])) == 0
    assert operator.length_hint(q.pluck(0, (x for x in [[1]]))) == 0
    it = q.interpose(0, (x for x in [1, 2]))
    assert operator.length_hint(it) == 1  # only the pending first element is known
    it = q.interpose(0, [1, 2, 3])
    hints = []
    for _ in it:
        hints.append(operator.length_hint(it))
    assert hints == [4, 3, 2, 1, 0]
    assert operator.length_hint(q.unique(iter(range(10)))) == 10  # the source's own hint


def test_hint_of_a_failing_source_is_zero():
    class BadHint:
        def __iter__(self):
            return self

        def __next__(self):
            raise StopIteration

        def __length_hint__(self):
            raise Boom

    assert q.unique(BadHint()).__length_hint__() == 0
    assert operator.length_hint(q.sliding_window(1, BadHint())) == 0


def test_ended_iterators():
    src = Source([1, 2])
    it = q.interpose(0, src)
    assert list(it) == [1, 0, 2]
    calls = src.calls
    with pytest.raises(StopIteration):
        next(it)
    assert src.calls == calls

    # Iterator sources of unique and pluck are asked again after the end.
    src = Source([1])
    it = q.unique(src)
    assert list(it) == [1]
    src.items.extend([2, 1])
    assert list(it) == [2]
    src = Source([[1]])
    it = q.pluck(0, src)
    assert list(it) == [1]
    src.items.append([2])
    assert list(it) == [2]
