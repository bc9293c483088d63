"""merge_sorted, join and diff: results, what the call does at once and what
waits for the first step, errors, and cycles through their iterators."""

import gc
import heapq
import itertools
import weakref

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q
from tests.helpers import Holder, Source, assert_calls_user_code_alike, assert_collected, drain as outcomes, raises


def test_merge_sorted():
    it = q.merge_sorted(src := Source([1, 4]), [2, 3], key=None)
    assert type(it) is q.RustIter and src.taken == 0
    assert list(it) == [1, 2, 3, 4] and list(q.merge_sorted()) == []
    assert list(q.merge_sorted([3, 1], [2], key=lambda x: -x)) == [3, 2, 1]
    assert outcomes(q.merge_sorted([1], 5)) == [TypeError]


@given(st.lists(st.lists(st.text("ab", max_size=2), max_size=6), max_size=4))
def test_merge_sorted_against_heapq(seqs):
    seqs = [sorted(s) for s in seqs]
    assert list(q.merge_sorted(*seqs)) == list(heapq.merge(*seqs)) == sorted(itertools.chain(*seqs))


# ---- join ------------------------------------------------------------------------------


def test_join_defaults_given_by_position():
    left, right = [(1, "a"), (2, "b")], [(1, "x"), (1, "y"), (3, "z")]
    inner = [((1, "a"), (1, "x")), ((1, "a"), (1, "y"))]
    assert list(q.join(0, left, 0, right, None, None)) == inner
    assert list(q.join(0, left, 0, right, "L", "R")) == [*inner, ("L", (3, "z")), ((2, "b"), "R")]


def test_join_key_forms_and_groups():
    left = [{"k": 2, "v": "p"}, {"k": 1, "v": "q"}, {"k": 2, "v": "r"}, {"k": 3, "v": "s"}]
    assert list(q.join("k", left, lambda r: r % 10, [12])) == [(left[0], 12), (left[2], 12)]
    # unmatched groups come last, in the order their keys were first met
    got = list(q.join(["k"], left, [0], [(3,)], right_default="R"))
    assert got == [(left[3], (3,)), (left[0], "R"), (left[2], "R"), (left[1], "R")]
    assert list(q.join(lambda x: x, [1.0, True], lambda x: x, [1])) == [(1.0, 1), (True, 1)]  # one key


def test_join_reads_left_at_the_first_step_and_right_as_it_goes():
    left, right = Source([(1, "a"), (2, "b"), (1, "c")]), Source(range(100))
    it = q.join(0, left, lambda r: r % 3, right)
    assert left.taken == right.taken == 0
    assert next(it) == ((1, "a"), 1) and left.taken == 3 and right.taken == 2
    assert next(it) == ((1, "c"), 1) and right.taken == 2


def test_join_errors():
    raises(TypeError, lambda: q.join(0, [], 0, 5), "not iterable")
    assert outcomes(q.join(0, 5, 0, []), 2) == [TypeError, TypeError]  # left waits for a step
    # an element that fails while the left side is filed is dropped; the next step goes on
    left = iter([(1, "a"), None, (1, "b")])
    assert outcomes(q.join(0, left, 0, [(1, "x")])) == [TypeError, ((1, "a"), (1, "x")), ((1, "b"), (1, "x"))]
    assert outcomes(q.join(0, [(1, "a")], 0, [(1, "x"), {}, (1, "y")])) == [
        ((1, "a"), (1, "x")), KeyError, ((1, "a"), (1, "y"))]
    assert outcomes(q.join(0, [([],)], 0, [])) == [TypeError]  # unhashable key


@given(st.lists(st.integers(0, 4), max_size=12), st.lists(st.integers(0, 4), max_size=12), st.booleans(),
       st.booleans())
def test_join_against_a_model(left, right, left_default, right_default):
    kw = {"left_default": "L" if left_default else None, "right_default": "R" if right_default else None}
    lefts, rights = list(enumerate(left)), list(enumerate(right))
    index = {}
    for l in lefts:
        index.setdefault(l[1], []).append(l)
    expected = []
    for r in rights:
        expected += [(l, r) for l in index.get(r[1], [])] or ([("L", r)] if left_default else [])
    if right_default:
        expected += [(l, "R") for k, group in index.items() if k not in right for l in group]
    assert list(q.join(1, lefts, 1, rights, **kw)) == expected


# ---- diff ------------------------------------------------------------------------------


@pytest.mark.parametrize("call, expected", [
    (lambda: q.diff("abc", "axc", "abd", default=0, other=1), [("b", "x", "b"), ("c", "c", "d")]),
    (lambda: q.diff(["a", "B"], ["A", "b"], key=str.lower), []),
    (lambda: q.diff(["a", "B"], ["A", "c"], key=str.lower, default="-"), [("B", "c")]),
    (lambda: q.diff([[1, 2], [1, 3]]), [(2, 3)]),
])
def test_diff(call, expected):
    assert list(call()) == expected


def test_diff_compares_with_eq_alone():
    nan = float("nan")
    assert list(q.diff([nan], [nan])) == [(nan, nan)]  # the same object, yet not equal to itself
    seen = []
    truthy = type("Truthy", (), {"__eq__": lambda s, o: seen.append((s, o)) or "yes"})
    a, b, c = truthy(), truthy(), truthy()
    assert list(q.diff([a], [b], [c])) == [] and seen == [(a, b), (a, c)]


def test_diff_call_time_and_later_errors():
    for args in (("abc",), ([[1, 2]],), ()):
        raises(TypeError, lambda: q.diff(*args), r"^Too few sequences given \(min 2 required\)$")
    raises(TypeError, lambda: q.diff([1, 2]), "'int' object is not iterable")  # the inputs are 1 and 2
    it = q.diff(a := Source([1]), b := Source([2]))
    assert a.taken == b.taken == 0 and list(it) == [(1, 2)]
    assert outcomes(q.diff([1, 2], [0, 2], key=lambda x: 1 / x)) == [ZeroDivisionError]
    it = q.diff([1], [2, 3], default=0)
    assert list(it) == [(1, 2), (0, 3)] and list(it) == []


@given(st.lists(st.lists(st.integers(0, 2), max_size=6), min_size=2, max_size=4), st.booleans())
def test_diff_against_a_model(seqs, fill):
    if fill:
        rows, got = itertools.zip_longest(*seqs), q.diff(*seqs, default=None)
    else:
        rows, got = zip(*seqs), q.diff(*seqs)
    assert list(got) == [row for row in rows if any(v != row[0] for v in row)]


# ---- cycles through the iterators ------------------------------------------------------


def filed(holder):
    it = q.join(0, [(1, holder), (1, "b")], 0, [(1, "x")])
    next(it)  # the left side is filed inside the iterator now
    return it


def filed_by_key(holder):
    box = [holder]
    it = q.join(lambda x: box.pop(), [1], 0, [])
    assert list(it) == []  # the filed key is kept past the end
    return it


@pytest.mark.parametrize("make", [
    lambda h: q.join(0, [(1, h)], 0, [(1, "x")]),
    lambda h: q.join(lambda x, h=h: x, [], 0, []),
    lambda h: q.join(0, [], 0, iter([h]), left_default=[h]),
    filed,
    filed_by_key,
    lambda h: q.diff([h], [1], default=[h], key=lambda x, h=h: x),
    lambda h: q.merge_sorted([h]),
], ids=["left", "leftkey", "right-and-default", "filed", "filed-key", "diff", "merge"])
def test_cycles_through_the_iterators_are_collected(make):
    assert_collected(make)


def test_a_right_element_holding_the_join_itself_is_collected():
    right, holder = [], Holder()
    it = q.join(0, [(1, "a"), (1, "b")], 0, right)
    right.append((1, it, holder))  # only tuples between the iterator and itself
    assert next(it) == ((1, "a"), right[0])  # the element waits for its second pair
    ref = weakref.ref(holder)
    del it, right, holder
    gc.collect()
    assert ref() is None  # the leak check sees whether the cycle itself was freed


mixed_keys = st.lists(st.tuples(st.integers(0, 3), st.booleans()), max_size=8)


@given(mixed_keys, mixed_keys, st.booleans())
def test_join_calls_user_code_as_a_dict_and_set_would(left, right, right_default):
    def split(keys):
        rows = [(k, i) for i, k in enumerate(keys)]
        return rows[:len(left)], rows[len(left):]

    def ours(keys):
        lefts, rights = split(keys)
        return list(q.join(0, lefts, 0, rights, **({"right_default": "R"} if right_default else {})))

    def model(keys):
        (lefts, rights), index, seen, out = split(keys), {}, set(), []
        for l in lefts:
            group = index.get(l[0])
            if group is not None:
                group.append(l)
            else:
                index[l[0]] = [l]
        for r in rights:
            group = index.get(r[0])
            if group is not None:
                seen.add(r[0])
                out += [(l, r) for l in group]
        if right_default:
            out += [(l, "R") for k, group in index.items() if k not in seen for l in group]
        return out

    assert_calls_user_code_alike(ours, model, left + right)
