"""Some, NothingType, Ok and Err: construction, comparison and every method."""

import gc
import weakref

import pytest

import quibra._quibra as q
from quibra._quibra import Err, Nothing, NothingType, Ok, Some

PAYLOAD_CLASSES = [Some, Ok, Err]


class Boom(Exception):
    pass


class CountingEq:
    """Equal to nothing, not even itself; counts how often it is asked."""
    __hash__ = None

    def __init__(self):
        self.calls = 0

    def __eq__(self, other):
        self.calls += 1
        return False


class Raising:
    """Raises Boom from __eq__, __bool__ and __repr__."""

    def __eq__(self, *args):
        raise Boom

    __bool__ = __repr__ = __eq__


def test_class_properties_and_binding():
    for cls in [Some, NothingType, Ok, Err]:
        assert cls.__doc__ is None and cls.__module__ == "quibra._quibra" and cls.__hash__ is None
        with pytest.raises(TypeError):
            type("X", (cls,), {})
    assert [c.__text_signature__ for c in (Some, NothingType, Ok, Err)] == ["(value)", "()", "(value)", "(error)"]
    assert Some.map.__text_signature__ == "($self, f)" and NothingType.unwrap.__text_signature__ == "($self)"
    assert not isinstance(Some(1), q.Option) and not isinstance(Ok(1), q.Result)
    assert Some(value=3).value == 3 and Err(error="e").error == "e"
    a, b = NothingType(), NothingType()
    assert type(Nothing) is NothingType and a is not b and a is not Nothing


@pytest.mark.parametrize("call, message", [
    (lambda: Some(), "Some.__new__() missing 1 required positional argument: 'value'"),
    (lambda: Ok(val=1), "Ok.__new__() got an unexpected keyword argument 'val'"),
    (lambda: Err(1, error=2), "Err.__new__() got multiple values for argument 'error'"),
    (lambda: NothingType(1), "NothingType.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: Some(1).map(), "Some.map() missing 1 required positional argument: 'f'"),
    (lambda: Nothing.filter(), "NothingType.filter() missing 1 required positional argument: 'pred'"),
    (lambda: Err(1).map_err(), "Err.map_err() missing 1 required positional argument: 'f'"),
])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_instances_are_immutable_and_expose_the_payload_itself():
    payload = [1]
    for obj, attr in [(Some(payload), "value"), (Ok(payload), "value"), (Err(payload), "error")]:
        assert getattr(obj, attr) is payload
        with pytest.raises(AttributeError):
            setattr(obj, attr, 2)
        with pytest.raises(AttributeError):
            obj.x = 2


def test_match_over_all_four_classes():
    def describe(x):
        match x:
            case Some(v):
                return ("some", v)
            case NothingType():
                return ("nothing",)
            case Ok(value=v):
                return ("ok", v)
            case Err(e):
                return ("err", e)
        return None

    assert [describe(x) for x in (Some(3), NothingType(), Ok(None), Err("boom"), 3)] == [
        ("some", 3), ("nothing",), ("ok", None), ("err", "boom"), None]


# ---- equality, truth, repr, hash ---------------------------------------------

@pytest.mark.parametrize("left, right, equal", [
    (Some(1), Some(1.0), True), (Some(1), Some(2), False), (Some(1), 1, False),
    (Some(None), Nothing, False), (NothingType(), Nothing, True), (Nothing, None, False),
    (Ok(1), Ok(1), True), (Ok(1), Err(1), False), (Ok(1), Some(1), False),
    (Err("x"), Err("y"), False), (Some(Some(1)), Some(Some(1)), True),
])
def test_equality_table(left, right, equal):
    assert (left == right, left != right, right == left) == (equal, not equal, equal)


def test_equality_has_no_identity_shortcut_and_ignores_foreign_eq():
    for cls in PAYLOAD_CLASSES:
        payload = CountingEq()
        box = cls(payload)
        assert (box == box, box != box) == (False, True)
        assert payload.calls == 2
    for obj in (Some(1), Nothing, Ok(1), Err(1)):
        assert (obj == Raising()) is False  # the other operand is never asked
    for cls in PAYLOAD_CLASSES:
        with pytest.raises(Boom):
            cls(Raising()) == cls(1)
        with pytest.raises(Boom):
            cls(1) != cls(Raising())  # 1 == Raising() falls back to Raising.__eq__


def test_ordering_and_hashing_are_refused():
    for a, b in [(Some(1), Some(2)), (Nothing, Nothing), (Ok(1), Ok(2)), (Err(1), Err(2))]:
        for op in ("<", "<=", ">", ">="):
            with pytest.raises(TypeError):
                eval(f"a {op} b")
        with pytest.raises(TypeError):
            {a}


def test_truth_and_repr():
    assert all(bool(x) for x in (Some(0), Some(None), Ok(None), Ok(False)))
    assert not any(bool(x) for x in (Nothing, Err(1), Err(True)))
    assert repr(Some(Some("a"))) == "Some(Some('a'))" and str(NothingType()) == "Nothing"
    assert str(Ok([1])) == "Ok([1])" and repr(Err(ValueError("x"))) == "Err(ValueError('x'))"
    for cls in PAYLOAD_CLASSES:
        with pytest.raises(Boom):
            repr(cls(Raising()))


# ---- methods -----------------------------------------------------------------------

def test_mapping_and_filtering():
    assert Some(1).map(lambda v: None) == Some(None)
    s = Some([2])
    kept = s.filter(lambda v: v[0] > 1)
    assert type(kept) is Some and kept is not s and kept.value is s.value
    assert Ok(1).map(lambda v: v * 10) == Ok(10) and Err(1).map_err(str) == Err("1")
    e, v = ValueError("e"), [1]
    assert Err(e).map(None).error is e and Err(e).and_then(None).error is e
    assert Ok(v).map_err(None).value is v
    with pytest.raises(Boom):
        Some(1).filter(lambda v: Raising())  # truth test of the verdict fails
    # Empty results are always fresh instances, never the module's Nothing.
    for empty in (Some(1).filter(lambda v: 0), Nothing.map(None), Nothing.and_then(None),
                  Nothing.filter(None), Ok(1).err(), Err(1).ok()):
        assert type(empty) is NothingType and empty is not Nothing


def test_and_then_returns_the_callbacks_value_itself():
    for box, good, bad, message in [
        (Some(1), (Some(2), Nothing), (None, 2, Ok(1), Err(1)), "and_then callback must return an Option"),
        (Ok(1), (Ok(2), Err(1)), (None, 2, Some(1), Nothing), "and_then callback must return a Result"),
    ]:
        for target in good:
            assert box.and_then(lambda v: target) is target
        for target in bad:
            with pytest.raises(TypeError) as info:
                box.and_then(lambda v: target)
            assert str(info.value) == message


@pytest.mark.parametrize("call", [
    lambda f: Some(1).map(f), lambda f: Some(1).and_then(f), lambda f: Some(1).filter(f),
    lambda f: Nothing.unwrap_or_else(f), lambda f: Ok(1).map(f), lambda f: Ok(1).and_then(f),
    lambda f: Err(1).map_err(f),
])
def test_callback_exception_arrives_unchanged(call):
    raised = Boom()

    def f(*args):
        raise raised

    with pytest.raises(Boom) as info:
        call(f)
    assert info.value is raised


@pytest.mark.parametrize("call", [
    lambda f: Nothing.map(f), lambda f: Nothing.and_then(f), lambda f: Nothing.filter(f),
    lambda f: Some(1).unwrap_or_else(f), lambda f: Err(1).map(f), lambda f: Err(1).and_then(f),
    lambda f: Ok(1).map_err(f),
])
def test_callbacks_never_called_on_the_other_side(call):
    def boom(*args):
        raise Boom

    for f in (boom, None, 42):
        call(f)


def test_leaving_the_option_and_result_world():
    payload = object()
    assert Some(payload).unwrap() is payload and Some(payload).unwrap_or(1) is payload
    assert Nothing.unwrap_or(None) is None and Nothing.unwrap_or_else(lambda: 5) == 5
    assert Ok(2).unwrap() == 2 and Ok(2).unwrap_or(0) == 2 and Err("e").unwrap_or(0) == 0
    assert (Some(1).ok_or("e"), Nothing.ok_or("e")) == (Ok(1), Err("e"))
    assert (Ok(1).ok(), Err("e").err()) == (Some(1), Some("e"))
    assert [x.is_some() for x in (Some(1), Nothing)] == [True, False]
    assert [x.is_none() for x in (Some(1), Nothing)] == [False, True]
    assert [(x.is_ok(), x.is_err()) for x in (Ok(1), Err(1))] == [(True, False), (False, True)]
    with pytest.raises(ValueError, match="^called `unwrap` on Nothing$"):
        Nothing.unwrap()
    with pytest.raises(ValueError) as info:
        Err(KeyError("k")).unwrap()
    assert str(info.value) == "called `unwrap` on Err(KeyError('k'))"
    with pytest.raises(Boom):
        Err(Raising()).unwrap()


# ---- memory ----------------------------------------------------------------------

class Sentinel:
    pass


def test_cycles_through_values_are_collected():
    def failing_call_kept_in_a_local():
        alive = Sentinel()
        result = q.Result.of(lambda: 1 / 0)  # its traceback reaches this frame
        assert not result
        return weakref.ref(alive)

    def value_inside_its_own_payload(cls):
        alive = Sentinel()
        box = [alive]
        box.append(cls(box))
        return weakref.ref(alive)

    refs = [failing_call_kept_in_a_local()] + [value_inside_its_own_payload(c) for c in PAYLOAD_CLASSES]
    gc.collect()
    assert [r() for r in refs] == [None] * len(refs)


def test_deeply_nested_values_are_freed_without_overflowing_the_stack():
    for cls in PAYLOAD_CLASSES:
        x = Nothing
        for _ in range(200_000):
            x = cls(x)
        del x
