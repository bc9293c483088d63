"""The fluent Iter wrapper."""

import operator
from collections.abc import Iterator
from typing import Any, TypeIs, assert_type

from quibra import Iter, NothingType, RustIter, Some


def is_str(v: object) -> TypeIs[str]:
    return isinstance(v, str)


def chains(nums: list[int], rows: list[dict[str, float]], mixed: list[int | str]) -> None:
    it = Iter(nums)
    assert_type(it, Iter[int])
    assert_type(it.map(str), Iter[str])
    assert_type(it.filter(None), Iter[int])
    assert_type(Iter(mixed).filter(lambda v: isinstance(v, str)), Iter[int | str])
    assert_type(Iter(mixed).filter(is_str), Iter[str])
    assert_type(it.unique(), Iter[int])
    assert_type(Iter(rows).unique(key=lambda r: r["a"]), Iter[dict[str, float]])
    assert_type(it.take(2).drop(1), Iter[int])
    assert_type(it.sliding_window(2), Iter[tuple[int, int]])
    assert_type(it.sliding_window(4), Iter[tuple[int, ...]])
    assert_type(it.partition_all(2), Iter[tuple[int, ...]])
    assert_type(it.flat_map(lambda v: [v, v * 0.5]), Iter[float])
    assert_type(Iter(rows).pluck("a"), Iter[float])
    assert_type(Iter(rows).pluck(["a", "b"]), Iter[tuple[float, ...]])
    assert_type(it.interpose(None), Iter[int | None])
    assert_type(it.accumulate(operator.add), Iter[int])
    assert_type(iter(it), Iterator[int])
    exact = Iter([True])
    widened: Iter[int] = exact  # wraps its input without changing it, so covariant
    del widened

    Iter(5)  # type: ignore[arg-type]
    it.map(str.upper)  # type: ignore[arg-type]
    it.take(-1.5)  # type: ignore[arg-type]
    it.pluck("a")  # type: ignore[misc,call-overload]
    Iter([[1]]).unique()  # type: ignore[call-arg]
    next(it)  # type: ignore[call-overload]


def terminals(nums: list[int], pairs: list[tuple[str, int]], rust: RustIter[bytes]) -> None:
    it = Iter(nums)
    assert_type(it.collect(), list[int])
    assert_type(it.reduce(operator.add), int)
    assert_type(it.reduce(lambda acc, v: acc + str(v), ""), str)
    assert_type(it.count(), int)
    assert_type(it.frequencies(), dict[int, int])
    assert_type(it.group_by(lambda v: v % 2 == 0), dict[bool, list[int]])
    assert_type(Iter(pairs).group_by(0), dict[Any, list[tuple[str, int]]])
    assert_type(Iter(pairs).to_dict(), dict[str, int])
    assert_type(Iter(["ab"]).to_dict(), dict[str, str])
    assert_type(it.first(), Some[int] | NothingType)
    assert_type(it.nth(3), Some[int] | NothingType)
    assert_type(next(rust), bytes)
    as_iterator: Iterator[bytes] = rust
    del as_iterator

    it.reduce(operator.add, 0, 1)  # type: ignore[call-overload]
    it.to_dict()  # type: ignore[misc]
    it.group_by(lambda v: [v])  # type: ignore[type-var]
    it.nth("1")  # type: ignore[arg-type]
