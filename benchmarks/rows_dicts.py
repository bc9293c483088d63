"""Dictionary functions."""

import quibra as q
from harness import row


def _five_small():
    return [{f"k{i}{j}": j for j in range(4)} | {"shared": i} for i in range(5)]


def _get_in_py(keys, coll, default=None, no_default=False):
    for k in keys:
        try:
            coll = coll[k]
        except (KeyError, IndexError, TypeError):
            if no_default:
                raise
            return default
    return coll


def _assoc_in_py(d, keys, value):
    new = dict(d)
    k = keys[0]
    new[k] = value if len(keys) == 1 else _assoc_in_py(d.get(k, {}), keys[1:], value)
    return new


def _nested():
    return {"a": {"b": {"c": 1, "d": 2}, "e": 3}, "f": {"g": 4}, "h": 5}


def _path(*keys):
    return lambda: (list(keys), _nested())


def _wide():
    return {i: i for i in range(1000)}


row("merge: five small dicts", "merge", _five_small, lambda ds: q.merge(*ds),
    lambda ds: {**ds[0], **ds[1], **ds[2], **ds[3], **ds[4]}, "{**a, **b, ...}")
row("merge: list of 100 dicts", "merge", lambda: [{i: i, -i: i} for i in range(100)], q.merge,
    lambda ds: {k: v for d in ds for k, v in d.items()}, "dict comprehension")
row("merge_with: sum over 3 dicts of 1k", "merge_with", lambda: [_wide(), _wide(), _wide()],
    lambda ds: q.merge_with(sum, *ds),
    lambda ds: {k: sum(d[k] for d in ds if k in d) for k in {k: None for d in ds for k in d}},
    "comprehension over keys")
row("get_in: depth 3, hit", "get_in", _path("a", "b", "c"), lambda a: q.get_in(a[0], a[1]),
    lambda a: _get_in_py(a[0], a[1]), "plain-Python get_in (try per level)")
row("get_in: depth 3, miss", "get_in", _path("a", "x", "c"), lambda a: q.get_in(a[0], a[1], 0),
    lambda a: _get_in_py(a[0], a[1], 0), "plain-Python get_in (try per level)")
row("assoc_in: depth 3", "assoc_in", _path("a", "b", "z"), lambda a: q.assoc_in(a[1], a[0], 9),
    lambda a: _assoc_in_py(a[1], a[0], 9), "nested dict copies")
row("valmap: 1k entries", "valmap", _wide, lambda d: q.valmap(str, d),
    lambda d: {k: str(v) for k, v in d.items()}, "dict comprehension")
row("keyfilter: 1k entries", "keyfilter", _wide, lambda d: q.keyfilter(bool, d),
    lambda d: {k: v for k, v in d.items() if k}, "dict comprehension")
