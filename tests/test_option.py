"""Some, NothingType, Ok and Err, and the Option and Result factories."""

import pytest

import quibra._quibra as q
from quibra._quibra import Err, Nothing, NothingType, Ok, Option, Result, Some
from tests.helpers import Boom, assert_collected, is_fresh_nothing, raises, raising

BOXES = [Some, Ok, Err]


class CountingEq:
    """Equal to nothing, not even itself; counts how often it is asked."""
    calls = 0

    def __eq__(self, other):
        self.calls += 1
        return False


class Raising:
    """Raises Boom from __eq__, __bool__ and __repr__."""

    def __eq__(self, *args):
        raise Boom

    __bool__ = __repr__ = __eq__


def test_classes_construction_and_immutability():
    assert Some.map.__text_signature__ == "($self, f)" and NothingType.unwrap.__text_signature__ == "($self)"
    assert all(c.__doc__ is None for c in (Some, NothingType, Ok, Err, Option, Result))
    assert not isinstance(Some(1), Option) and not isinstance(Ok(1), Result)
    assert Some(value=3).value == 3 and Err(error="e").error == "e"
    assert type(Nothing) is NothingType and NothingType() is not Nothing
    for cls in (Option, Result):
        pytest.raises(TypeError, cls)
    payload = [1]
    for obj, attr in [(Some(payload), "value"), (Ok(payload), "value"), (Err(payload), "error")]:
        assert getattr(obj, attr) is payload
        for name in (attr, "x"):
            pytest.raises(AttributeError, setattr, obj, name, 2)


@pytest.mark.parametrize("call, message", [
    (lambda: Some(), "Some.__new__() missing 1 required positional argument: 'value'"),
    (lambda: Err(1, error=2), "Err.__new__() got multiple values for argument 'error'"),
    (lambda: NothingType(1), "NothingType.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: Err(1).map_err(), "Err.map_err() missing 1 required positional argument: 'f'"),
    (lambda: q.get_opt(), "get_opt() missing 2 required positional arguments: 'ind' and 'coll'"),
])
def test_binding_errors(call, message):
    assert str(raises(TypeError, call)) == message


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

    assert [describe(x) for x in (Some(3), NothingType(), Ok(None), Err("boom"), 3)] == [
        ("some", 3), ("nothing",), ("ok", None), ("err", "boom"), None]


@pytest.mark.parametrize("left, right, equal", [
    (Some(1), Some(1.0), True), (Some(1), Some(2), False), (Some(1), 1, False),
    (Some(None), Nothing, False), (NothingType(), Nothing, True), (Nothing, None, False),
    (Ok(1), Ok(1), True), (Ok(1), Err(1), False), (Ok(1), Some(1), False),
    (Err("x"), Err("y"), False), (Some(Some(1)), Some(Some(1)), True),
])
def test_equality_table(left, right, equal):
    assert (left == right, left != right, right == left) == (equal, not equal, equal)


def test_equality_asks_the_payloads_and_only_them():
    for cls in BOXES:
        payload = CountingEq()
        box = cls(payload)
        assert (box == box, box != box, payload.calls) == (False, True, 2)  # no identity shortcut
        raises(Boom, lambda: cls(Raising()) == cls(1))
        raises(Boom, lambda: cls(1) != cls(Raising()))  # 1 == Raising() falls back to Raising.__eq__
    for obj in (Some(1), Nothing, Ok(1), Err(1)):
        assert (obj == Raising()) is False  # the other operand is never asked


def test_ordering_hashing_truth_and_repr():
    for a, b in [(Some(1), Some(2)), (Nothing, Nothing), (Ok(1), Ok(2)), (Err(1), Err(2))]:
        for expr in ("a < b", "a <= b", "a > b", "a >= b", "{a}"):
            pytest.raises(TypeError, eval, expr, {"a": a, "b": b})
    assert all(bool(x) for x in (Some(0), Some(None), Ok(None), Ok(False)))
    assert not any(bool(x) for x in (Nothing, Err(1), Err(True)))
    assert repr(Some(Some("a"))) == "Some(Some('a'))" and str(NothingType()) == "Nothing"
    assert str(Ok([1])) == "Ok([1])" and repr(Err(ValueError("x"))) == "Err(ValueError('x'))"
    for cls in BOXES:
        pytest.raises(Boom, repr, cls(Raising()))


def test_mapping_and_filtering():
    s = Some([2])
    kept = s.filter(lambda v: v[0] > 1)
    assert type(kept) is Some and kept is not s and kept.value is s.value
    assert Some(1).map(lambda v: None) == Some(None) and Ok(1).map(lambda v: v * 10) == Ok(10)
    e, v = ValueError("e"), [1]
    assert Err(e).map(None).error is e and Err(e).and_then(None).error is e and Ok(v).map_err(None).value is v
    assert Err(1).map_err(str) == Err("1")
    pytest.raises(Boom, Some(1).filter, lambda v: Raising())  # truth test of the verdict fails
    # Empty results are always fresh instances, never the module's Nothing.
    for empty in (Some(1).filter(lambda v: 0), Nothing.map(None), Nothing.and_then(None),
                  Nothing.filter(None), Ok(1).err(), Err(1).ok(), Option.of(None)):
        assert is_fresh_nothing(empty)


def test_and_then_returns_the_callbacks_value_itself():
    for box, good, bad, kind in [(Some(1), (Some(2), Nothing), (None, 2, Ok(1), Err(1)), "an Option"),
                                 (Ok(1), (Ok(2), Err(1)), (None, 2, Some(1), Nothing), "a Result")]:
        for target in good:
            assert box.and_then(lambda v: target) is target
        for target in bad:
            raises(TypeError, lambda: box.and_then(lambda v: target), f"^and_then callback must return {kind}$")


@pytest.mark.parametrize("method, full, empty", [
    ("map", Some(1), Nothing), ("and_then", Some(1), Nothing), ("filter", Some(1), Nothing),
    ("unwrap_or_else", Nothing, Some(1)), ("map", Ok(1), Err(1)), ("and_then", Ok(1), Err(1)),
    ("map_err", Err(1), Ok(1)),
])
def test_callbacks_raise_through_and_never_run_on_the_other_side(method, full, empty):
    f = raising(raised := Boom())
    assert raises(Boom, lambda: getattr(full, method)(f)) is raised
    for g in (f, None, 42):
        getattr(empty, method)(g)


def test_leaving_the_option_and_result_world():
    payload = object()
    assert Some(payload).unwrap() is payload and Some(payload).unwrap_or(1) is payload
    assert Nothing.unwrap_or(None) is None and Nothing.unwrap_or_else(lambda: 5) == 5
    assert Ok(2).unwrap() == 2 and Ok(2).unwrap_or(0) == 2 and Err("e").unwrap_or(0) == 0
    assert (Some(1).ok_or("e"), Nothing.ok_or("e"), Ok(1).ok(), Err("e").err()) == (
        Ok(1), Err("e"), Some(1), Some("e"))
    assert [(x.is_some(), x.is_none()) for x in (Some(1), Nothing)] == [(True, False), (False, True)]
    assert [(x.is_ok(), x.is_err()) for x in (Ok(1), Err(1))] == [(True, False), (False, True)]
    raises(ValueError, Nothing.unwrap, "^called `unwrap` on Nothing$")
    assert str(raises(ValueError, Err(KeyError("k")).unwrap)) == "called `unwrap` on Err(KeyError('k'))"
    pytest.raises(Boom, Err(Raising()).unwrap)


def test_factories():
    assert all(Option.of(v).value is v for v in (0, "", [], Nothing))
    assert Result.of(lambda: None) == Ok(None) and type(Result.of(5).error) is TypeError  # not callable
    err = Result.of(lambda: 1 / 0)
    assert type(err.error) is ZeroDivisionError and err.error.__traceback__ is not None
    for exc in (SystemExit, KeyboardInterrupt, GeneratorExit):
        raises(exc, lambda: Result.of(lambda: (_ for _ in ()).throw(exc)))


def test_cycles_through_values_are_collected():
    assert_collected(lambda h: Result.of(lambda: h and 1 / 0))  # the error's traceback reaches h
    for cls in BOXES:  # a value inside its own payload
        assert_collected(cls)


def test_deeply_nested_values_are_freed_without_overflowing_the_stack():
    for cls in BOXES:
        x = Nothing
        for _ in range(200_000):
            x = cls(x)
        del x
