"""merge, merge_with, get_in, assoc, dissoc, assoc_in, update_in, and the
key/value mapping and filtering family."""

import collections
import copy

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from tests.helpers import Boom, assert_calls_user_code_alike, boom, raises, raising, then_raise

OD = collections.OrderedDict
FAMILY = [q.keymap, q.valmap, q.itemmap, q.keyfilter, q.valfilter, q.itemfilter]


class Counting(list):
    """A factory that keeps every container it makes."""

    def __init__(self, kind=dict):
        self.kind = kind

    def __call__(self):
        self.append(self.kind())
        return self[-1]


class RevItems(dict):
    """A dict whose items() disagrees with its storage."""

    def items(self):
        return [(k, ("rev", v)) for k, v in reversed(list(super().items()))]


class BadItems:
    """Passes for a mapping (it has keys()); items() returns whatever it was given."""

    def __init__(self, items):
        self._items = items

    def items(self):
        return list(self._items)

    keys = items


small_dicts = st.dictionaries(st.integers(0, 8), st.integers(), max_size=5)


def test_merge():
    d = {1: "a"}
    assert q.merge() == {} == q.merge([]) and q.merge(d) == d and q.merge(d) is not d
    assert q.merge(iter([{1: 2}, {3: 4}])) == q.merge(({1: 2}, {3: 4})) == {1: 2, 3: 4}
    assert q.merge(d, d, factory=None) == d  # keywords take the bound path
    f = Counting(OD)
    assert q.merge({1: 1}, {2: 2}, factory=f) is f[0] == {1: 1, 2: 2} and len(f) == 1
    assert q.merge(factory=f) is f[1]
    pair = collections.namedtuple("Pair", "k v")
    m = BadItems([pair(1, "a"), pair(2, "b"), pair(1, "c"), (3, "d", "extra")])
    assert list(q.merge({}, m).items()) == [(1, "c"), (2, "b"), (3, "d")]
    for args in (({1: 2}, 5), ([{1: 2}, 5],), ({1: 2}, {3: 4}, None)):
        raises(TypeError, lambda: q.merge(*args), r"^'(int|NoneType)' object is not iterable$")


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
@pytest.mark.parametrize("call", [lambda m: q.merge({}, m), lambda m: q.merge_with(list, m),
                                  lambda m: q.assoc(m, 1, 2), lambda m: q.valmap(str, m)])
def test_items_must_be_pairs(bad, exc, msg, call):
    raises(exc, lambda: call(BadItems(bad)), msg)


def test_source_mutated_while_copied_is_reported():
    src = {i: i for i in range(4)}

    class Meddling(dict):
        def __setitem__(self, k, v):
            src[k + 100] = v
            super().__setitem__(k, v)

    for call in (lambda: q.merge(src, factory=Meddling), lambda: q.valmap(lambda v: src.pop(v + 1, v), src)):
        raises(RuntimeError, call, "changed size during iteration")


def test_merge_with():
    assert q.merge_with(sum, [{1: 1}, {1: 2}]) == {1: 3} and q.merge_with(pytest.fail) == {}
    f = Counting(RevItems)
    assert q.merge_with(len, {"a": 1}, factory=f) is f[0] and dict.items(f[0]) == {"a": 1}.items()
    raises(AttributeError, lambda: q.merge_with(len, {1: 1}, 5, factory=f), "items")
    assert len(f) == 1  # collecting failed before the container was made
    raises(TypeError, lambda: q.merge_with(len, BadItems([([], 1)])), "unhashable")
    pytest.raises(Boom, q.merge_with, boom, {1: 1})
    assert q.merge_with(len, *[{k: 0 for k in range(i, 9)} for i in range(5)]) == {k: min(k, 4) + 1 for k in range(9)}


@given(st.lists(small_dicts, max_size=5))
def test_merge_and_merge_with_match_plain_models(ds):
    model, groups = {}, {}
    for d in ds:
        model.update(d)
        for k, v in d.items():
            groups.setdefault(k, []).append(v)
    for out in (q.merge(*ds), q.merge(ds), q.merge(*ds, factory=OD)):
        assert list(out.items()) == list(model.items())
    assert list(q.merge_with(tuple, *ds).items()) == [(k, tuple(v)) for k, v in groups.items()]


@given(st.lists(st.lists(st.tuples(st.integers(0, 4), st.booleans(), st.integers()), max_size=5), max_size=4))
def test_merge_with_calls_user_code_as_a_dict_of_lists_would(drawn):
    kept = []

    def dicts(keys):  # the keys of each drawn dict in turn
        keys = iter(keys)
        return [{next(keys): v for _, _, v in d} for d in drawn]

    def model(keys):
        groups, missing = {}, object()
        for d in dicts(keys):
            for k, v in d.items():
                found = groups.get(k, missing)
                if found is missing:
                    groups[k] = [v]
                else:
                    found.append(v)
        return {k: sum(vs) for k, vs in groups.items()}, list(groups.values())

    # The lists func was handed, compared after the call: one it keeps is never filled again.
    assert_calls_user_code_alike(lambda keys: (q.merge_with(lambda vs: kept.append(vs) or sum(vs), *dicts(keys)), kept),
                                 model, [(k, logged) for d in drawn for k, logged, _ in d])


def test_get_in():
    d, obj = {"a": {"b": 1}}, object()
    cases = [(iter(["a", "b"]), d, 1), ([0, "x"], [{"x": 5}], 5), ([3], [1], None), ([], obj, obj),
             ([[]], {}, None), (["k"], collections.defaultdict(lambda: 7), 7)]  # unhashable key: TypeError
    assert [q.get_in(keys, coll) for keys, coll, _ in cases] == [want for _, _, want in cases]
    assert q.get_in(["a", "c"], d, default=0) == 0
    assert raises(KeyError, lambda: q.get_in(["a", ("t", 1)], {"a": {}}, no_default=True)).args == (("t", 1),)
    pytest.raises(IndexError, q.get_in, [3], [1], 0, True)
    raises(TypeError, lambda: q.get_in([[]], {}, no_default=True), "unhashable")


def test_get_in_only_lookup_errors_become_the_default():
    pytest.raises(ValueError, q.get_in, ["x"], type("Odd", (), {"__getitem__": raising(ValueError())})())
    raises(KeyError, lambda: q.get_in(then_raise(["a"], KeyError("from the iterator")), {"a": {}}), "from the iterator")
    for flag in (1, 0, "yes", None):
        error = raises(TypeError, lambda: q.get_in(["a"], {"a": 1}, no_default=flag), "is not an instance of 'bool'")
        assert error.__notes__ == ["while processing 'no_default'"]


def test_assoc_and_dissoc_copy():
    d = {"a": 1, "b": 2}
    assert list(q.assoc(d, "a", 3).items()) == [("a", 3), ("b", 2)]
    assert q.assoc(d, "c", 3) == {"a": 1, "b": 2, "c": 3} and q.dissoc(d, "a", "z") == {"b": 2}
    assert q.dissoc(d) == d and q.dissoc(d) is not d and d == {"a": 1, "b": 2}
    f = Counting(OD)
    assert q.dissoc(RevItems(d), "a", factory=f) is f[0] == {"b": ("rev", 2)}
    raises(TypeError, lambda: q.dissoc(d, []), "unhashable")


def test_assoc_in_shares_siblings_update_in_leaf_and_empty_paths():
    d = {"a": {}, "z": {}}
    assert q.assoc_in(d, ["a", "b"], 1)["z"] is d["z"]
    assert q.update_in({}, ["a"], repr, default=10) == {"a": "10"}
    assert q.update_in({"a": [1, 2]}, ["a", 0], repr) == {"a": {0: "None"}}  # only dicts are walked into
    for call in (lambda: q.assoc_in({}, [], 1), lambda: q.update_in({}, iter([]), len)):
        assert raises(StopIteration, call).args == ()  # an empty path


def test_factory_type_at_every_level_and_lookup_errors():
    # a mapping that is no dict: its own lookup runs
    picky = type("Picky", (), {"keys": lambda s: ["a"], "items": lambda s: [("a", 1)],
                               "__getitem__": raising(LookupError())})
    d = {"a": {"b": {"x": 1}}, "s": {}}
    for out, path in ((q.assoc_in(d, ["a", "b", "c", "d"], 1, factory=OD), "abcd"),
                      (q.update_in(d, ["a", "n", "m"], str, factory=OD), "anm")):
        level = out
        for key in path:  # existing and created levels alike
            assert type(level) is OD
            level = level[key]
        assert type(out["s"]) is dict and out["s"] is d["s"]
    pytest.raises(LookupError, q.assoc_in, picky(), ["a"], 2)
    pytest.raises(Boom, q.assoc_in, {}, ["a", "b"], 1, factory=boom)


def test_nested_updates_never_write_into_a_defaultdict():
    # Its __missing__ would insert the default into the input.
    d = collections.defaultdict(dict)
    assert q.assoc_in(d, ["a", "b"], 1) == {"a": {"b": 1}} and d == {}
    seen = []
    counts = collections.defaultdict(int, n=1)
    out = q.update_in(counts, ["k"], lambda old: seen.append(old) or "new")
    assert out == {"n": 1, "k": "new"} and seen == [None] and counts == {"n": 1}
    assert q.update_in(collections.defaultdict(int), ["k"], str, default=5) == {"k": "5"}
    assert q.update_in(collections.Counter(k=2), ["k"], str) == {"k": "2"}


def test_long_paths_do_not_exhaust_the_native_stack():
    path = list(range(100_000))
    assert q.get_in(path, q.assoc_in({}, path, "leaf")) == "leaf"


def _assoc_in_model(d, keys, value):
    out = dict(d) if isinstance(d, dict) else {}
    child = out.get(keys[0], {}) if isinstance(d, dict) else {}
    out[keys[0]] = value if len(keys) == 1 else _assoc_in_model(child, keys[1:], value)
    return out


@given(st.recursive(st.integers(), lambda inner: st.dictionaries(st.sampled_from("abc"), inner, max_size=3),
                    max_leaves=8),
       st.lists(st.sampled_from("abc"), min_size=1, max_size=4))
def test_assoc_in_update_in_get_in_agree_with_models(d, path):
    d, path = {"root": d}, ["root"] + path
    snapshot = copy.deepcopy(d)
    out, updated = q.assoc_in(d, path, "v"), q.update_in(d, path, repr)
    assert out == _assoc_in_model(d, path, "v") and d == snapshot and q.get_in(path, out) == "v"
    assert updated == _assoc_in_model(d, path, repr(q.get_in(path, d)))


def test_mapping_family_results():
    assert q.itemmap(lambda kv: "ab", {1: 2}) == {"a": "b"} and q.itemmap(iter, {1: 2}) == {1: 2}
    seen = []
    assert q.itemfilter(lambda kv: seen.append(kv) or kv[0] == kv[1], {1: 1, 2: 3}) == {1: 1}
    assert seen == [(1, 1), (2, 3)]
    for ret, msg in [((1,), "< 2"), ([], "< 2"), (iter([1]), "< 2"), ((1, 2, 3), "> 2"), ("abc", "> 2")]:
        raises(ValueError, lambda: q.itemmap(lambda kv: ret, {1: 2}),
               f"^dictionary update sequence element has length {msg}; 2 is required$")
    raises(TypeError, lambda: q.itemmap(lambda kv: 5, {1: 2}), "not iterable")


@given(small_dicts)
def test_mapping_family_matches_comprehensions(d):
    assert q.valmap(str, d) == {k: str(v) for k, v in d.items()}
    assert q.keymap(lambda k: k // 2, d) == {k // 2: v for k, v in d.items()}
    assert q.itemmap(lambda kv: (kv[1], kv[0]), d) == {v: k for k, v in d.items()}
    assert q.keyfilter(lambda k: k % 2, d) == {k: v for k, v in d.items() if k % 2}
    assert q.valfilter(lambda v: v > 0, d) == {k: v for k, v in d.items() if v > 0}
    assert q.itemfilter(lambda kv: kv[0] < kv[1], d) == {k: v for k, v in d.items() if k < v}


@pytest.mark.parametrize("fn", FAMILY)
def test_mapping_family_factory_and_misbehaving_inputs(fn):
    f = Counting(RevItems)
    assert fn(pytest.fail, {}, factory=f) is f[0] == {}
    assert fn(lambda x: x, RevItems({1: 2}), factory=f) is f[1] and len(f) == 2
    raises(AttributeError, lambda: fn(lambda x: x, 42, factory=f), "items")
    assert len(f) == 3  # the container comes before reading `d`
    raises(TypeError, lambda: fn(lambda x: x, BadItems(["ab"])), "^'str' object is not an instance of 'tuple'$")
    pytest.raises(Boom, fn, boom, {1: 2})
    if fn in (q.keyfilter, q.valfilter, q.itemfilter):
        pytest.raises(Boom, fn, lambda x: type("Liar", (), {"__bool__": boom})(), {1: 2})


def test_builtin_callbacks_called_directly_answer_as_called():
    class Text(str):
        pass

    class Shown:
        def __init__(self, out):
            self.out = out

        def __str__(self):
            return self.out if isinstance(self.out, str) else boom()

    def outcome(call):
        try:
            got = call()
        except Exception as e:
            return type(e), str(e)
        return got, [type(v) for v in got.values()]

    class Count(int):
        def __repr__(self):
            return "count"

    for d in ({1: Text("t"), 2: Shown(Text("u")), 3: 4, 4: -5, 5: Count(6)}, {1: 2, 2: Shown(None)},
              {1: 10**5000}):
        for f in (str, repr, abs, len):
            assert outcome(lambda: q.valmap(f, d)) == outcome(lambda: {k: f(v) for k, v in d.items()})
            assert outcome(lambda: q.keymap(f, d)) == outcome(lambda: {f(k): v for k, v in d.items()})
