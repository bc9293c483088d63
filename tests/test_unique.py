"""unique: first occurrences by hash and equality, lazily."""

import array
import math

import pytest
from hypothesis import given, strategies as st

import quibra._quibra as q


class Boom(Exception):
    pass


class Colliding:
    """Equal by value, all with one hash; counts equality calls."""

    eq_calls = 0

    def __init__(self, v):
        self.v = v

    def __hash__(self):
        return 42

    def __eq__(self, other):
        Colliding.eq_calls += 1
        return isinstance(other, Colliding) and self.v == other.v

    def __repr__(self):
        return f"C({self.v})"


def model(xs, key=None):
    seen, out = [], []
    for x in xs:
        k = key(x) if key else x
        if k not in seen:
            seen.append(k)
            out.append(x)
    return out


def test_basics_and_laziness():
    assert list(q.unique([1, 2, 1, 3, 2])) == [1, 2, 3]
    assert list(q.unique(["a", "B", "b"], key=str.lower)) == ["a", "B"]
    assert list(q.unique([], key=None)) == []
    assert list(q.unique("abracadabra")) == list("abrcd")

    touched = []

    def gen():
        touched.append(1)
        yield 1

    it = q.unique(gen())
    assert touched == []
    assert list(it) == [1]
    with pytest.raises(TypeError):
        q.unique(5)


def test_equal_numbers_and_shared_hashes():
    assert list(q.unique([1, 1.0, True])) == [1]
    assert list(q.unique([True, 1, 1.0])) == [True]
    # -1 and -2 share a hash; equality tells them apart.
    assert list(q.unique([-1, -2, -1, -2])) == [-1, -2]
    assert list(q.unique([-1.0, -2, -1, -2.0])) == [-1.0, -2]
    # Wide ints go through the interpreter's hash and compare with small ones.
    big = 2**64 + 7
    assert list(q.unique([big, 2**64 + 7, 7, 2**61 - 1, 2**61 - 1, -(2**40), -(2**40)])) == [
        big, 7, 2**61 - 1, -(2**40)]
    # hash(2**61 - 1) == 0 collides with 0.
    assert list(q.unique([0, 2**61 - 1, 0.0])) == [0, 2**61 - 1]
    # Strings whose hash is not cached yet, and equal strings that are distinct objects.
    a = "".join(["x", "y"])
    b = "".join(["x", "y"])
    assert a is not b
    assert list(q.unique([a, b, "xy"])) == ["xy"] and list(q.unique([a, b]))[0] is a
    assert list(q.unique(["é", "e\u0301", "é"])) == ["é", "e\u0301"]


def test_nan_identity():
    nan = float("nan")
    assert len(list(q.unique([nan, nan]))) == 1
    assert len(list(q.unique([float("nan"), float("nan")]))) == 2


def test_colliding_hashes_and_equality_calls():
    Colliding.eq_calls = 0
    xs = [Colliding(i % 5) for i in range(20)]
    out = list(q.unique(xs))
    assert [c.v for c in out] == [0, 1, 2, 3, 4]
    assert out[0] is xs[0]
    # Identity is tried first: the same object never reaches __eq__.
    Colliding.eq_calls = 0
    one = Colliding(1)
    assert list(q.unique([one, one, one])) == [one]
    assert Colliding.eq_calls == 0


def test_stored_object_is_compared_first():
    order = []

    class Spy:
        def __init__(self, name):
            self.name = name

        def __hash__(self):
            return 1

        def __eq__(self, other):
            order.append((self.name, other.name))
            return False

    a, b = Spy("a"), Spy("b")
    list(q.unique([a, b]))
    assert order == [("a", "b")]


def test_errors_pass_through_and_drop_the_element():
    it = q.unique([1, [2], 3, {}, 1])
    assert next(it) == 1
    with pytest.raises(TypeError, match="unhashable"):
        next(it)
    assert next(it) == 3
    with pytest.raises(TypeError):
        next(it)
    assert list(it) == []

    with pytest.raises(TypeError):
        next(q.unique([[1], [1]]))

    def key(x):
        if x == 2:
            raise Boom
        return x

    it = q.unique([1, 2, 3], key=key)
    assert next(it) == 1
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [3]

    class BadEq:
        def __hash__(self):
            return 0

        def __eq__(self, other):
            raise Boom

    first = BadEq()
    it = q.unique([first, BadEq(), 5])
    assert next(it) is first
    with pytest.raises(Boom):
        next(it)
    assert list(it) == [5]

    class BadHash:
        def __hash__(self):
            raise Boom

    with pytest.raises(Boom):
        next(q.unique([BadHash()]))


def test_key_values_are_what_is_stored():
    got = list(q.unique(range(10), key=lambda x: x % 3))
    assert got == [0, 1, 2]
    # key=None is the same as no key.
    assert list(q.unique([1, 1], None)) == [1]
    # An unhashable key value fails even when the element is hashable.
    with pytest.raises(TypeError):
        next(q.unique([1], key=lambda x: [x]))


def test_growth_keeps_first_seen_order():
    xs = [(i * 7919) % 5000 for i in range(20000)]
    assert list(q.unique(xs)) == list(dict.fromkeys(xs))
    strs = [f"s{i % 1500}" for i in range(6000)]
    assert list(q.unique(strs)) == list(dict.fromkeys(strs))
    mixed = [Colliding(i) if i % 2 else float(i) for i in range(300)]
    assert list(q.unique(mixed + mixed)) == mixed


def test_buffers_are_plain_iterables_for_now():
    assert list(q.unique(b"abca")) == [97, 98, 99]
    assert list(q.unique(array.array("i", [3, 1, 3]))) == [3, 1]
    assert list(q.unique(array.array("q", [3, -1, 3]), key=abs)) == [3, -1]


hashables = st.one_of(
    st.integers(-3, 3), st.integers(), st.booleans(),
    st.floats(allow_nan=False), st.text(max_size=2),
    st.tuples(st.integers(-2, 2), st.text(max_size=1)),
)


@given(st.lists(hashables, max_size=60))
def test_matches_the_model(xs):
    assert list(q.unique(xs)) == model(xs)
    assert list(q.unique(iter(xs))) == model(xs)


@given(st.lists(st.integers(-1000, 1000), max_size=80), st.integers(1, 7))
def test_matches_the_model_with_a_key(xs, m):
    key = lambda x: x % m  # noqa: E731
    assert list(q.unique(xs, key=key)) == model(xs, key)


def test_inf_and_signed_zero():
    assert list(q.unique([0.0, -0.0, 0, math.inf, math.inf])) == [0.0, math.inf]
