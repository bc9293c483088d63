"""Some, NothingType, Ok and Err: construction, comparison and every method."""

import gc
import weakref

import pytest

import quibra._quibra as q
from quibra._quibra import Err, Nothing, NothingType, Ok, Some

PAYLOAD_CLASSES = [Some, Ok, Err]
ALL_CLASSES = [Some, NothingType, Ok, Err]


class Boom(Exception):
    pass


def boom(*args):
    raise Boom(args)


class CountingEq:
    """Equal to nothing, not even itself; counts how often it is asked."""

    def __init__(self):
        self.calls = 0

    def __eq__(self, other):
        self.calls += 1
        return False

    __hash__ = None


# ---- construction, binding and class properties ------------------------------

def test_class_properties():
    for cls in ALL_CLASSES + [q.Option, q.Result]:
        assert cls.__doc__ is None
        assert cls.__module__ == "quibra._quibra"
        assert cls.__hash__ is None or cls in (q.Option, q.Result)
        with pytest.raises(TypeError):
            type("X", (cls,), {})
    assert [c.__text_signature__ for c in ALL_CLASSES] == ["(value)", "()", "(value)", "(error)"]
    assert Some.map.__text_signature__ == "($self, f)"
    assert Err.map_err.__text_signature__ == "($self, f)"
    assert NothingType.unwrap.__text_signature__ == "($self)"
    assert not hasattr(NothingType, "__match_args__")
    assert not isinstance(Some(1), q.Option) and not isinstance(Ok(1), q.Result)


def test_constructors_bind_by_position_or_keyword():
    assert Some(value=3).value == 3
    assert Ok(value=None).value is None
    assert Err(error="e").error == "e"
    assert type(Nothing) is NothingType
    a, b = NothingType(), NothingType()
    assert a is not b and a is not Nothing


@pytest.mark.parametrize("call, message", [
    (lambda: Some(), "Some.__new__() missing 1 required positional argument: 'value'"),
    (lambda: Some(1, 2), "Some.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: Ok(val=1), "Ok.__new__() got an unexpected keyword argument 'val'"),
    (lambda: Err(1, error=2), "Err.__new__() got multiple values for argument 'error'"),
    (lambda: NothingType(1), "NothingType.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: Some(1).map(), "Some.map() missing 1 required positional argument: 'f'"),
    (lambda: Nothing.filter(), "NothingType.filter() missing 1 required positional argument: 'pred'"),
    (lambda: Err(1).map_err(), "Err.map_err() missing 1 required positional argument: 'f'"),
    (lambda: Ok(1).unwrap_or(), "Ok.unwrap_or() missing 1 required positional argument: 'default'"),
])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_instances_are_immutable():
    for obj, attr in [(Some(1), "value"), (Ok(1), "value"), (Err(1), "error")]:
        with pytest.raises(AttributeError):
            setattr(obj, attr, 2)
        with pytest.raises(AttributeError):
            obj.x = 2
    with pytest.raises(AttributeError):
        Nothing.x = 2


def test_payload_attribute_is_the_object_itself():
    payload = [1]
    for obj in (Some(payload), Ok(payload)):
        assert obj.value is payload
    assert Err(payload).error is payload


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

    assert describe(Some(3)) == ("some", 3)
    assert describe(NothingType()) == ("nothing",)
    assert describe(Ok(None)) == ("ok", None)
    assert describe(Err("boom")) == ("err", "boom")
    assert describe(3) is None


# ---- equality, truth, repr, hash ---------------------------------------------

@pytest.mark.parametrize("left, right, equal", [
    (Some(1), Some(1), True),
    (Some(1), Some(1.0), True),
    (Some(1), Some(2), False),
    (Some(1), 1, False),
    (Some(1), Nothing, False),
    (Some(None), Nothing, False),
    (NothingType(), Nothing, True),
    (Nothing, None, False),
    (Ok(1), Ok(1), True),
    (Ok(1), Err(1), False),
    (Ok(1), Some(1), False),
    (Err("x"), Err("y"), False),
    (Err("x"), Err("x"), True),
    (Some(Some(1)), Some(Some(1)), True),
])
def test_equality_table(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)
    assert (right == left) is equal


def test_no_identity_shortcut():
    for cls in PAYLOAD_CLASSES:
        payload = CountingEq()
        box = cls(payload)
        assert (box == box) is False
        assert (box != box) is True
        assert payload.calls == 2
    nan = Some(float("nan"))
    assert nan != nan


def test_other_operands_reflected_method_is_not_consulted():
    class Greedy:
        def __eq__(self, other):
            raise AssertionError("consulted")

    for obj in (Some(1), Nothing, Ok(1), Err(1)):
        assert (obj == Greedy()) is False


def test_payload_comparison_errors_propagate():
    class BadEq:
        def __eq__(self, other):
            raise Boom

    class BadBool:
        def __bool__(self):
            raise Boom

    class EqBadBool:
        def __eq__(self, other):
            return BadBool()

    for cls in PAYLOAD_CLASSES:
        for payload in (BadEq(), EqBadBool()):
            with pytest.raises(Boom):
                cls(payload) == cls(1)
            with pytest.raises(Boom):
                cls(payload) != cls(1)


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_refused(op):
    for a, b in [(Some(1), Some(2)), (Nothing, Nothing), (Ok(1), Ok(2)), (Err(1), Err(2))]:
        with pytest.raises(TypeError):
            eval(f"a {op} b")


def test_unhashable():
    for obj in (Some(1), Nothing, Ok(1), Err(1)):
        with pytest.raises(TypeError):
            hash(obj)
        with pytest.raises(TypeError):
            {obj}


def test_truth_ignores_the_payload():
    assert all(bool(x) for x in (Some(0), Some(None), Some([]), Ok(None), Ok(0), Ok(False)))
    assert not any(bool(x) for x in (Nothing, NothingType(), Err(1), Err(True)))


def test_repr_and_str():
    assert repr(Some("a")) == "Some('a')"
    assert repr(Some(Some(1))) == "Some(Some(1))"
    assert repr(NothingType()) == str(Nothing) == "Nothing"
    assert repr(Ok([1])) == str(Ok([1])) == "Ok([1])"
    assert repr(Err(ValueError("x"))) == "Err(ValueError('x'))"

    class BadRepr:
        def __repr__(self):
            raise Boom

    for cls in PAYLOAD_CLASSES:
        with pytest.raises(Boom):
            repr(cls(BadRepr()))


# ---- option methods ------------------------------------------------------------

def test_some_map_and_filter():
    assert Some(1).map(lambda v: v + 1) == Some(2)
    assert Some(1).map(lambda v: None) == Some(None)
    s = Some([2])
    kept = s.filter(lambda v: v[0] > 1)
    assert type(kept) is Some and kept is not s and kept.value is s.value
    dropped = Some(1).filter(lambda v: 0)
    assert type(dropped) is NothingType and dropped is not Nothing


def test_and_then_returns_the_callbacks_option_itself():
    target = Some(2)
    assert Some(1).and_then(lambda v: target) is target
    assert Some(1).and_then(lambda v: Nothing) is Nothing
    for bad in (None, 2, Ok(1), Err(1)):
        with pytest.raises(TypeError, match="^and_then callback must return an Option$"):
            Some(1).and_then(lambda v: bad)
    target = Err(1)
    assert Ok(1).and_then(lambda v: target) is target
    for bad in (None, 2, Some(1), Nothing):
        with pytest.raises(TypeError, match="^and_then callback must return a Result$"):
            Ok(1).and_then(lambda v: bad)


def test_filter_truth_failure_propagates():
    class BadBool:
        def __bool__(self):
            raise Boom

    with pytest.raises(Boom):
        Some(1).filter(lambda v: BadBool())


@pytest.mark.parametrize("call", [
    lambda f: Some(1).map(f), lambda f: Some(1).and_then(f), lambda f: Some(1).filter(f),
    lambda f: Nothing.unwrap_or_else(f),
    lambda f: Ok(1).map(f), lambda f: Ok(1).and_then(f), lambda f: Err(1).map_err(f),
])
def test_callback_exception_arrives_unchanged(call):
    raised = Boom("x")

    def f(*args):
        raise raised

    with pytest.raises(Boom) as info:
        call(f)
    assert info.value is raised


@pytest.mark.parametrize("call", [
    lambda f: Nothing.map(f), lambda f: Nothing.and_then(f), lambda f: Nothing.filter(f),
    lambda f: Some(1).unwrap_or_else(f),
    lambda f: Err(1).map(f), lambda f: Err(1).and_then(f), lambda f: Ok(1).map_err(f),
])
def test_callbacks_never_called_on_the_other_side(call):
    for f in (boom, None, 42):
        call(f)


def test_empty_side_gives_fresh_options():
    for result in (Nothing.map(boom), Nothing.and_then(boom), Nothing.filter(boom),
                   Ok(1).err(), Err(1).ok()):
        assert type(result) is NothingType and result is not Nothing


def test_unwrapping_options():
    payload = object()
    assert Some(payload).unwrap() is payload
    assert Some(payload).unwrap_or(1) is payload
    assert Some(payload).unwrap_or_else(None) is payload
    assert Nothing.unwrap_or(None) is None
    assert Nothing.unwrap_or_else(lambda: 5) == 5
    with pytest.raises(ValueError) as info:
        Nothing.unwrap()
    assert str(info.value) == "called `unwrap` on Nothing"
    with pytest.raises(TypeError):
        Nothing.unwrap_or_else(lambda x: x)  # called with no arguments


def test_option_predicates_and_ok_or():
    assert (Some(1).is_some(), Some(1).is_none()) == (True, False)
    assert (Nothing.is_some(), Nothing.is_none()) == (False, True)
    assert Some(1).ok_or("e") == Ok(1)
    assert Nothing.ok_or("e") == Err("e")
    assert type(Nothing.ok_or(None)) is Err


# ---- result methods ------------------------------------------------------------

def test_result_mapping_keeps_the_untouched_payload():
    e = ValueError("e")
    mapped = Err(e).map(boom)
    assert type(mapped) is Err and mapped.error is e
    v = [1]
    kept = Ok(v).map_err(boom)
    assert type(kept) is Ok and kept.value is v
    assert Ok(1).map(lambda v: v * 10) == Ok(10)
    assert Err(1).map_err(str) == Err("1")
    assert Err(e).and_then(boom).error is e


def test_unwrapping_results():
    assert Ok(2).unwrap() == 2
    assert Ok(2).unwrap_or(0) == 2
    assert Err("e").unwrap_or(0) == 0
    with pytest.raises(ValueError) as info:
        Err(KeyError("k")).unwrap()
    assert str(info.value) == "called `unwrap` on Err(KeyError('k'))"

    class BadRepr:
        def __repr__(self):
            raise Boom

    with pytest.raises(Boom):
        Err(BadRepr()).unwrap()


def test_result_to_option_and_predicates():
    assert Ok(1).ok() == Some(1)
    assert Ok(1).err() == Nothing
    assert Err("e").ok() == Nothing
    assert Err("e").err() == Some("e")
    assert (Ok(1).is_ok(), Ok(1).is_err(), Err(1).is_ok(), Err(1).is_err()) == (True, False, False, True)


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
