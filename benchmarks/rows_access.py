"""Element access and counting."""

import collections
import itertools

import quibra as q
from harness import row


def _gen(n):
    return (x for x in range(n))


row("first: generator", "first", lambda: 1000, lambda n: q.first(_gen(n)),
    lambda n: next(iter(_gen(n))), "next(iter(g))")
row("second: list", "second", lambda: list(range(100)), q.second,
    lambda xs: next(itertools.islice(xs, 1, None)), "next(islice(xs, 1, None))")
row("nth: 500th of a generator", "nth", lambda: 1000, lambda n: q.nth(500, _gen(n)),
    lambda n: next(itertools.islice(_gen(n), 500, None)), "next(islice(g, 500, None))")
row("last: generator of 10k", "last", lambda: 10_000, lambda n: q.last(_gen(n)),
    lambda n: collections.deque(_gen(n), maxlen=1)[0], "deque(g, maxlen=1)[0]")
row("get: 100 indices of a list", "get", lambda: (list(range(0, 1000, 10)), list(range(1000))),
    lambda d: q.get(d[0], d[1]), lambda d: tuple(d[1][i] for i in d[0]), "tuple(xs[i] for i in idx)")
row("count: generator of 10k", "count", lambda: 10_000, lambda n: q.count(_gen(n)),
    lambda n: sum(1 for _ in _gen(n)), "sum(1 for _ in g)")
row("count: list iterator of 100k", "count", lambda: list(range(100_000)), lambda xs: q.count(iter(xs)),
    lambda xs: sum(1 for _ in iter(xs)), "sum(1 for _ in it)")
