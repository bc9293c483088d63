"""curry, flip, composition, threading, juxt, excepts, memoize."""

from collections.abc import Hashable, Iterator
from typing import Any, assert_type

import quibra as q


def add(a: int, b: int) -> int:
    return a + b


def scale(x: float, factor: float, offset: float) -> float:
    return x * factor + offset


def greet(name: str, *, loud: bool = False) -> str:
    return name.upper() if loud else name


def inverse(x: float) -> float:
    return 1 / x


def positional_key(args: tuple[Any, ...]) -> Hashable:
    return args


def currying() -> None:
    assert_type(q.curry(add)(1)(2), int)
    assert_type(q.curry(add)(1, 2), int)
    assert_type(q.curry(scale)(1.0)(2.0, 3.0), float)
    assert_type(q.curry(scale)(1.0, 2.0)(3.0), float)
    assert_type(q.curry(scale, 1.0)(2.0)(3.0), float)
    assert_type(q.curry(scale, 1.0, 2.0)(3.0), float)
    assert_type(q.curry(greet)("ann"), str)
    assert_type(q.curry(greet, loud=True), q.curry)
    assert_type(q.flip(add, 1, 2), int)
    assert_type(q.flip(add)(1)(2), int)
    assert_type(q.flip(q.take)([1, 2], 1), Iterator[int])

    q.curry(add)("1")  # type: ignore[call-overload]
    q.curry(add)(1)(2, 3)  # type: ignore[call-arg]
    q.flip(add, 1, "2")  # type: ignore[arg-type]


def composition(words: list[str]) -> None:
    assert_type(q.identity(3), int)
    assert_type(q.apply(add, 1, b=2), int)
    assert_type(q.do(print, words), list[str])
    assert_type(q.pipe(1), int)
    assert_type(q.pipe(" a ", str.strip, len, float), float)
    assert_type(q.compose(str, len)("ab"), str)
    assert_type(q.compose(float, len, str.strip)("ab"), float)
    assert_type(q.compose_left(add, str)(1, b=2), str)
    assert_type(q.compose()(5), int)
    assert_type(q.thread_first(" a ", str.strip, len), int)
    assert_type(q.thread_last(words, len, str), str)
    assert_type(q.thread_first(1, (add, 2)), Any)
    assert_type(q.complement(str.isdigit)("12"), bool)
    assert_type(q.juxt(len, str.upper)("ab"), tuple[int, str])
    assert_type(q.juxt([len, len])("ab"), tuple[int, ...])

    q.pipe(1, str.upper)  # type: ignore[arg-type]
    q.compose(len, add)  # type: ignore[arg-type]
    q.compose(str, len)(5)  # type: ignore[arg-type]
    q.compose_left(add, len)  # type: ignore[arg-type]
    q.thread_first(1, 5)  # type: ignore[call-overload]
    q.thread_last(1, ())  # type: ignore[arg-type]
    q.complement(str.isdigit)(5)  # type: ignore[arg-type]
    q.juxt(len, str.upper)(5)  # type: ignore[arg-type]


def wrappers() -> None:
    safe = q.excepts(ZeroDivisionError, inverse)
    assert_type(safe(2.0), float | None)
    handled = q.excepts((KeyError, IndexError), q.first, lambda e: e.args)
    assert_type(handled([1]), int | tuple[Any, ...])
    cached = q.memoize(add)
    assert_type(cached(1, 2), int)
    keyed = q.memoize(greet, cache={}, key=lambda args, kwargs: args)
    assert_type(keyed("ann", loud=True), str)

    q.excepts("KeyError", add)  # type: ignore[call-overload]
    q.excepts(KeyError, add, lambda e: e.missing)  # type: ignore[attr-defined]
    cached("1", 2)  # type: ignore[arg-type]
    q.memoize(add, cache=[])  # type: ignore[arg-type]
    q.memoize(add, key=positional_key)  # type: ignore[arg-type]


class Counter:
    @q.memoize
    def total(self, n: int) -> int:
        return n

    def use(self) -> None:
        self.total(1)  # type: ignore[call-arg,arg-type]
        assert_type(Counter.total(self, 1), int)
