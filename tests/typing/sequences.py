"""Element access, lazy sequence functions, counting, ranking, merges and joins."""

import operator
from collections.abc import Iterator, Sequence
from typing import Any, assert_type

import quibra as q
from quibra import NothingType, Some


def access(words: list[str], it: Iterator[int], table: dict[str, float], pairs: list[tuple[int, str]]) -> None:
    assert_type(q.first(words), str)
    assert_type(q.nth(2, it), int)
    assert_type(q.count(it), int)
    assert_type(q.get(0, words), str)
    assert_type(q.get("k", table, None), float | None)
    assert_type(q.get([0, 1], words), tuple[str, ...])
    assert_type(q.get(["a", "b"], table, 0), tuple[float | int, ...])
    assert_type(q.peek(words), tuple[str, Iterator[str]])
    assert_type(q.first_opt(it), Some[int] | NothingType)
    assert_type(q.get_opt("k", table), Some[float] | NothingType)
    assert_type(q.get_in_opt(table, "k", 0), Some[Any] | NothingType)
    assert_type(q.peek_opt(words), Some[tuple[str, Iterator[str]]] | NothingType)
    assert_type(q.tail(2, words), list[str])
    assert_type(q.tail(2, "abc"), str)
    assert_type(q.tail(2, it), Sequence[int])

    q.first(5)  # type: ignore[arg-type]
    q.nth("1", words)  # type: ignore[arg-type]
    q.get(0, words, "d", "e")  # type: ignore[call-arg]
    q.get(1, table)  # type: ignore[call-arg,misc]
    q.count(3)  # type: ignore[arg-type]


def lazy(nums: list[int], rows: list[dict[str, int]], grid: list[tuple[int, str]]) -> None:
    assert_type(q.drop(None, nums), Iterator[int])
    assert_type(q.cons("x", nums), Iterator[int | str])
    assert_type(q.concat([nums, nums]), Iterator[int])
    assert_type(q.concatv(nums, range(3)), Iterator[int])
    assert_type(q.sliding_window(2, nums), Iterator[tuple[int, int]])
    assert_type(q.sliding_window(5, nums), Iterator[tuple[int, ...]])
    assert_type(q.partition(3, nums), Iterator[tuple[int, int, int]])
    assert_type(q.partition(2, nums, None), Iterator[tuple[int | None, ...]])
    assert_type(q.mapcat(str, nums), Iterator[str])
    assert_type(q.pluck("a", rows), Iterator[int])
    assert_type(q.pluck("a", rows, None), Iterator[int | None])
    assert_type(q.pluck(0, grid), Iterator[int | str])
    assert_type(q.pluck([0, 1], grid), Iterator[tuple[int | str, ...]])
    assert_type(q.remove(lambda v: v > 1, nums), Iterator[int])
    assert_type(q.accumulate(operator.add, nums), Iterator[int])
    assert_type(q.accumulate(lambda acc, v: acc + str(v), nums, ""), Iterator[str])
    assert_type(q.iterate(lambda v: v * 2, 1), Iterator[int])
    assert_type(q.unique(nums), Iterator[int])
    assert_type(q.unique(rows, key=lambda r: r["a"]), Iterator[dict[str, int]])
    assert_type(q.join(0, grid, "a", rows), Iterator[tuple[tuple[int, str], dict[str, int]]])
    assert_type(q.join(len, ["a"], len, ["b"], left_default=None, right_default=0), Iterator[tuple[str, str | int]])
    assert_type(q.join(len, ["a"], len, ["b"], "L"), Iterator[tuple[str, str]])
    assert_type(q.merge_sorted(nums, [2.5]), Iterator[float])
    assert_type(q.merge_sorted(rows, key=lambda r: r["a"]), Iterator[dict[str, int]])
    assert_type(q.diff(nums, nums), Iterator[tuple[int, ...]])
    assert_type(q.diff([nums, nums]), Iterator[tuple[int, ...]])
    assert_type(q.diff(nums, nums, default=None), Iterator[tuple[int | None, ...]])

    q.take(2, 5)  # type: ignore[arg-type]
    q.partition(2, nums, 0, 0)  # type: ignore[call-arg]
    q.pluck("a", nums)  # type: ignore[call-arg,arg-type]
    q.unique([[1], [2]])  # type: ignore[type-var]
    q.unique(nums, key=lambda v: [v])  # type: ignore[arg-type,return-value]
    q.merge_sorted([object()])  # type: ignore[type-var]
    q.diff(nums)  # type: ignore[arg-type]
    q.diff(nums, nums, fill=0)  # type: ignore[call-overload]
    q.mapcat(len, ["ab"])  # type: ignore[arg-type]
    q.join(lambda r: r, grid, 0, [[1]], left_default=None, right_default=None, extra=1)  # type: ignore[call-overload]


def fresh() -> frozenset[str]:
    return frozenset()


def gather(acc: frozenset[str], word: str) -> frozenset[str]:
    return acc | {word}


def counting(words: list[str], rows: list[dict[str, int]]) -> None:
    assert_type(q.frequencies(words), dict[str, int])
    assert_type(q.isdistinct(words), bool)
    assert_type(q.topk(2, words), tuple[str, ...])
    assert_type(q.topk(2, rows, key=lambda r: r["a"]), tuple[dict[str, int], ...])
    assert_type(q.topk(2, rows, key="a"), tuple[dict[str, int], ...])
    assert_type(q.groupby(len, words), dict[int, list[str]])
    assert_type(q.groupby("a", rows), dict[Any, list[dict[str, int]]])
    assert_type(q.groupby(["a", "b"], rows), dict[tuple[Any, ...], list[dict[str, int]]])
    assert_type(q.countby(str.isupper, words), dict[bool, int])
    assert_type(q.reduceby(len, operator.add, words), dict[int, str])
    assert_type(q.reduceby(len, lambda acc, w: acc + len(w), words, 0), dict[int, int])
    assert_type(q.reduceby(len, gather, words, fresh), dict[int, frozenset[str]])
    assert_type(q.reduceby("a", operator.add, rows), dict[Any, dict[str, int]])

    q.frequencies([[1], [2]])  # type: ignore[type-var]
    q.frequencies([Some(1)])  # type: ignore[type-var]
    q.isdistinct([{1}])  # type: ignore[list-item]
    q.topk(1, [object()])  # type: ignore[type-var]
    q.topk(1, words, key=lambda w: object())  # type: ignore[arg-type,return-value]
    q.groupby(lambda w: [w], words)  # type: ignore[type-var]
    q.countby(len, 5)  # type: ignore[call-overload]
    q.reduceby(len, operator.add, words, 0, 1)  # type: ignore[call-arg,arg-type]
