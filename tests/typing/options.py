"""Option and Result values: constructors, methods, narrowing, the aliases."""

from typing import Literal, assert_never, assert_type

from quibra import Err, Nothing, NothingType, Ok, Option, Result, Some
from quibra.typing import Option as Opt
from quibra.typing import Result as Res


def options(opt: Opt[int]) -> None:
    assert_type(Some(1), Some[int])
    assert_type(Some(1).value, int)
    assert_type(Some(1).map(str), Some[str])
    assert_type(Nothing, NothingType)
    assert_type(opt.map(str), Some[str] | NothingType)
    assert_type(opt.unwrap_or("x"), int | str)
    assert_type(opt.unwrap_or_else(lambda: 0.5), int | float)
    assert_type(opt.and_then(lambda v: Some(v * 2.0) if v else Nothing), Some[float] | NothingType)
    assert_type(opt.filter(lambda v: v > 0), Some[int] | NothingType)
    assert_type(opt.ok_or("missing"), Ok[int] | Err[str])
    assert_type(Some(1).is_some(), Literal[True])
    assert_type(Option.of(None), NothingType)
    assert_type(Option.of(3 if opt else None), Some[int] | NothingType)
    exact = Some(True)
    widened: Some[int] = exact  # immutable, so covariant
    del widened

    Some(1).map(lambda v: v.upper())  # type: ignore[attr-defined]
    Some(1).and_then(lambda v: v + 1)  # type: ignore[arg-type,return-value]
    Some()  # type: ignore[call-arg]
    Nothing.unwrap_or_else(5)  # type: ignore[arg-type]
    Some(1).value = 2  # type: ignore[misc]


def narrowing(opt: Opt[int], res: Res[int, ValueError]) -> None:
    match opt:
        case Some(v):
            assert_type(v, int)
        case NothingType():
            pass
        case _:
            assert_never(opt)
    match res:
        case Ok(v):
            assert_type(v, int)
        case Err(e):
            assert_type(e, ValueError)
        case _:
            assert_never(res)
    if opt:
        assert_type(opt, Some[int])
    else:
        assert_type(opt, NothingType)
    if not res:
        assert_type(res.error, ValueError)
    if isinstance(opt, Some):
        assert_type(opt.unwrap(), int)


def results(res: Res[int, str]) -> None:
    assert_type(Ok(1), Ok[int])
    assert_type(Err("e").error, str)
    assert_type(res.map(float), Ok[float] | Err[str])
    assert_type(res.map_err(len), Ok[int] | Err[int])
    assert_type(res.and_then(lambda v: Ok(str(v)) if v else Err(0.5)), Ok[str] | Err[float] | Err[str])
    assert_type(res.ok(), Some[int] | NothingType)
    assert_type(res.err(), NothingType | Some[str])
    assert_type(res.unwrap_or(None), int | None)
    assert_type(Result.of(lambda: 1), Ok[int] | Err[Exception])

    Ok(1).and_then(lambda v: Some(v))  # type: ignore[arg-type,return-value]
    Err("e").map_err(lambda e: e + 1)  # type: ignore[operator]
    Result.of(5)  # type: ignore[arg-type]
    Ok(1).unwrap_or_else(lambda: 0)  # type: ignore[attr-defined]
    bad: Res[int, str] = Ok("text")  # type: ignore[arg-type]
    del bad


def unwrap_never_returns(res: Err[str]) -> int:
    res.unwrap()
    return "unreachable"  # type: ignore[unreachable]
