"""merge, merge_with, get_in, assoc, dissoc, assoc_in, update_in, and the
key/value mapping and filtering family."""

import collections
import copy

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


class Counting:
    """A factory that records every container it makes."""

    def __init__(self, kind=dict):
        self.kind = kind
        self.made = []

    def __call__(self):
        self.made.append(self.kind())
        return self.made[-1]


class RevItems(dict):
    """A dict whose items() disagrees with its storage."""

    def items(self):
        return [(k, ("rev", v)) for k, v in reversed(list(super().items()))]


class BadItems:
    def __init__(self, items):
        self._items = items

    def keys(self):
        return [i[0] for i in self._items if isinstance(i, tuple) and i]

    def items(self):
        return list(self._items)


small_dicts = st.dictionaries(st.integers(0, 8), st.integers(), max_size=5)
paths = st.lists(st.sampled_from("abc"), min_size=1, max_size=4)
nested = st.recursive(st.integers(), lambda inner: st.dictionaries(st.sampled_from("abc"), inner, max_size=3),
                      max_leaves=8)


# ---- merge, merge_with --------------------------------------------------------

def test_merge_basics_and_single_collection_form():
    d = {1: "a"}
    assert q.merge() == {} and q.merge(d) == d and q.merge(d) is not d
    out = q.merge({1: "a"}, {1: "b", 2: "c"})
    assert out == {1: "b", 2: "c"} and list(out) == [1, 2]
    for coll in ([{1: 2}, {3: 4}], iter([{1: 2}, {3: 4}]), ({1: 2}, {3: 4})):
        assert q.merge(coll) == {1: 2, 3: 4}
    assert q.merge([]) == {} and q.merge(d, d, factory=None) == d  # keywords take the bound path
    f = Counting(collections.OrderedDict)
    out = q.merge({1: 1}, {2: 2}, factory=f)
    assert len(f.made) == 1 and out is f.made[0] and out == {1: 1, 2: 2}
    assert q.merge(factory=f) is f.made[1]
    pair = collections.namedtuple("Pair", "k v")
    m = BadItems([pair(1, "a"), pair(2, "b"), pair(1, "c"), (3, "d", "extra")])
    assert list(q.merge({}, m).items()) == [(1, "c"), (2, "b"), (3, "d")]


def test_merge_rejects_non_mappings():
    for args in (({1: 2}, 5), ([{1: 2}, 5],), ({1: 2}, {3: 4}, None)):
        with pytest.raises(TypeError, match=r"^'(int|NoneType)' object is not iterable$"):
            q.merge(*args)


def test_merge_subclass_anywhere_takes_the_general_path():
    sub = RevItems({1: "x", 2: "y"})
    assert q.merge({0: 0}, sub) == {0: 0, 2: ("rev", "y"), 1: ("rev", "x")}
    first = q.merge(sub, {3: 3})
    assert type(first) is dict and list(first.items()) == [(2, ("rev", "y")), (1, ("rev", "x")), (3, 3)]
    # a non-dict after exact dicts: the partial fast-path copy is discarded
    assert q.merge({1: 1}, {2: 2}, sub) == {1: ("rev", "x"), 2: ("rev", "y")}


@pytest.mark.parametrize("bad, exc, msg", [
    ([[1, 2]], TypeError, "^'list' object is not an instance of 'tuple'$"),
    ([(1,)], IndexError, "tuple index out of range"),
])
def test_items_must_be_pairs(bad, exc, msg):
    for call in (lambda m: q.merge({}, m), lambda m: q.merge_with(list, m), lambda m: q.assoc(m, 1, 2),
                 lambda m: q.valmap(str, m)):
        with pytest.raises(exc, match=msg):
            call(BadItems(bad))


def test_source_mutated_while_copied_is_reported():
    src = {i: i for i in range(4)}

    class Meddling(dict):
        def __setitem__(self, k, v):
            src[k + 100] = v
            super().__setitem__(k, v)

    with pytest.raises(RuntimeError, match="changed size during iteration"):
        q.merge(src, factory=Meddling)
    with pytest.raises(RuntimeError, match="changed size during iteration"):
        q.valmap(lambda v: src.pop(v + 1, v), src)


def test_merge_with():
    seen = []
    assert q.merge_with(lambda vs: seen.append(list(vs)) or sum(vs), {1: 1, 2: 2}, {1: 10}) == {1: 11, 2: 2}
    assert seen == [[1, 10], [2]]
    assert q.merge_with(sum, [{1: 1}, {1: 2}]) == {1: 3}
    assert q.merge_with(pytest.fail) == {}
    f = Counting(RevItems)
    out = q.merge_with(len, {"a": 1}, factory=f)
    assert out is f.made[0] and dict.items(out) == {"a": 1}.items()
    with pytest.raises(AttributeError, match="items"):
        q.merge_with(len, {1: 1}, 5, factory=f)
    assert len(f.made) == 1  # collecting failed before the container was made
    with pytest.raises(TypeError, match="unhashable"):
        q.merge_with(len, BadItems([([], 1)]))
    with pytest.raises(Boom):
        q.merge_with(lambda vs: (_ for _ in ()).throw(Boom()), {1: 1})


@given(st.lists(small_dicts, max_size=5))
def test_merge_and_merge_with_match_plain_models(ds):
    model = {}
    groups = {}
    for d in ds:
        model.update(d)
        for k, v in d.items():
            groups.setdefault(k, []).append(v)
    for out in (q.merge(*ds), q.merge(ds), q.merge(*ds, factory=collections.OrderedDict)):
        assert list(out.items()) == list(model.items())
    assert q.merge_with(tuple, *ds) == {k: tuple(v) for k, v in groups.items()}


# ---- get_in -------------------------------------------------------------------

def test_get_in_lookups_and_defaults():
    d = {"a": {"b": 1}}
    assert q.get_in(["a", "b"], d) == 1
    assert q.get_in(iter(["a", "b"]), d) == 1
    assert q.get_in(("a", "c"), d) is None
    assert q.get_in(["a", "c"], d, default=0) == 0
    assert q.get_in([0, "x"], [{"x": 5}]) == 5
    assert q.get_in([3], [1]) is None
    assert q.get_in(["a", 0], {"a": 5}) is None
    assert q.get_in([[]], {}) is None  # unhashable key: TypeError
    obj = object()
    assert q.get_in([], obj) is obj
    assert q.get_in(["k"], collections.defaultdict(lambda: 7)) == 7


def test_get_in_no_default_raises_the_lookup_error():
    with pytest.raises(KeyError) as info:
        q.get_in(["a", ("t", 1)], {"a": {}}, no_default=True)
    assert info.value.args == (("t", 1),)
    with pytest.raises(IndexError):
        q.get_in([3], [1], 0, True)
    with pytest.raises(TypeError, match="unhashable"):
        q.get_in([[]], {}, no_default=True)


def test_get_in_only_lookup_errors_become_the_default():
    class Odd:
        def __getitem__(self, k):
            raise ValueError(k)

    def keys():
        yield "a"
        raise KeyError("from the iterator")

    with pytest.raises(ValueError):
        q.get_in(["x"], Odd())
    with pytest.raises(KeyError, match="from the iterator"):
        q.get_in(keys(), {"a": {}})


@pytest.mark.parametrize("flag", [1, 0, "yes", None])
def test_get_in_no_default_is_strictly_boolean(flag):
    with pytest.raises(TypeError, match="is not an instance of 'bool'") as info:
        q.get_in(["a"], {"a": 1}, no_default=flag)
    assert info.value.__notes__ == ["while processing 'no_default'"]


# ---- assoc, dissoc, assoc_in, update_in -----------------------------------------

def test_assoc_and_dissoc_copy():
    d = {"a": 1, "b": 2}
    frozen = dict(d)
    assert list(q.assoc(d, "a", 3).items()) == [("a", 3), ("b", 2)]
    assert q.assoc(d, "c", 3) == {"a": 1, "b": 2, "c": 3}
    assert q.dissoc(d, "a", "z") == {"b": 2}
    assert q.dissoc(d) == d and q.dissoc(d) is not d
    assert d == frozen
    f = Counting(collections.OrderedDict)
    assert q.dissoc(RevItems(d), "a", factory=f) is f.made[0] == {"b": ("rev", 2)}
    with pytest.raises(TypeError, match="unhashable"):
        q.dissoc(d, [])


def test_assoc_in_rebuilds_the_path_and_shares_siblings():
    inner, sibling = {"b": 1}, {"s": [1]}
    d = {"a": inner, "z": sibling}
    snapshot = copy.deepcopy(d)
    out = q.assoc_in(d, ["a", "c"], 2)
    assert out == {"a": {"b": 1, "c": 2}, "z": {"s": [1]}}
    assert out["z"] is sibling and out["a"] is not inner and d == snapshot
    assert q.assoc_in({}, ["a", "b"], 1) == {"a": {"b": 1}}
    assert q.assoc_in({"a": 5}, ["a", "b"], 1, factory=None) == {"a": {"b": 1}}


def test_update_in_leaf_rule():
    calls = []

    def f(x):
        calls.append(x)
        return "new"

    assert q.update_in({"a": 1}, ["a"], f) == {"a": "new"}
    assert q.update_in({}, ["a"], f, default=10) == {"a": "new"}
    assert q.update_in({}, ["a"], f) == {"a": "new"}
    assert q.update_in({"a": [1, 2]}, ["a", 0], f) == {"a": {0: "new"}}
    assert calls == [1, 10, None, None]


def test_empty_path_is_a_bare_stop_iteration():
    for call in (lambda: q.assoc_in({}, [], 1), lambda: q.update_in({}, iter([]), len)):
        with pytest.raises(StopIteration) as info:
            call()
        assert info.value.args == ()


def test_factory_type_at_every_level():
    d = {"a": {"b": {"x": 1}}, "s": {}}
    od = collections.OrderedDict
    for out, path in ((q.assoc_in(d, ["a", "b", "c", "d"], 1, factory=od), "abcd"),
                      (q.update_in(d, ["a", "n", "m"], str, factory=od), "anm")):
        level = out
        for key in path:  # existing and created levels alike
            assert type(level) is od
            level = level[key]
        assert type(out["s"]) is dict and out["s"] is d["s"]
    assert type(q.assoc_in(d, ["a", "b", "c", "d"], 1, factory=od)["a"]["b"]["x"]) is int


def test_nested_update_lookup_errors():
    class Picky(dict):
        def __getitem__(self, k):
            raise LookupError(k)

    with pytest.raises(LookupError):
        q.assoc_in(Picky(a=1), ["a"], 2)
    with pytest.raises(Boom):
        q.assoc_in({}, ["a", "b"], 1, factory=lambda: (_ for _ in ()).throw(Boom()))


def test_long_paths_do_not_exhaust_the_native_stack():
    path = list(range(100_000))
    out = q.assoc_in({}, path, "leaf")
    assert q.get_in(path, out) == "leaf"


def _assoc_in_model(d, keys, value):
    out = dict(d) if isinstance(d, dict) else {}
    child = out.get(keys[0], {}) if isinstance(d, dict) else {}
    out[keys[0]] = value if len(keys) == 1 else _assoc_in_model(child, keys[1:], value)
    return out


@given(nested, paths)
def test_assoc_in_update_in_get_in_agree_with_models(d, path):
    d = {"root": d}
    path = ["root"] + path
    snapshot = copy.deepcopy(d)
    out = q.assoc_in(d, path, "v")
    assert out == _assoc_in_model(d, path, "v") and d == snapshot
    assert q.get_in(path, out) == "v"
    assert q.update_in(d, path, repr) == _assoc_in_model(d, path, repr(q.get_in(path, d)))


# ---- keymap, valmap, itemmap, keyfilter, valfilter, itemfilter -------------------

FAMILY = [q.keymap, q.valmap, q.itemmap, q.keyfilter, q.valfilter, q.itemfilter]


def test_mapping_family_results():
    d = {1: "a", 2: "b"}
    assert q.keymap(str, d) == {"1": "a", "2": "b"}
    assert list(q.keymap(lambda k: 0, {1: "a", 2: "b", 3: "c"}).items()) == [(0, "c")]
    assert q.valmap(len, {"a": [1, 2]}) == {"a": 2}
    assert q.itemmap(lambda kv: kv[::-1], {1: "a"}) == {"a": 1}
    assert q.itemmap(lambda kv: "ab", {1: 2}) == {"a": "b"}
    assert q.itemmap(lambda kv: (x for x in kv), {1: 2}) == {1: 2}
    assert q.keyfilter(lambda k: k > 1, d) == {2: "b"}
    assert q.valfilter(bool, {1: 0, 2: 3}) == {2: 3}
    seen = []
    assert q.itemfilter(lambda kv: seen.append(kv) or kv[0] == kv[1], {1: 1, 2: 3}) == {1: 1}
    assert seen == [(1, 1), (2, 3)]


@pytest.mark.parametrize("fn", FAMILY)
def test_mapping_family_factory_and_empty_input(fn):
    f = Counting(RevItems)
    assert fn(pytest.fail, {}, factory=f) is f.made[0] == {}
    out = fn(lambda x: x, RevItems({1: 2}), factory=f)
    assert out is f.made[1] and len(f.made) == 2


@pytest.mark.parametrize("fn", FAMILY)
def test_mapping_family_misbehaving_inputs(fn):
    f = Counting()
    with pytest.raises(AttributeError, match="items"):
        fn(lambda x: x, 42, factory=f)
    assert len(f.made) == 1  # the container comes before reading `d`
    with pytest.raises(TypeError, match="^'str' object is not an instance of 'tuple'$"):
        fn(lambda x: x, BadItems(["ab"]))

    def raises(x):
        raise Boom

    with pytest.raises(Boom):
        fn(raises, {1: 2})

    class Liar:
        def __bool__(self):
            raise Boom

    if fn in (q.keyfilter, q.valfilter, q.itemfilter):
        with pytest.raises(Boom):
            fn(lambda x: Liar(), {1: 2})


@pytest.mark.parametrize("ret, msg", [
    ((1,), "length < 2"), ([], "length < 2"), (iter([1]), "length < 2"),
    ((1, 2, 3), "length > 2"), ("abc", "length > 2"),
])
def test_itemmap_unpacking(ret, msg):
    with pytest.raises(ValueError, match=f"^dictionary update sequence element has {msg}; 2 is required$"):
        q.itemmap(lambda kv: ret, {1: 2})
    with pytest.raises(TypeError, match="not iterable"):
        q.itemmap(lambda kv: 5, {1: 2})


@given(small_dicts)
def test_mapping_family_matches_comprehensions(d):
    assert q.valmap(str, d) == {k: str(v) for k, v in d.items()}
    assert q.keymap(lambda k: k // 2, d) == {k // 2: v for k, v in d.items()}
    assert q.itemmap(lambda kv: (kv[1], kv[0]), d) == {v: k for k, v in d.items()}
    assert q.keyfilter(lambda k: k % 2, d) == {k: v for k, v in d.items() if k % 2}
    assert q.itemfilter(lambda kv: kv[0] < kv[1], d) == {k: v for k, v in d.items() if k < v}
