"""take, drop, tail, concat, mapcat, interleave, iterate, accumulate, remove."""

import collections
import itertools
import operator

import quibra as q
from harness import floor, row

N = 100_000


def _gen(n):
    return (x for x in range(n))


def _interleave_gen(seqs):
    iters = [iter(s) for s in seqs]
    while iters:
        alive = []
        for it in iters:
            try:
                yield next(it)
            except StopIteration:
                continue
            alive.append(it)
        iters = alive


def _iterate_gen(func, x):
    while True:
        yield x
        x = func(x)


def _odd(v):
    return v % 2


row("take: 50k of a 100k list", "take", lambda: list(range(N)),
    lambda xs: list(q.take(N // 2, xs)), lambda xs: list(itertools.islice(xs, N // 2)),
    "list(islice(xs, n))")
row("drop: 50k of a 100k list", "drop", lambda: list(range(N)),
    lambda xs: list(q.drop(N // 2, xs)), lambda xs: list(itertools.islice(xs, N // 2, None)),
    "list(islice(xs, n, None))")
row("tail: last 10 of a 100k generator", "tail", lambda: N,
    lambda n: q.tail(10, _gen(n)), lambda n: tuple(collections.deque(_gen(n), maxlen=10)),
    "tuple(deque(g, maxlen=10))")
row("tail: last 10 of a 100k list iterator", "tail", lambda: list(range(N)),
    lambda xs: q.tail(10, iter(xs)), lambda xs: tuple(collections.deque(iter(xs), maxlen=10)),
    "tuple(deque(it, maxlen=10))")
row("take_nth: every 3rd of a 100k list", "take_nth", lambda: list(range(N)),
    lambda xs: list(q.take_nth(3, xs)), lambda xs: list(itertools.islice(xs, 0, None, 3)),
    "islice(xs, 0, None, 3)")
row("tail: last 10 of a 100k list", "tail", lambda: list(range(N)),
    lambda xs: q.tail(10, xs), lambda xs: xs[-10:], "xs[-10:]")
row("concat: 100 lists of 1000", "concat", lambda: [list(range(1000)) for _ in range(100)],
    lambda s: list(q.concat(s)), lambda s: list(itertools.chain.from_iterable(s)),
    "list(chain.from_iterable(seqs))")
row("mapcat: reversed over 100 lists of 1000", "mapcat", lambda: [list(range(1000)) for _ in range(100)],
    lambda s: list(q.mapcat(reversed, s)), lambda s: list(itertools.chain.from_iterable(map(reversed, s))),
    "list(chain.from_iterable(map(f, seqs)))")
row("interleave: 4 lists of 25k", "interleave", lambda: [list(range(N // 4)) for _ in range(4)],
    lambda s: list(q.interleave(s)), lambda s: list(_interleave_gen(s)), "generator function")
row("interleave: lists of 10 to 100k", "interleave",
    lambda: [list(range(10)), list(range(1000)), list(range(N - 1010))],
    lambda s: list(q.interleave(s)), lambda s: list(_interleave_gen(s)), "generator function")
row("interleave: 100k lists of 1", "interleave", lambda: [[x] for x in range(N)],
    lambda s: list(q.interleave(s)), lambda s: list(_interleave_gen(s)), "generator function")
row("iterate: 100k steps of (1).__add__", ("iterate", "take"), lambda: N,
    lambda n: list(q.take(n, q.iterate((1).__add__, 0))),
    lambda n: list(itertools.islice(_iterate_gen((1).__add__, 0), n)), "generator function + islice")
row("accumulate: operator.add over 100k ints", "accumulate", lambda: list(range(N)),
    lambda xs: list(q.accumulate(operator.add, xs)), lambda xs: list(itertools.accumulate(xs, operator.add)),
    "list(itertools.accumulate(xs, add))")
floor("accumulate: operator.add over 100k ints", "accumulate",
      lambda: (list(range(N)), [0, *itertools.accumulate(range(N - 1))]),
      lambda d: list(q.accumulate(operator.add, d[0])), lambda d: list(map(operator.add, d[1], d[0])),
      "the same additions by map(add, sums, xs)")
row("accumulate: lambda over 100k ints", "accumulate", lambda: list(range(N)),
    lambda xs: list(q.accumulate(lambda a, b: a + b, xs)),
    lambda xs: list(itertools.accumulate(xs, lambda a, b: a + b)), "list(itertools.accumulate(xs, f))")
row("remove: operator.truth over 100k ints", "remove", lambda: [i % 3 for i in range(N)],
    lambda xs: list(q.remove(operator.truth, xs)), lambda xs: list(itertools.filterfalse(operator.truth, xs)),
    "list(filterfalse(truth, xs))")
row("remove: Python predicate over 100k ints", "remove", lambda: list(range(N)),
    lambda xs: list(q.remove(_odd, xs)), lambda xs: list(itertools.filterfalse(_odd, xs)),
    "list(filterfalse(f, xs))")
floor("remove: Python predicate over 100k ints", "remove", lambda: list(range(N)),
      lambda xs: list(q.remove(_odd, xs)), lambda xs: collections.deque(map(_odd, xs), maxlen=0),
      "the predicate calls alone: deque(map(f, xs), maxlen=0)")
