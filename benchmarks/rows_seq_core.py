"""unique, interpose, sliding_window, partition_all, partition, pluck."""

import collections
import itertools
import operator
import random

import quibra as q
from harness import floor, row

N = 100_000


def _small_ints():
    rng = random.Random(7)
    return [rng.randrange(1000) for _ in range(N)]


def _strings():
    rng = random.Random(11)
    return [f"key-{rng.randrange(1000)}" for _ in range(N)]


def _deque_window(n, iterable):
    it = iter(iterable)
    window = collections.deque(itertools.islice(it, n - 1), maxlen=n)
    for x in it:
        window.append(x)
        yield tuple(window)


def _gen_interpose(el, seq):
    it = iter(seq)
    for x in it:
        yield x
        break
    for x in it:
        yield el
        yield x


def _unique_by(key, xs):
    seen, out = set(), []
    for x in xs:
        k = key(x)
        if k not in seen:
            seen.add(k)
            out.append(x)
    return out


row("unique: 100k small ints, 1k distinct", "unique", _small_ints,
    lambda xs: list(q.unique(xs)), lambda xs: list(dict.fromkeys(xs)), "list(dict.fromkeys(xs))")
row("unique: 100k strings, 1k distinct", "unique", _strings,
    lambda xs: list(q.unique(xs)), lambda xs: list(dict.fromkeys(xs)), "list(dict.fromkeys(xs))")
row("unique: 100k distinct ints", "unique", lambda: list(range(N)),
    lambda xs: list(q.unique(xs)), lambda xs: list(dict.fromkeys(xs)), "list(dict.fromkeys(xs))")
row("unique: 100k strings with key=len", "unique", _strings,
    lambda xs: list(q.unique(xs, key=len)), lambda xs: _unique_by(len, xs), "set-based loop")
# Windows consumed one at a time, the way an iterator is timed; the rows
# after it keep all 100k tuples alive in a list, which mostly times the
# allocator (both sides allocate the same tuples).
_sink = collections.deque(maxlen=0).extend
row("sliding_window: n=3 over 100k list", "sliding_window", lambda: list(range(N)),
    lambda xs: _sink(q.sliding_window(3, xs)), lambda xs: _sink(_deque_window(3, xs)), "deque recipe",
    check=False)
row("sliding_window: n=3 over 100k list, kept in a list", "sliding_window", lambda: list(range(N)),
    lambda xs: list(q.sliding_window(3, xs)), lambda xs: list(_deque_window(3, xs)), "deque recipe")
row("sliding_window: n=3 over 100k iterator, kept", "sliding_window", lambda: list(range(N)),
    lambda xs: list(q.sliding_window(3, iter(xs))), lambda xs: list(_deque_window(3, iter(xs))),
    "deque recipe")
row("interpose: 100k list", "interpose", lambda: list(range(N)),
    lambda xs: list(q.interpose(0, xs)), lambda xs: list(_gen_interpose(0, xs)), "generator function")
floor("interpose: 100k list", "interpose", lambda: (list(range(N)), list(range(2 * N))),
      lambda d: list(q.interpose(0, d[0])), lambda d: list(iter(d[1])), "list(iter(xs)) of 200k")
floor("sliding_window: n=3 over 100k list, kept in a list", "sliding_window", lambda: list(range(N)),
      lambda xs: list(q.sliding_window(3, xs)), lambda xs: list(zip(xs, xs, xs)), "list(zip(xs, xs, xs))")
row("partition_all: n=5 over 100k list", "partition_all", lambda: list(range(N)),
    lambda xs: list(q.partition_all(5, xs)), lambda xs: list(itertools.batched(xs, 5)),
    "itertools.batched(xs, 5)")
row("partition: n=5 over 100k list, padded", "partition", lambda: list(range(N + 3)),
    lambda xs: list(q.partition(5, xs, None)),
    lambda xs: list(itertools.zip_longest(*[iter(xs)] * 5, fillvalue=None)),
    "zip_longest(*[iter(xs)] * 5)")
row("pluck: index 0 of 100k pairs", "pluck", lambda: [(i, -i) for i in range(N)],
    lambda ps: list(q.pluck(0, ps)), lambda ps: list(map(operator.itemgetter(0), ps)),
    "map(itemgetter(0), pairs)")
row("pluck: key of 100k dicts", "pluck", lambda: [{"a": i, "b": -i} for i in range(N)],
    lambda ds: list(q.pluck("a", ds)), lambda ds: list(map(operator.itemgetter("a"), ds)),
    "map(itemgetter('a'), dicts)")
row("pluck: indices [0, 1] of 100k triples", "pluck", lambda: [(i, -i, 0) for i in range(N)],
    lambda ps: list(q.pluck([0, 1], ps)), lambda ps: list(map(operator.itemgetter(0, 1), ps)),
    "map(itemgetter(0, 1), triples)")
floor("pluck: indices [0, 1] of 100k triples", "pluck",
      lambda: ([(i, -i, 0) for i in range(N)], list(range(N)), [-i for i in range(N)]),
      lambda d: list(q.pluck([0, 1], d[0])), lambda d: list(zip(d[1], d[2])), "list(zip(firsts, seconds))")
