"""Option and result values, factories and option-returning accessors."""

import collections

import quibra as q
from harness import row


def _inc(x):
    return x + 1


def _chain_quibra(xs):
    return [q.Option.of(x).map(_inc).unwrap_or(0) for x in xs]


def _chain_plain(xs):
    return [_inc(x) if x is not None else 0 for x in xs]


def _nested_quibra(d):
    return [q.get_in_opt(d, k, "b", 1).unwrap_or(None) for k in ("a", "x", "a")]


def _nested_plain(d):
    out = []
    for k in ("a", "x", "a"):
        try:
            out.append(d[k]["b"][1])
        except (KeyError, IndexError, TypeError):
            out.append(None)
    return out


def _gen(n):
    return (x for x in range(n))


def _result_quibra(xs):
    return [q.Result.of(lambda: 10 // x).unwrap_or(-1) for x in xs]


def _result_plain(xs):
    out = []
    for x in xs:
        try:
            out.append(10 // x)
        except Exception:
            out.append(-1)
    return out


row("Option.of(x).map(f).unwrap_or(d): 1000 values, half None", ("Option",),
    lambda: [None if i % 2 else i for i in range(1000)], _chain_quibra, _chain_plain,
    "f(x) if x is not None else d")
row("first_opt: list of 100", "first_opt", lambda: list(range(100)),
    lambda xs: q.first_opt(xs).unwrap_or(None), lambda xs: next(iter(xs), None), "next(iter(xs), None)")
row("last_opt: generator of 10k", "last_opt", lambda: 10_000,
    lambda n: q.last_opt(_gen(n)).unwrap(), lambda n: collections.deque(_gen(n), maxlen=1)[0], "deque(g, maxlen=1)[0]")
row("get_in_opt: 3 nested lookups, one missing", "get_in_opt", lambda: {"a": {"b": [0, 1, 2]}},
    _nested_quibra, _nested_plain, "d[k]['b'][1] in try/except")
row("Result.of(f).unwrap_or(d): 100 calls, 10% raising", ("Result",),
    lambda: [i % 10 for i in range(100)], _result_quibra, _result_plain, "try/except per call")
row("Some(x): 1000 values", "Some", lambda: list(range(1000)), lambda xs: list(map(q.Some, xs)),
    lambda xs: list(zip(xs)), "one-tuples: list(zip(xs))", check=False)
row("Option.of(x): 1000 values", "Option", lambda: list(range(1000)), lambda xs: list(map(q.Option.of, xs)),
    lambda xs: list(zip(xs)), "one-tuples: list(zip(xs))", check=False)
