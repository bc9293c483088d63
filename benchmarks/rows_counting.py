"""Counting, grouping, distinctness, top-k, sorted merges, joins and diffs
(rows are skipped until the functions exist)."""

import array
import collections
import functools
import heapq
import operator
import random

import quibra as q
from harness import floor, row

N = 100_000


def _ints():
    rng = random.Random(3)
    return [rng.randrange(1000) for _ in range(N)]


def _words():
    rng = random.Random(5)
    return [f"w{rng.randrange(5000)}" for _ in range(N)]


def _groupby(key, xs):
    out = collections.defaultdict(list)
    for x in xs:
        out[key(x)].append(x)
    return out


def _reduceby(key, op, xs):
    out = {}
    for x in xs:
        k = key(x)
        out[k] = op(out[k], x) if k in out else x
    return out


def _numpy_ints():
    import numpy
    return numpy.array(_ints(), dtype=numpy.int64)


def _numpy_counts(a):
    import numpy
    return numpy.unique(a, return_counts=True)


def _pairs(seed):
    rng = random.Random(seed)
    return [(rng.randrange(10_000), i) for i in range(10_000)]


def _join(left, right):
    index = {}
    for l in left:
        index.setdefault(l[0], []).append(l)
    for r in right:
        for l in index.get(r[0], ()):
            yield (l, r)


def _two_lists():
    a = _ints()
    return a, [x + 1 if i % 10 == 0 else x for i, x in enumerate(a)]


def _diff(a, b):
    for x, y in zip(a, b):
        if x != y:
            yield (x, y)


def _parity(x):
    return x & 1


row("frequencies: 100k small ints", "frequencies", _ints, lambda xs: q.frequencies(xs),
    lambda xs: collections.Counter(xs), "collections.Counter(xs)")
row("frequencies: 100k strings", "frequencies", _words, lambda xs: q.frequencies(xs),
    lambda xs: collections.Counter(xs), "collections.Counter(xs)")
row("frequencies: 100k distinct ints", "frequencies", lambda: list(range(N)), lambda xs: q.frequencies(xs),
    lambda xs: collections.Counter(xs), "Counter(xs)")
row("frequencies: int64 array of 100k", "frequencies", _numpy_ints, lambda xs: q.frequencies(xs),
    _numpy_counts, "numpy.unique(a, return_counts=True)", check=False)
row("frequencies: array('q') of 100k", "frequencies", lambda: array.array("q", _ints()),
    lambda xs: q.frequencies(xs), lambda a: dict(collections.Counter(a)), "collections.Counter")
row("countby: parity of 100k ints", "countby", _ints, lambda xs: q.countby(_parity, xs),
    lambda xs: collections.Counter(map(_parity, xs)), "collections.Counter(map(key, xs))")
row("groupby: 100k ints by x % 10", "groupby", _ints, lambda xs: q.groupby(lambda x: x % 10, xs),
    lambda xs: _groupby(lambda x: x % 10, xs), "defaultdict(list) loop")
row("groupby: 100k pairs by item 0", "groupby", lambda: [(x % 10, x) for x in _ints()],
    lambda ps: q.groupby(0, ps), lambda ps: _groupby(operator.itemgetter(0), ps), "defaultdict(list) loop")
row("reduceby: sum of 100k ints by x % 10", "reduceby", _ints,
    lambda xs: q.reduceby(lambda x: x % 10, operator.add, xs),
    lambda xs: _reduceby(lambda x: x % 10, operator.add, xs), "dict loop")
row("isdistinct: 100k distinct ints", "isdistinct", lambda: list(range(N)), lambda xs: q.isdistinct(xs),
    lambda xs: len(set(xs)) == len(xs), "len(set(xs)) == len(xs)")
row("topk: 10 largest of 100k ints", "topk", _ints, lambda xs: list(q.topk(10, xs)),
    lambda xs: sorted(xs, reverse=True)[:10], "sorted(xs, reverse=True)[:10]")
row("topk: 10 largest of 100k ints, against heapq", "topk", _ints, lambda xs: list(q.topk(10, xs)),
    lambda xs: heapq.nlargest(10, xs), "heapq.nlargest(10, xs)")
row("topk: 10 largest of 100k strings", "topk", _words, lambda xs: list(q.topk(10, xs)),
    lambda xs: sorted(xs, reverse=True)[:10], "sorted(xs, reverse=True)[:10]")
row("topk: 10 largest of 100k floats", "topk", lambda: [x / 7 for x in _ints()],
    lambda xs: list(q.topk(10, xs)), lambda xs: sorted(xs, reverse=True)[:10],
    "sorted(xs, reverse=True)[:10]")
row("topk: 10 largest of an int64 array", "topk", _numpy_ints, lambda a: q.topk(10, a),
    lambda a: tuple(heapq.nlargest(10, a.tolist())), "heapq.nlargest(10, a.tolist())", check=False)
row("merge_sorted: 4 sorted lists of 25k", "merge_sorted", lambda: [sorted(_ints()[i::4]) for i in range(4)],
    lambda ls: list(q.merge_sorted(*ls)), lambda ls: list(heapq.merge(*ls)), "list(heapq.merge(...))")
row("join: 10k x 10k pairs on item 0", "join", lambda: (_pairs(7), _pairs(11)),
    lambda lr: list(q.join(0, lr[0], 0, lr[1])), lambda lr: list(_join(*lr)), "generator over a dict of lists")
row("diff: two lists of 100k, 1 in 10 differing", "diff", _two_lists,
    lambda ab: list(q.diff(*ab)), lambda ab: list(_diff(*ab)), "generator over zip")
row("Iter: map, filter, collect over 100k", "Iter", _ints,
    lambda xs: q.Iter(xs).map(abs).filter(bool).collect(),
    lambda xs: list(filter(bool, map(abs, xs))), "list(filter(bool, map(abs, xs)))")
row("Iter: reduce over 100k", "Iter", _ints, lambda xs: q.Iter(xs).reduce(operator.add),
    lambda xs: functools.reduce(operator.add, xs), "functools.reduce")
row("Iter: unique, take 10, collect over 100k", "Iter", _ints,
    lambda xs: q.Iter(xs).unique().take(10).collect(),
    lambda xs: list(q.take(10, q.unique(xs))), "list(take(10, unique(xs)))")
row("Iter: sliding_window(3), collect over 100k", "Iter", _ints,
    lambda xs: q.Iter(xs).sliding_window(3).collect(),
    lambda xs: list(q.sliding_window(3, xs)), "list(sliding_window(3, xs))")
row("Iter: make one and call one lazy method", "Iter", lambda: [1, 2, 3],
    lambda xs: q.Iter(xs).unique(), lambda xs: q.unique(xs), "unique(xs) alone", check=False)


# ---- typed int64 buffers: native scans against the numeric library -------------------
# Each workload runs twice: against the numeric library's own way, and against a.sum()
# on the same array (one pass over the memory), whose speed-up column reads as
# sum time / quibra time.

BIG_N = 5_000_000


def _big_few():
    import numpy
    rng = numpy.random.default_rng(17)
    values = rng.integers(-(1 << 62), 1 << 62, 100)
    return values[rng.integers(0, 100, BIG_N)]


def _big_distinct():
    import numpy
    return numpy.random.default_rng(19).permutation(2_000_000).astype(numpy.int64) * 1_000_003


def _big_strided():
    return _big_distinct() << 32  # distinct, with all low bits equal


def _top10(a):
    import numpy
    return tuple(numpy.sort(numpy.partition(a, -10)[-10:])[::-1].tolist())


def _numpy_unique(a):
    import numpy
    return numpy.unique(a)


def _typed_rows(name, needs, setup, quibra, baseline, baseline_name, check):
    row(f"{name}", needs, setup, quibra, baseline, baseline_name, check=check, tags=("typed",))
    row(f"{name} [vs sum]", needs, setup, quibra, lambda a: a.sum(), "a.sum()", check=False, tags=("typed",))


def _big_small_range():
    import numpy
    return numpy.random.default_rng(23).integers(0, 100, BIG_N)


def _big_million():
    import numpy
    return numpy.random.default_rng(29).integers(0, 1_000_000, BIG_N) * 7919


def _pandas_counts(a):
    import pandas
    return pandas.Series(a, copy=False).value_counts(sort=False)


def _pandas_unique(a):
    import pandas
    return pandas.unique(a)


def _bincount(a):
    import numpy
    return numpy.bincount(a)


def _numpy_dict(a):
    import numpy
    return dict(zip(*(x.tolist() for x in numpy.unique(a, return_counts=True))))


_typed_rows("frequencies: int64 5M, 100 distinct", "frequencies", _big_few, lambda a: q.frequencies(a),
            _numpy_counts, "numpy.unique(a, return_counts=True)", False)
_typed_rows("frequencies: int64 5M of 0..99", "frequencies", _big_small_range, lambda a: q.frequencies(a),
            _bincount, "numpy.bincount(a)", False)
for _name, _setup in (("0..99", _big_small_range), ("100 distinct", _big_few)):
    _typed_rows(f"frequencies: int64 5M {_name}, against pandas", "frequencies", _setup,
                lambda a: q.frequencies(a), _pandas_counts, "Series(a).value_counts(sort=False)", False)
    _typed_rows(f"list(unique): int64 5M {_name}, against pandas", "unique", _setup,
                lambda a: list(q.unique(a)), _pandas_unique, "pandas.unique(a)", False)
_typed_rows("frequencies: int64 5M, ~1M distinct", "frequencies", _big_million, lambda a: q.frequencies(a),
            _numpy_dict, "dict(zip(*numpy.unique(a, return_counts=True)))", True)


def _million_result_parts():
    """The array, with its distinct values in first-seen order and their counts as arrays."""
    import numpy
    a = _big_million()
    values, first, counts = numpy.unique(a, return_index=True, return_counts=True)
    order = numpy.argsort(first)
    return a, values[order], counts[order]


floor("frequencies: int64 5M, ~1M distinct", "frequencies", _million_result_parts,
      lambda d: q.frequencies(d[0]), lambda d: dict(zip(d[1].tolist(), d[2].tolist())),
      "the same dict from first-seen arrays")
_typed_rows("isdistinct: int64 2M distinct, against pandas", "isdistinct", _big_distinct,
            lambda a: q.isdistinct(a), lambda a: _pandas_unique(a).size == a.size,
            "pandas.unique(a).size == a.size", True)
_typed_rows("list(unique): int64 5M, 100 distinct", "unique", _big_few, lambda a: list(q.unique(a)),
            _numpy_unique, "numpy.unique(a)", False)
_typed_rows("next(unique): int64 5M, 100 distinct", "unique", _big_few, lambda a: next(q.unique(a)),
            _numpy_unique, "numpy.unique(a)", False)
_typed_rows("isdistinct: int64 2M distinct", "isdistinct", _big_distinct, lambda a: q.isdistinct(a),
            lambda a: len(_numpy_unique(a)) == len(a), "len(numpy.unique(a)) == len(a)", True)
_typed_rows("isdistinct: int64 2M distinct, all x 2^32", "isdistinct", _big_strided,
            lambda a: q.isdistinct(a), lambda a: len(_numpy_unique(a)) == len(a),
            "len(numpy.unique(a)) == len(a)", True)
_typed_rows("topk: 10 of int64 5M, 100 distinct", "topk", _big_few, lambda a: q.topk(10, a),
            _top10, "numpy.partition(a, -10)[-10:], sorted descending", True)
