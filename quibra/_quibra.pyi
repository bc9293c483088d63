"""Type information for the native module; the runtime objects carry no docstrings."""

from _typeshed import SupportsGetItem, SupportsRichComparison
from collections.abc import Callable, Hashable, Iterable, Iterator, Mapping, MutableMapping, Sequence, Sized
from typing import (
    Any,
    ClassVar,
    Generic,
    Literal,
    NoReturn,
    Protocol,
    Self,
    SupportsIndex,
    TypeGuard,
    TypeIs,
    TypeVar,
    final,
    overload,
    type_check_only,
)

# An index for the key rule of the grouping, ranking and join functions:
# anything but a callable or a list is looked up as element[key]. Callables
# are kept out so that a key function with a wrong signature is an error
# rather than a silent lookup.
type _Index = SupportsIndex | str | bytes | tuple[Any, ...]

# A step of thread_first / thread_last: a callable, or a tuple of a callable
# and its extra arguments.
type _Form = Callable[..., Any] | tuple[Callable[..., Any], *tuple[Any, ...]]

# ---------------------------------------------------------------- options

@final
class Some[T]:
    """An option holding one value.

    ``Some(v)`` is always true, even when ``v`` is falsy or None. ``map``,
    ``and_then`` and ``filter`` call their function with the value;
    ``unwrap`` and its variants return it. Options are immutable, compare by
    their value (``Some(1) == Some(1)``) and are unhashable. ``match`` binds
    the value positionally: ``case Some(v):``. Annotate a value that may be
    empty as ``quibra.typing.Option[T]``.

    >>> Some(3).map(lambda v: v + 1)
    Some(4)
    >>> match Some("x"):
    ...     case Some(v): print("got", v)
    got x
    """

    __match_args__ = ("value",)
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, value: T) -> Some[T]: ...
    @property
    def value(self) -> T:
        """The value held (the object itself, not a copy)."""

    def map[U](self, f: Callable[[T], U]) -> Some[U]:
        """``Some(f(value))``."""

    def and_then[U](self, f: Callable[[T], Some[U] | NothingType]) -> Some[U] | NothingType:
        """``f(value)``, which must return an option (else ``TypeError``)."""

    def filter(self, pred: Callable[[T], object]) -> Some[T] | NothingType:
        """This value in a new ``Some`` if ``pred(value)`` is true, else an empty option."""

    def unwrap(self) -> T:
        """The value."""

    def unwrap_or(self, default: object) -> T:
        """The value; ``default`` is ignored."""

    def unwrap_or_else(self, f: object) -> T:
        """The value; ``f`` is not called."""

    def ok_or(self, err: object) -> Ok[T]:
        """``Ok(value)``."""

    def is_some(self) -> Literal[True]:
        """Always True."""

    def is_none(self) -> Literal[False]:
        """Always False."""

    def __bool__(self) -> Literal[True]: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class NothingType:
    """The empty option.

    Every method that would use a value does nothing and returns another
    empty option; ``unwrap`` raises ``ValueError``; ``unwrap_or`` and
    ``unwrap_or_else`` supply the fallback. An empty option is false, and all
    empty options are equal but not identical: test with ``== Nothing`` or
    ``is_none()``, never with ``is Nothing``. ``match`` tests it with
    ``case NothingType():``.

    >>> NothingType() == Nothing, bool(Nothing)
    (True, False)
    >>> Nothing.map(lambda v: v + 1).unwrap_or(0)
    0
    """

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls) -> NothingType: ...
    def map(self, f: object) -> NothingType:
        """A new empty option; ``f`` is not called."""

    def and_then(self, f: object) -> NothingType:
        """A new empty option; ``f`` is not called."""

    def filter(self, pred: object) -> NothingType:
        """A new empty option; ``pred`` is not called."""

    def unwrap(self) -> NoReturn:
        """Always raises ``ValueError``."""

    def unwrap_or[U](self, default: U) -> U:
        """``default``."""

    def unwrap_or_else[U](self, f: Callable[[], U]) -> U:
        """``f()``."""

    def ok_or[E](self, err: E) -> Err[E]:
        """``Err(err)``."""

    def is_some(self) -> Literal[False]:
        """Always False."""

    def is_none(self) -> Literal[True]:
        """Always True."""

    def __bool__(self) -> Literal[False]: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

Nothing: NothingType
"""A ready-made empty option.

Operations that produce an empty option make new ``NothingType`` instances,
so compare with ``==`` rather than ``is``.

>>> first_opt([]) == Nothing, first_opt([]) is Nothing
(True, False)
"""

@final
class Option:
    """Factory of options; not itself a type of option values.

    ``Option.of(v)`` turns None into an empty option and anything else
    (falsy values included) into ``Some``. ``isinstance(Some(1), Option)`` is
    False; to annotate an option use ``quibra.typing.Option[T]``.

    >>> Option.of(None), Option.of(0)
    (Nothing, Some(0))
    """

    @overload
    @staticmethod
    def of(v: None) -> NothingType:
        """An empty option for None, otherwise ``Some(v)``."""
    @overload
    @staticmethod
    def of[T](v: T | None) -> Some[T] | NothingType: ...

# ---------------------------------------------------------------- results

@final
class Ok[T]:
    """A successful result holding its value.

    ``Ok(v)`` is always true. ``map`` and ``and_then`` work on the value,
    ``map_err`` passes it through untouched; ``unwrap`` returns it. Results
    are immutable, compare by payload and are unhashable. ``match`` binds the
    value: ``case Ok(v):``. Annotate as ``quibra.typing.Result[T, E]``.

    >>> Ok(2).map(lambda v: v * 10), Ok(2).ok()
    (Ok(20), Some(2))
    """

    __match_args__ = ("value",)
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, value: T) -> Ok[T]: ...
    @property
    def value(self) -> T:
        """The success value."""

    def map[U](self, f: Callable[[T], U]) -> Ok[U]:
        """``Ok(f(value))``."""

    def map_err(self, f: object) -> Ok[T]:
        """A new ``Ok`` with the same value; ``f`` is not called."""

    def and_then[U, F](self, f: Callable[[T], Ok[U] | Err[F]]) -> Ok[U] | Err[F]:
        """``f(value)``, which must return a result (else ``TypeError``)."""

    def unwrap(self) -> T:
        """The value."""

    def unwrap_or(self, default: object) -> T:
        """The value; ``default`` is ignored."""

    def ok(self) -> Some[T]:
        """``Some(value)``."""

    def err(self) -> NothingType:
        """An empty option."""

    def is_ok(self) -> Literal[True]:
        """Always True."""

    def is_err(self) -> Literal[False]:
        """Always False."""

    def __bool__(self) -> Literal[True]: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class Err[E]:
    """A failed result holding its error, which may be any object.

    ``Err(e)`` is always false. ``map`` and ``and_then`` pass it through
    without calling their function, ``map_err`` transforms the error, and
    ``unwrap`` raises ``ValueError`` naming the error. ``match`` binds the
    error: ``case Err(e):``.

    >>> Err("boom").map(lambda v: v * 10), Err("boom").unwrap_or(0)
    (Err('boom'), 0)
    >>> Err("boom").map_err(str.upper).err()
    Some('BOOM')
    """

    __match_args__ = ("error",)
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __new__(cls, error: E) -> Err[E]: ...
    @property
    def error(self) -> E:
        """The error."""

    def map(self, f: object) -> Err[E]:
        """A new ``Err`` with the same error; ``f`` is not called."""

    def map_err[F](self, f: Callable[[E], F]) -> Err[F]:
        """``Err(f(error))``."""

    def and_then(self, f: object) -> Err[E]:
        """A new ``Err`` with the same error; ``f`` is not called."""

    def unwrap(self) -> NoReturn:
        """Always raises ``ValueError``."""

    def unwrap_or[U](self, default: U) -> U:
        """``default``."""

    def ok(self) -> NothingType:
        """An empty option."""

    def err(self) -> Some[E]:
        """``Some(error)``."""

    def is_ok(self) -> Literal[False]:
        """Always False."""

    def is_err(self) -> Literal[True]:
        """Always True."""

    def __bool__(self) -> Literal[False]: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class Result:
    """Factory of results; not itself a type of result values.

    ``Result.of(f)`` calls ``f()`` and returns ``Ok`` of its value, or
    ``Err`` holding the exception when it raises an ``Exception``; exceptions
    that are not ``Exception`` subclasses (``KeyboardInterrupt``,
    ``SystemExit``) propagate. To annotate a result use
    ``quibra.typing.Result[T, E]``.

    >>> Result.of(lambda: 1 / 2), Result.of(lambda: 1 / 0)
    (Ok(0.5), Err(ZeroDivisionError('division by zero')))
    """

    @staticmethod
    def of[T](f: Callable[[], T]) -> Ok[T] | Err[Exception]:
        """``Ok(f())``, or ``Err(exception)`` when ``f`` raises."""

# ------------------------------------------------- option-returning access

def first_opt[T](seq: Iterable[T]) -> Some[T] | NothingType:
    """The first element as an option.

    Reads one element; an empty iterable gives an empty option. Errors of
    ``iter(seq)`` and of the iteration itself propagate.

    >>> first_opt("abc"), first_opt([])
    (Some('a'), Nothing)
    """

def last_opt[T](seq: Iterable[T]) -> Some[T] | NothingType:
    """The last element as an option.

    Always consumes the whole iterable (it never returns on an endless one);
    an empty iterable gives an empty option.

    >>> last_opt(iter([1, 2, 3])), last_opt(())
    (Some(3), Nothing)
    """

def nth_opt[T](n: SupportsIndex, seq: Iterable[T]) -> Some[T] | NothingType:
    """The element at zero-based position ``n`` as an option.

    Reads elements one by one, also from lists; an iterable that ends before
    position ``n`` gives an empty option. A negative ``n`` raises
    ``OverflowError``.

    >>> nth_opt(1, "abc"), nth_opt(5, "abc")
    (Some('b'), Nothing)
    """

@overload
def get_opt[K, V](ind: K, coll: SupportsGetItem[K, V]) -> Some[V] | NothingType:
    """``coll[ind]`` as an option.

    A lookup failing with ``KeyError``, ``IndexError`` or ``TypeError`` gives
    an empty option; any other exception propagates. A list ``ind`` is just a
    subscript here, not a list of indices.

    >>> get_opt("a", {"a": 1}), get_opt(5, [1]), get_opt(0, None)
    (Some(1), Nothing, Nothing)
    """
@overload
def get_opt(ind: object, coll: object) -> Some[Any] | NothingType: ...

def get_in_opt(coll: object, *keys: object) -> Some[Any] | NothingType:
    """The value at ``coll[k1][k2]...`` as an option.

    The collection comes first and the keys follow as separate arguments.
    A step failing with ``KeyError``, ``IndexError`` or ``TypeError`` gives an
    empty option; other exceptions propagate. Without keys the result is
    ``Some(coll)``.

    >>> get_in_opt({"a": [10, 20]}, "a", 1), get_in_opt({"a": []}, "a", 0)
    (Some(20), Nothing)
    """

def peek_opt[T](seq: Iterable[T]) -> Some[tuple[T, Iterator[T]]] | NothingType:
    """The first element and an iterator over all elements, as an option.

    Reads one element; the returned iterator yields it again and then draws
    from the same source, so an iterator passed in is consumed through it.
    An empty iterable gives an empty option.

    >>> head, rest = peek_opt(iter([1, 2, 3])).unwrap()
    >>> head, list(rest)
    (1, [1, 2, 3])
    """

# ------------------------------------------------------- element access

def count(seq: Iterable[object] | Sized) -> int:
    """The number of elements.

    Uses ``len(seq)`` when the object has ``__len__`` (without iterating
    it); otherwise iterates to the end, so it never returns on an endless
    iterator.

    >>> count([1, 2, 3]), count(x for x in "ab")
    (3, 2)
    """

def first[T](seq: Iterable[T]) -> T:
    """The first element.

    Reads one element; an empty iterable raises ``StopIteration``.

    >>> first("abc")
    'a'
    """

def second[T](seq: Iterable[T]) -> T:
    """The second element.

    Reads two elements; a shorter iterable raises ``StopIteration``.

    >>> second("abc")
    'b'
    """

def last[T](seq: Iterable[T]) -> T:
    """The last element.

    Sequences are sliced; other iterables are read to the end. An empty
    input raises ``IndexError``.

    >>> last("abc"), last(x * 2 for x in range(3))
    ('c', 4)
    """

def nth[T](n: SupportsIndex, seq: Iterable[T]) -> T:
    """The element at index ``n``.

    Sequences are indexed directly, so a negative ``n`` counts from the end
    and a missing index raises ``IndexError``. Other iterables are read up
    to position ``n``: one that ends first raises ``StopIteration``, and a
    negative ``n`` raises ``ValueError``.

    >>> nth(1, [10, 20, 30]), nth(-1, (10, 20)), nth(2, iter("xyz"))
    (20, 20, 'z')
    """

@overload
def get[K, V](ind: list[K], coll: SupportsGetItem[K, V]) -> tuple[V, ...]:
    """``coll[ind]``, or a tuple of lookups when ``ind`` is a list.

    An optional third argument is a default, returned in place of a lookup
    that fails with ``KeyError``, ``IndexError`` or ``TypeError``; without
    it such a failure is raised. A tuple ``ind`` is a single key.

    >>> get(1, "abc"), get([0, 2], "abc"), get("x", {}, 0)
    ('b', ('a', 'c'), 0)
    """
@overload
def get[K, V, D](ind: list[K], coll: SupportsGetItem[K, V], *rest: *tuple[D]) -> tuple[V | D, ...]: ...
@overload
def get[K, V](ind: K, coll: SupportsGetItem[K, V]) -> V: ...
@overload
def get[K, V, D](ind: K, coll: SupportsGetItem[K, V], *rest: *tuple[D]) -> V | D: ...

def peek[T](seq: Iterable[T]) -> tuple[T, Iterator[T]]:
    """The first element and an iterator over all elements.

    Reads one element; the iterator yields it again and then draws from
    the same source. An empty iterable raises ``StopIteration``.

    >>> head, everything = peek(iter([1, 2]))
    >>> head, list(everything)
    (1, [1, 2])
    """

# ----------------------------------------------------- lazy sequences

def take[T](n: SupportsIndex | None, seq: Iterable[T]) -> Iterator[T]:
    """A lazy iterator over the first ``n`` elements.

    ``n`` of None takes everything; a negative ``n`` raises ``ValueError``.

    >>> list(take(2, "abc"))
    ['a', 'b']
    """

def drop[T](n: SupportsIndex | None, seq: Iterable[T]) -> Iterator[T]:
    """A lazy iterator over everything after the first ``n`` elements.

    A negative ``n`` raises ``ValueError``.

    >>> list(drop(2, "abcd"))
    ['c', 'd']
    """

def take_nth[T](n: SupportsIndex, seq: Iterable[T]) -> Iterator[T]:
    """A lazy iterator over every ``n``-th element, starting with the first.

    ``n`` must be at least 1 (``ValueError`` otherwise).

    >>> list(take_nth(2, [1, 2, 3, 4, 5]))
    [1, 3, 5]
    """

@overload
def tail[T](n: SupportsIndex, seq: list[T]) -> list[T]:
    """The last ``n`` elements, eagerly.

    A sliceable input returns its own slice (a list for a list, a string
    for a string); anything else is read to the end and gives a tuple.
    ``n`` of 0 returns the whole input; a negative ``n`` raises
    ``OverflowError``.

    >>> tail(2, [1, 2, 3]), tail(2, "abc"), tail(2, iter([1, 2, 3]))
    ([2, 3], 'bc', (2, 3))
    """
@overload
def tail[T](n: SupportsIndex, seq: tuple[T, ...]) -> tuple[T, ...]: ...
@overload
def tail(n: SupportsIndex, seq: str) -> str: ...
@overload
def tail[T](n: SupportsIndex, seq: Iterable[T]) -> Sequence[T]: ...

def cons[T, U](el: U, seq: Iterable[T]) -> Iterator[T | U]:
    """A lazy iterator over ``el`` followed by the elements of ``seq``.

    >>> list(cons(0, [1, 2]))
    [0, 1, 2]
    """

def concat[T](seqs: Iterable[Iterable[T]]) -> Iterator[T]:
    """A lazy iterator over the iterables of ``seqs``, one after another.

    Inner iterables are opened only when reached.

    >>> list(concat([[1, 2], (3,), "ab"]))
    [1, 2, 3, 'a', 'b']
    """

def concatv[T](*seqs: Iterable[T]) -> Iterator[T]:
    """A lazy iterator over the argument iterables, one after another.

    >>> list(concatv([1], (2, 3)))
    [1, 2, 3]
    """

def interpose[T, U](el: U, seq: Iterable[T]) -> Iterator[T | U]:
    """A lazy iterator with ``el`` between neighbouring elements.

    Reads the first element at once: an empty ``seq`` raises
    ``StopIteration`` from the call.

    >>> list(interpose(0, [1, 2, 3]))
    [1, 0, 2, 0, 3]
    """

def interleave[T](seqs: Iterable[Iterable[T]]) -> Iterator[T]:
    """A lazy round robin: one element from each iterable in turn.

    Exhausted iterables drop out; every inner iterable is opened at the
    call, so a non-iterable raises ``TypeError`` there.

    >>> list(interleave([[1, 2, 3], "ab"]))
    [1, 'a', 2, 'b', 3]
    """

@overload
def sliding_window[T](n: Literal[2], seq: Iterable[T]) -> Iterator[tuple[T, T]]:
    """A lazy iterator over every run of ``n`` consecutive elements, as tuples.

    Reads the first ``n - 1`` elements at the call; an input shorter than
    ``n`` yields nothing, and so does ``n`` of 0. A negative ``n`` raises
    ``ValueError``.

    >>> list(sliding_window(2, [1, 2, 3]))
    [(1, 2), (2, 3)]
    """
@overload
def sliding_window[T](n: Literal[3], seq: Iterable[T]) -> Iterator[tuple[T, T, T]]: ...
@overload
def sliding_window[T](n: SupportsIndex, seq: Iterable[T]) -> Iterator[tuple[T, ...]]: ...

@overload
def partition[T](n: Literal[2], seq: Iterable[T]) -> Iterator[tuple[T, T]]:
    """A lazy iterator over tuples of exactly ``n`` elements.

    An incomplete last tuple is dropped, or filled up with the pad value
    given as the optional third argument. ``n`` below 1 yields nothing.

    >>> list(partition(2, [1, 2, 3])), list(partition(2, [1, 2, 3], None))
    ([(1, 2)], [(1, 2), (3, None)])
    """
@overload
def partition[T](n: Literal[3], seq: Iterable[T]) -> Iterator[tuple[T, T, T]]: ...
@overload
def partition[T](n: SupportsIndex, seq: Iterable[T]) -> Iterator[tuple[T, ...]]: ...
@overload
def partition[T, P](n: SupportsIndex, seq: Iterable[T], *rest: *tuple[P]) -> Iterator[tuple[T | P, ...]]: ...

def partition_all[T](n: SupportsIndex, seq: Iterable[T]) -> Iterator[tuple[T, ...]]:
    """A lazy iterator over tuples of ``n`` elements, the last one possibly shorter.

    ``n`` below 1 yields nothing.

    >>> list(partition_all(2, [1, 2, 3, 4, 5]))
    [(1, 2), (3, 4), (5,)]
    """

def mapcat[T, U](func: Callable[[T], Iterable[U]], seqs: Iterable[T]) -> Iterator[U]:
    """A lazy iterator over the concatenation of ``func(x)`` for each ``x``.

    >>> list(mapcat(lambda x: [x, x], [1, 2]))
    [1, 1, 2, 2]
    """

@overload
def pluck[K, V](ind: list[K], seqs: Iterable[SupportsGetItem[K, V]]) -> Iterator[tuple[V, ...]]:
    """A lazy iterator over ``x[ind]`` for each element ``x``.

    A list ``ind`` gives a tuple of lookups per element. With the optional
    third argument as default, a lookup failing with ``KeyError``,
    ``IndexError`` or ``TypeError`` yields the default; without it the
    failure is raised by the step that met it.

    >>> list(pluck("a", [{"a": 1}, {"a": 2}])), list(pluck([0, 1], ["xy", "zw"]))
    ([1, 2], [('x', 'y'), ('z', 'w')])
    >>> list(pluck("a", [{"a": 1}, {}], None))
    [1, None]
    """
@overload
def pluck[K, V, D](
    ind: list[K], seqs: Iterable[SupportsGetItem[K, V]], *rest: *tuple[D]
) -> Iterator[tuple[V | D, ...]]: ...
@overload
def pluck[K, V](ind: K, seqs: Iterable[SupportsGetItem[K, V]]) -> Iterator[V]: ...
@overload
def pluck[K, V, D](ind: K, seqs: Iterable[SupportsGetItem[K, V]], *rest: *tuple[D]) -> Iterator[V | D]: ...

def remove[T](predicate: Callable[[T], object], seq: Iterable[T]) -> Iterator[T]:
    """A lazy iterator over the elements for which ``predicate`` is false.

    >>> list(remove(lambda v: v % 2, [1, 2, 3, 4]))
    [2, 4]
    """

@overload
def accumulate[T](binop: Callable[[T, T], T], seq: Iterable[T]) -> Iterator[T]:
    """A lazy iterator over running results of ``binop``.

    The first element (or the initial value given as the optional third
    argument) comes out as it is; each later result is ``binop(total, x)``.

    >>> import operator
    >>> list(accumulate(operator.add, [1, 2, 3])), list(accumulate(operator.add, [1, 2], 10))
    ([1, 3, 6], [10, 11, 13])
    """
@overload
def accumulate[T, A](binop: Callable[[A, T], A], seq: Iterable[T], *rest: *tuple[A]) -> Iterator[A]: ...

def iterate[T](func: Callable[[T], T], x: T) -> Iterator[T]:
    """A lazy endless iterator over ``x``, ``func(x)``, ``func(func(x))``, ...

    If ``func`` raises, that step raises and the iterator ends.

    >>> list(take(4, iterate(lambda v: v * 2, 1)))
    [1, 2, 4, 8]
    """

@overload
def unique[T: Hashable](seq: Iterable[T], key: None = None) -> Iterator[T]:
    """A lazy iterator over the elements whose key was not seen before.

    Without ``key`` the element itself is the key. Order is kept. An
    unhashable key raises ``TypeError`` from the step that met it. Integer
    buffers (``bytes``, ``array.array``) are scanned natively.

    >>> list(unique([3, 1, 3, 2, 1])), list(unique(["a", "B", "b"], key=str.lower))
    ([3, 1, 2], ['a', 'B'])
    """
@overload
def unique[T](seq: Iterable[T], key: Callable[[T], Hashable]) -> Iterator[T]: ...

@overload
def join[L, R](
    leftkey: Callable[[L], Hashable] | list[Any] | _Index,
    leftseq: Iterable[L],
    rightkey: Callable[[R], Hashable] | list[Any] | _Index,
    rightseq: Iterable[R],
    left_default: None = None,
    right_default: None = None,
) -> Iterator[tuple[L, R]]:
    """A lazy hash join: ``(left, right)`` pairs whose keys are equal.

    A key is a function of the element, a list of indices (giving a tuple)
    or one index. The whole ``leftseq`` is read on the first step; the right
    side streams. ``left_default`` pairs with unmatched right elements in
    their place, ``right_default`` with unmatched left elements at the end;
    None means no such pairs.

    >>> list(join(0, [(1, "a"), (2, "b")], 0, [(1, "x"), (3, "z")], left_default="L"))
    [((1, 'a'), (1, 'x')), ('L', (3, 'z'))]
    """
@overload
def join[L, R, LD](
    leftkey: Callable[[L], Hashable] | list[Any] | _Index,
    leftseq: Iterable[L],
    rightkey: Callable[[R], Hashable] | list[Any] | _Index,
    rightseq: Iterable[R],
    left_default: LD,
    right_default: None = None,
) -> Iterator[tuple[L | LD, R]]: ...
@overload
def join[L, R, RD](
    leftkey: Callable[[L], Hashable] | list[Any] | _Index,
    leftseq: Iterable[L],
    rightkey: Callable[[R], Hashable] | list[Any] | _Index,
    rightseq: Iterable[R],
    left_default: None = None,
    *,
    right_default: RD,
) -> Iterator[tuple[L, R | RD]]: ...
@overload
def join[L, R, LD, RD](
    leftkey: Callable[[L], Hashable] | list[Any] | _Index,
    leftseq: Iterable[L],
    rightkey: Callable[[R], Hashable] | list[Any] | _Index,
    rightseq: Iterable[R],
    left_default: LD,
    right_default: RD,
) -> Iterator[tuple[L | LD, R | RD]]: ...

# --------------------------------------------------- counting and ranking

def isdistinct(seq: Iterable[Hashable]) -> bool:
    """True when no element occurs twice.

    Stops reading at the first repetition; an unhashable element raises
    ``TypeError``. Integer buffers are checked natively.

    >>> isdistinct([1, 2, 3]), isdistinct("hello")
    (True, False)
    """

def frequencies[T: Hashable](seq: Iterable[T]) -> dict[T, int]:
    """A dict from each element to the number of times it occurs.

    Keys are in order of first appearance; equal elements (``1`` and
    ``1.0``) count together under the first one met. An unhashable element
    raises ``TypeError``. Integer buffers are counted natively.

    >>> frequencies("abracadabra")
    {'a': 5, 'b': 2, 'r': 2, 'c': 1, 'd': 1}
    """

@overload
def topk[T: SupportsRichComparison](k: SupportsIndex, seq: Iterable[T], key: None = None) -> tuple[T, ...]:
    """A tuple of the ``k`` largest elements, largest first.

    Reads and sorts the whole input; equal elements keep their input order.
    A ``key`` ranks by ``key(x)``, by a tuple of ``x[i]`` for a list of
    indices, or by ``x[key]``. A negative ``k`` raises ``OverflowError``;
    elements that cannot be compared raise ``TypeError``.

    >>> topk(2, [1, 5, 3, 5]), topk(1, ["bb", "a"], key=len)
    ((5, 5), ('bb',))
    """
@overload
def topk[T](k: SupportsIndex, seq: Iterable[T], key: Callable[[T], SupportsRichComparison]) -> tuple[T, ...]: ...
@overload
def topk[T](k: SupportsIndex, seq: Iterable[T], key: list[Any] | _Index) -> tuple[T, ...]: ...

@overload
def groupby[T, K: Hashable](key: Callable[[T], K], seq: Iterable[T]) -> dict[K, list[T]]:
    """A dict from each key to the list of elements with that key.

    The key of an element is ``key(x)``, a tuple of ``x[i]`` for a list of
    indices, or ``x[key]``. Keys are in order of first appearance and each
    list keeps input order. Errors of the key raise from the call.

    >>> groupby(len, ["a", "bb", "c"]), groupby("k", [{"k": 1}, {"k": 2}])
    ({1: ['a', 'c'], 2: ['bb']}, {1: [{'k': 1}], 2: [{'k': 2}]})
    """
@overload
def groupby[T](key: list[Any], seq: Iterable[T]) -> dict[tuple[Any, ...], list[T]]: ...
@overload
def groupby[T](key: _Index, seq: Iterable[T]) -> dict[Any, list[T]]: ...

@overload
def countby[T, K: Hashable](key: Callable[[T], K], seq: Iterable[T]) -> dict[K, int]:
    """A dict from each key to the number of elements with that key.

    Keys follow the same rule as ``groupby`` and are in order of first
    appearance.

    >>> countby(len, ["ab", "c", "de"]), countby(0, ["ab", "cd", "ae"])
    ({2: 2, 1: 1}, {'a': 2, 'c': 1})
    """
@overload
def countby(key: list[Any], seq: Iterable[object]) -> dict[tuple[Any, ...], int]: ...
@overload
def countby(key: _Index, seq: Iterable[object]) -> dict[Any, int]: ...

@overload
def reduceby[T, K: Hashable](key: Callable[[T], K], binop: Callable[[T, T], T], seq: Iterable[T]) -> dict[K, T]:
    """A dict from each key to its elements folded with ``binop``.

    Keys follow the same rule as ``groupby``. Without the optional fourth
    argument the first element of a key starts its fold; with it, each key
    starts from that value, or from a fresh ``init()`` when it is callable.

    >>> reduceby(lambda x: x % 2, lambda a, b: a + b, [1, 2, 3, 4])
    {1: 4, 0: 6}
    >>> reduceby(lambda x: x % 2, lambda acc, x: acc + [x], [1, 2, 3], list)
    {1: [1, 3], 0: [2]}
    """
@overload
def reduceby[T, K: Hashable, A](
    key: Callable[[T], K], binop: Callable[[A, T], A], seq: Iterable[T], *rest: *tuple[Callable[[], A]]
) -> dict[K, A]: ...
@overload
def reduceby[T, K: Hashable, A](
    key: Callable[[T], K], binop: Callable[[A, T], A], seq: Iterable[T], *rest: *tuple[A]
) -> dict[K, A]: ...
@overload
def reduceby[T](key: list[Any] | _Index, binop: Callable[[T, T], T], seq: Iterable[T]) -> dict[Any, T]: ...
@overload
def reduceby[T, A](
    key: list[Any] | _Index, binop: Callable[[A, T], A], seq: Iterable[T], *rest: *tuple[Callable[[], A]]
) -> dict[Any, A]: ...
@overload
def reduceby[T, A](
    key: list[Any] | _Index, binop: Callable[[A, T], A], seq: Iterable[T], *rest: *tuple[A]
) -> dict[Any, A]: ...

# ---------------------------------------------- merges, joins, differences

@overload
def merge_sorted[T: SupportsRichComparison](*seqs: Iterable[T], key: None = None) -> Iterator[T]:
    """A lazy iterator merging already sorted iterables into one sorted stream.

    Equal elements come out in the order of the inputs holding them.

    >>> list(merge_sorted([1, 4], [2, 3]))
    [1, 2, 3, 4]
    """
@overload
def merge_sorted[T](*seqs: Iterable[T], key: Callable[[T], SupportsRichComparison]) -> Iterator[T]: ...

@overload
def diff[T](seqs: list[Iterable[T]], /, *, key: Callable[[T], object] | None = None) -> Iterator[tuple[T, ...]]:
    """A lazy iterator over the tuples of parallel elements that are not all equal.

    The inputs are the arguments, or the elements of a single list
    argument; fewer than two raise ``TypeError``. The shortest input ends
    the output unless ``default`` fills in for inputs that ended. With
    ``key`` the keys are compared, but the values are yielded.

    >>> list(diff([1, 2, 3], [1, 2, 10])), list(diff("ab", "abc", default=None))
    ([(3, 10)], [(None, 'c')])
    """
@overload
def diff[T, D](
    seqs: list[Iterable[T]], /, *, default: D, key: Callable[[T], object] | None = None
) -> Iterator[tuple[T | D, ...]]: ...
@overload
def diff[T](
    first: Iterable[T], second: Iterable[T], /, *seqs: Iterable[T], key: Callable[[T], object] | None = None
) -> Iterator[tuple[T, ...]]: ...
@overload
def diff[T, D](
    first: Iterable[T],
    second: Iterable[T],
    /,
    *seqs: Iterable[T],
    default: D,
    key: Callable[[T], object] | None = None,
) -> Iterator[tuple[T | D, ...]]: ...

# ----------------------------------------------------------- callables

@type_check_only
class _Curried1[A, R](Protocol):
    def __call__(self, a: A, /) -> R: ...

@type_check_only
class _Curried2[A, B, R](Protocol):
    @overload
    def __call__(self, a: A, b: B, /) -> R: ...
    @overload
    def __call__(self, a: A, /) -> _Curried1[B, R]: ...

@type_check_only
class _Curried3[A, B, C, R](Protocol):
    @overload
    def __call__(self, a: A, b: B, c: C, /) -> R: ...
    @overload
    def __call__(self, a: A, b: B, /) -> _Curried1[C, R]: ...
    @overload
    def __call__(self, a: A, /) -> _Curried2[B, C, R]: ...

@final
class curry:
    """A callable that collects arguments until ``func`` can take them all.

    Calling it with too few arguments returns a new ``curry`` holding them;
    once ``inspect.signature(func)`` accepts the arguments, ``func`` is
    called. Keywords accumulate, later ones win. Arguments that can never fit
    call ``func`` so that its own ``TypeError`` surfaces; callables without a
    signature are called at once. It does not bind as a method. Type
    checkers follow functions of up to three positional parameters.

    >>> @curry
    ... def add(a, b):
    ...     return a + b
    >>> add(1)(2), add(1, 2)
    (3, 3)
    """

    @overload
    def __new__[A, R](cls, func: Callable[[A], R]) -> _Curried1[A, R]: ...  # type: ignore[misc]
    @overload
    def __new__[A, B, R](cls, func: Callable[[A, B], R]) -> _Curried2[A, B, R]: ...  # type: ignore[misc]
    @overload
    def __new__[A, B, C, R](cls, func: Callable[[A, B, C], R]) -> _Curried3[A, B, C, R]: ...  # type: ignore[misc]
    @overload
    def __new__[A, B, R](cls, func: Callable[[A, B], R], a: A, /) -> _Curried1[B, R]: ...  # type: ignore[misc]
    @overload
    def __new__[A, B, C, R](cls, func: Callable[[A, B, C], R], a: A, /) -> _Curried2[B, C, R]: ...  # type: ignore[misc]
    @overload
    def __new__[A, B, C, R](cls, func: Callable[[A, B, C], R], a: A, b: B, /) -> _Curried1[C, R]: ...  # type: ignore[misc]
    @overload
    def __new__(cls, func: Callable[..., Any], *args: Any, **kwargs: Any) -> curry: ...
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

def identity[T](x: T) -> T:
    """``x`` itself.

    >>> identity(3)
    3
    """

def apply[**P, R](func: Callable[P, R], *args: P.args, **kwargs: P.kwargs) -> R:
    """``func(*args, **kwargs)``.

    >>> apply(max, 1, 3, 2)
    3
    """

@overload
def pipe[A](data: A) -> A:
    """``data`` passed through each function in turn: ``pipe(x, f, g)`` is ``g(f(x))``.

    With no functions, ``data`` itself. Type checkers follow up to five
    functions.

    >>> pipe(3, str, len)
    1
    """
@overload
def pipe[A, B](data: A, f1: Callable[[A], B], /) -> B: ...
@overload
def pipe[A, B, C](data: A, f1: Callable[[A], B], f2: Callable[[B], C], /) -> C: ...
@overload
def pipe[A, B, C, D](data: A, f1: Callable[[A], B], f2: Callable[[B], C], f3: Callable[[C], D], /) -> D: ...
@overload
def pipe[A, B, C, D, E](
    data: A, f1: Callable[[A], B], f2: Callable[[B], C], f3: Callable[[C], D], f4: Callable[[D], E], /
) -> E: ...
@overload
def pipe[A, B, C, D, E, F](
    data: A,
    f1: Callable[[A], B],
    f2: Callable[[B], C],
    f3: Callable[[C], D],
    f4: Callable[[D], E],
    f5: Callable[[E], F],
    /,
) -> F: ...
@overload
def pipe(
    data: Any,
    f1: Callable[[Any], Any],
    f2: Callable[[Any], Any],
    f3: Callable[[Any], Any],
    f4: Callable[[Any], Any],
    f5: Callable[[Any], Any],
    f6: Callable[[Any], Any],
    /,
    *funcs: Callable[[Any], Any],
) -> Any: ...

def do[T](func: Callable[[T], object], x: T) -> T:
    """Calls ``func(x)`` for its side effect and returns ``x``.

    >>> seen = []
    >>> do(seen.append, 5), seen
    (5, [5])
    """

@type_check_only
class _Compose[**P, R]:
    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> R: ...

@overload
def compose[T]() -> Callable[[T], T]:
    """A callable applying ``funcs`` from right to left: ``compose(f, g)(x)`` is ``f(g(x))``.

    The last function receives all the call's arguments, the others one
    value each. With no functions, an identity function. Type checkers
    follow up to four functions; overloaded ones such as ``max`` may need a
    typed lambda.

    >>> compose(str, len)("abc")
    '3'
    """
@overload
def compose[**P, R](f1: Callable[P, R], /) -> _Compose[P, R]: ...
@overload
def compose[**P, B, R](f2: Callable[[B], R], f1: Callable[P, B], /) -> _Compose[P, R]: ...
@overload
def compose[**P, B, C, R](f3: Callable[[C], R], f2: Callable[[B], C], f1: Callable[P, B], /) -> _Compose[P, R]: ...
@overload
def compose[**P, B, C, D, R](
    f4: Callable[[D], R], f3: Callable[[C], D], f2: Callable[[B], C], f1: Callable[P, B], /
) -> _Compose[P, R]: ...
@overload
def compose(
    f5: Callable[[Any], Any],
    f4: Callable[[Any], Any],
    f3: Callable[[Any], Any],
    f2: Callable[[Any], Any],
    /,
    *funcs: Callable[..., Any],
) -> Callable[..., Any]: ...

@overload
def compose_left[T]() -> Callable[[T], T]:
    """A callable applying ``funcs`` from left to right: ``compose_left(f, g)(x)`` is ``g(f(x))``.

    The first function receives all the call's arguments. With no
    functions, an identity function.

    >>> compose_left(len, str)("abc")
    '3'
    """
@overload
def compose_left[**P, R](f1: Callable[P, R], /) -> _Compose[P, R]: ...
@overload
def compose_left[**P, B, R](f1: Callable[P, B], f2: Callable[[B], R], /) -> _Compose[P, R]: ...
@overload
def compose_left[**P, B, C, R](f1: Callable[P, B], f2: Callable[[B], C], f3: Callable[[C], R], /) -> _Compose[P, R]: ...
@overload
def compose_left[**P, B, C, D, R](
    f1: Callable[P, B], f2: Callable[[B], C], f3: Callable[[C], D], f4: Callable[[D], R], /
) -> _Compose[P, R]: ...
@overload
def compose_left(
    f1: Callable[..., Any],
    f2: Callable[[Any], Any],
    f3: Callable[[Any], Any],
    f4: Callable[[Any], Any],
    f5: Callable[[Any], Any],
    /,
    *funcs: Callable[[Any], Any],
) -> Callable[..., Any]: ...

@type_check_only
class _Complement[**P]:
    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> bool: ...

def complement[**P](func: Callable[P, object]) -> _Complement[P]:
    """A callable returning the logical negation of ``func``'s result.

    >>> is_odd = complement(lambda v: v % 2 == 0)
    >>> is_odd(3), is_odd(4)
    (True, False)
    """

@type_check_only
class _Juxt[**P, R]:
    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> R: ...

@overload
def juxt() -> _Juxt[..., tuple[()]]:
    """A callable that calls every function with the same arguments and returns a tuple of results.

    The functions may also come as one iterable. Type checkers follow up
    to three functions separately; overloaded ones such as ``max`` may need
    a typed lambda.

    >>> juxt(min, max)([3, 1, 2])
    (1, 3)
    """
@overload
def juxt[**P, A](f1: Callable[P, A], /) -> _Juxt[P, tuple[A]]: ...
@overload
def juxt[**P, A, B](f1: Callable[P, A], f2: Callable[P, B], /) -> _Juxt[P, tuple[A, B]]: ...
@overload
def juxt[**P, A, B, C](f1: Callable[P, A], f2: Callable[P, B], f3: Callable[P, C], /) -> _Juxt[P, tuple[A, B, C]]: ...
@overload
def juxt[**P, R](funcs: Iterable[Callable[P, R]], /) -> _Juxt[P, tuple[R, ...]]: ...
@overload
def juxt[**P, R](
    f1: Callable[P, R], f2: Callable[P, R], f3: Callable[P, R], f4: Callable[P, R], /, *funcs: Callable[P, R]
) -> _Juxt[P, tuple[R, ...]]: ...

@type_check_only
class _Excepts[**P, R]:
    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> R: ...

@overload
def excepts[**P, R](
    exc: type[BaseException] | tuple[type[BaseException], ...], func: Callable[P, R], handler: None = None
) -> _Excepts[P, R | None]:
    """A callable that calls ``func`` and turns the exceptions matching ``exc`` into a value.

    A matching exception is passed to ``handler`` and its result returned
    (None without a handler); other exceptions propagate.

    >>> safe_inverse = excepts(ZeroDivisionError, lambda x: 1 / x, lambda e: 0.0)
    >>> safe_inverse(4), safe_inverse(0)
    (0.25, 0.0)
    """
@overload
def excepts[**P, R, H, X: BaseException](
    exc: type[X] | tuple[type[X], ...], func: Callable[P, R], handler: Callable[[X], H]
) -> _Excepts[P, R | H]: ...

@type_check_only
class _Memoize[**P, R]:
    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> R: ...

def memoize[**P, R](
    func: Callable[P, R],
    cache: dict[Any, Any] | None = None,
    key: Callable[[tuple[Any, ...], dict[str, Any] | None], Hashable] | None = None,
) -> _Memoize[P, R]:
    """A callable that stores ``func``'s results by argument and returns a stored result instead of calling again.

    ``cache`` is the dict to store in (a new one by default; anything else
    raises ``TypeError``); ``key(args, kwargs)`` computes the cache key,
    by default the single argument itself or a tuple of the arguments.
    Unhashable arguments raise ``TypeError``. Exceptions are never stored,
    and the wrapper does not bind as a method.

    >>> calls = []
    >>> square = memoize(lambda x: calls.append(x) or x * x)
    >>> square(3), square(3), calls
    (9, 9, [3])
    """

@overload
def thread_first[A](val: A) -> A:
    """``val`` threaded through each form as its first argument.

    A form is a function, called with the value, or a tuple of a function
    and extra arguments, called with the value followed by them:
    ``thread_first(x, (f, a))`` is ``f(x, a)``. An empty tuple raises
    ``IndexError``. Type checkers follow up to three forms that are plain
    functions.

    >>> thread_first(2, (pow, 3), str)
    '8'
    """
@overload
def thread_first[A, B](val: A, f1: Callable[[A], B], /) -> B: ...
@overload
def thread_first[A, B, C](val: A, f1: Callable[[A], B], f2: Callable[[B], C], /) -> C: ...
@overload
def thread_first[A, B, C, D](val: A, f1: Callable[[A], B], f2: Callable[[B], C], f3: Callable[[C], D], /) -> D: ...
@overload
def thread_first(val: Any, *forms: _Form) -> Any: ...

@overload
def thread_last[A](val: A) -> A:
    """``val`` threaded through each form as its last argument.

    Like ``thread_first``, but a tuple form calls its function with the
    extra arguments first: ``thread_last(x, (f, a))`` is ``f(a, x)``.

    >>> thread_last([1, 2], (map, str), list)
    ['1', '2']
    """
@overload
def thread_last[A, B](val: A, f1: Callable[[A], B], /) -> B: ...
@overload
def thread_last[A, B, C](val: A, f1: Callable[[A], B], f2: Callable[[B], C], /) -> C: ...
@overload
def thread_last[A, B, C, D](val: A, f1: Callable[[A], B], f2: Callable[[B], C], f3: Callable[[C], D], /) -> D: ...
@overload
def thread_last(val: Any, *forms: _Form) -> Any: ...

@type_check_only
class _Flip(Protocol):
    @overload
    def __call__[A, B, R](self, func: Callable[[B, A], R], a: A, b: B) -> R: ...
    @overload
    def __call__[A, B, R](self, func: Callable[[B, A], R], a: A) -> _Curried1[B, R]: ...
    @overload
    def __call__[A, B, R](self, func: Callable[[B, A], R]) -> _Curried2[A, B, R]: ...

flip: _Flip
"""``func(b, a)``: calls a two-argument function with its arguments swapped.

It is a ``curry``, so ``flip(func)`` and ``flip(func, a)`` return callables
waiting for the rest.

>>> flip(pow, 2, 3), flip(pow)(2)(3)
(9, 9)
"""

# --------------------------------------------------------- dictionaries

@overload
def merge[K, V](*dicts: Mapping[K, V], factory: None = None) -> dict[K, V]:
    """A new mapping with the items of all ``dicts``; later ones win on equal keys.

    The mappings may also come as one iterable. ``factory()`` makes the
    result (a new dict by default); inputs are never modified. An argument
    that is not a mapping raises ``TypeError``.

    >>> merge({"a": 1, "b": 2}, {"b": 3})
    {'a': 1, 'b': 3}
    """
@overload
def merge[K, V](dicts: Iterable[Mapping[K, V]], /, *, factory: None = None) -> dict[K, V]: ...
@overload
def merge[K, V](*dicts: Mapping[K, V], factory: Callable[[], MutableMapping[K, V]]) -> MutableMapping[K, V]: ...
@overload
def merge[K, V](
    dicts: Iterable[Mapping[K, V]], /, *, factory: Callable[[], MutableMapping[K, V]]
) -> MutableMapping[K, V]: ...

@overload
def merge_with[K, V, R](func: Callable[[list[V]], R], *dicts: Mapping[K, V], factory: None = None) -> dict[K, R]:
    """A new mapping from each key to ``func`` of the list of its values, in mapping order.

    The mappings may also come as one iterable; ``factory()`` makes the
    result. An argument without ``items()`` raises ``AttributeError``.

    >>> merge_with(sum, {"a": 1, "b": 2}, {"a": 10})
    {'a': 11, 'b': 2}
    """
@overload
def merge_with[K, V, R](
    func: Callable[[list[V]], R], dicts: Iterable[Mapping[K, V]], /, *, factory: None = None
) -> dict[K, R]: ...
@overload
def merge_with[K, V, R](
    func: Callable[[list[V]], R], *dicts: Mapping[K, V], factory: Callable[[], MutableMapping[K, R]]
) -> MutableMapping[K, R]: ...
@overload
def merge_with[K, V, R](
    func: Callable[[list[V]], R],
    dicts: Iterable[Mapping[K, V]],
    /,
    *,
    factory: Callable[[], MutableMapping[K, R]],
) -> MutableMapping[K, R]: ...

@overload
def assoc[K, V, K2, V2](d: Mapping[K, V], key: K2, value: V2, factory: None = None) -> dict[K | K2, V | V2]:
    """A new mapping with the items of ``d`` and ``key`` set to ``value``.

    ``d`` is not modified; ``factory()`` makes the result.

    >>> assoc({"a": 1}, "b", 2)
    {'a': 1, 'b': 2}
    """
@overload
def assoc[K, V](
    d: Mapping[K, V], key: K, value: V, factory: Callable[[], MutableMapping[K, V]]
) -> MutableMapping[K, V]: ...

@overload
def dissoc[K, V](d: Mapping[K, V], *keys: K, factory: None = None) -> dict[K, V]:
    """A new mapping with the items of ``d`` except the given keys.

    Absent keys are ignored; ``d`` is not modified.

    >>> dissoc({"a": 1, "b": 2}, "a", "z")
    {'b': 2}
    """
@overload
def dissoc[K, V](d: Mapping[K, V], *keys: K, factory: Callable[[], MutableMapping[K, V]]) -> MutableMapping[K, V]: ...

@overload
def assoc_in(d: Mapping[Any, Any], keys: Iterable[Any], value: Any, factory: None = None) -> dict[Any, Any]:
    """A new nested mapping with the value at the path ``keys`` set to ``value``.

    Every mapping along the path is copied, missing levels are created and
    non-mappings on the path are replaced; ``d`` is not modified. An empty
    path raises ``StopIteration``.

    >>> assoc_in({"a": {"x": 0}}, ["a", "b"], 2)
    {'a': {'x': 0, 'b': 2}}
    """
@overload
def assoc_in[M: MutableMapping[Any, Any]](
    d: Mapping[Any, Any], keys: Iterable[Any], value: Any, factory: Callable[[], M]
) -> M: ...

@overload
def update_in(
    d: Mapping[Any, Any], keys: Iterable[Any], func: Callable[[Any], Any], default: Any = None, factory: None = None
) -> dict[Any, Any]:
    """A new nested mapping with the value at the path ``keys`` replaced by ``func(old)``.

    ``old`` is ``default`` where the path does not exist. Copies like
    ``assoc_in``; ``d`` is not modified. An empty path raises
    ``StopIteration``.

    >>> update_in({"a": {"n": 1}}, ["a", "n"], lambda v: v + 1), update_in({}, ["n"], str, default=0)
    ({'a': {'n': 2}}, {'n': '0'})
    """
@overload
def update_in[M: MutableMapping[Any, Any]](
    d: Mapping[Any, Any], keys: Iterable[Any], func: Callable[[Any], Any], default: Any = None, factory: Callable[[], M] = ...
) -> M: ...

def get_in(keys: Iterable[Any], coll: Any, default: Any = None, no_default: bool = False) -> Any:
    """The value at ``coll[k0][k1]...`` for the keys of ``keys``.

    A lookup failing with ``KeyError``, ``IndexError`` or ``TypeError``
    returns ``default``, or is raised when ``no_default`` is True. Empty
    ``keys`` return ``coll`` itself. Note the order: keys first, unlike
    ``get_in_opt``.

    >>> get_in(["a", 0], {"a": [5]}), get_in(["a", "x"], {"a": {}}, default=0)
    (5, 0)
    """

@overload
def keymap[K, V, K2](func: Callable[[K], K2], d: Mapping[K, V], factory: None = None) -> dict[K2, V]:
    """A new mapping with ``func`` applied to every key.

    When two keys map to equal results the later value wins.

    >>> keymap(str.upper, {"a": 1})
    {'A': 1}
    """
@overload
def keymap[K, V, K2](
    func: Callable[[K], K2], d: Mapping[K, V], factory: Callable[[], MutableMapping[K2, V]]
) -> MutableMapping[K2, V]: ...

@overload
def valmap[K, V, V2](func: Callable[[V], V2], d: Mapping[K, V], factory: None = None) -> dict[K, V2]:
    """A new mapping with ``func`` applied to every value.

    >>> valmap(len, {"a": [1, 2]})
    {'a': 2}
    """
@overload
def valmap[K, V, V2](
    func: Callable[[V], V2], d: Mapping[K, V], factory: Callable[[], MutableMapping[K, V2]]
) -> MutableMapping[K, V2]: ...

@overload
def itemmap[K, V, K2, V2](
    func: Callable[[tuple[K, V]], tuple[K2, V2]], d: Mapping[K, V], factory: None = None
) -> dict[K2, V2]:
    """A new mapping from ``func((key, value))`` for every item, which must give a pair.

    A result that is not exactly two items raises ``ValueError``.

    >>> itemmap(lambda kv: (kv[1], kv[0]), {"a": 1})
    {1: 'a'}
    """
@overload
def itemmap[K, V, K2, V2](
    func: Callable[[tuple[K, V]], tuple[K2, V2]], d: Mapping[K, V], factory: Callable[[], MutableMapping[K2, V2]]
) -> MutableMapping[K2, V2]: ...

@overload
def keyfilter[K, V](predicate: Callable[[K], object], d: Mapping[K, V], factory: None = None) -> dict[K, V]:
    """A new mapping with the items whose key passes ``predicate``.

    >>> keyfilter(lambda k: k > 1, {1: "a", 2: "b"})
    {2: 'b'}
    """
@overload
def keyfilter[K, V](
    predicate: Callable[[K], object], d: Mapping[K, V], factory: Callable[[], MutableMapping[K, V]]
) -> MutableMapping[K, V]: ...

@overload
def valfilter[K, V](predicate: Callable[[V], object], d: Mapping[K, V], factory: None = None) -> dict[K, V]:
    """A new mapping with the items whose value passes ``predicate``.

    >>> valfilter(bool, {"a": 0, "b": 3})
    {'b': 3}
    """
@overload
def valfilter[K, V](
    predicate: Callable[[V], object], d: Mapping[K, V], factory: Callable[[], MutableMapping[K, V]]
) -> MutableMapping[K, V]: ...

@overload
def itemfilter[K, V](predicate: Callable[[tuple[K, V]], object], d: Mapping[K, V], factory: None = None) -> dict[K, V]:
    """A new mapping with the items for which ``predicate((key, value))`` is true.

    >>> itemfilter(lambda kv: kv[0] == kv[1], {1: 1, 2: 3})
    {1: 1}
    """
@overload
def itemfilter[K, V](
    predicate: Callable[[tuple[K, V]], object], d: Mapping[K, V], factory: Callable[[], MutableMapping[K, V]]
) -> MutableMapping[K, V]: ...

# ------------------------------------------------------------ iterators

@final
class RustIter[T]:
    """The iterator returned by many lazy functions (``partition``, ``join``, ``diff``, ...).

    It cannot be made directly. Using one iterator from inside its own
    step (for example from a key function) raises ``ValueError``.

    >>> isinstance(partition_all(2, [1, 2, 3]), RustIter)
    True
    """

    def __iter__(self) -> Self: ...
    def __next__(self) -> T: ...

# --------------------------------------------------------------- fluent

# Declared covariant: an Iter never stores what it yields, though methods
# such as collect return invariant containers of it.
_T_co = TypeVar("_T_co", covariant=True)

@final
class Iter(Generic[_T_co]):
    """A fluent wrapper around one iterable.

    Lazy methods (``map``, ``filter``, ``take``, ...) return a new ``Iter``
    around the lazy result; terminal methods (``collect``, ``reduce``,
    ``frequencies``, ``first``, ...) return plain values, and ``first``,
    ``last`` and ``nth`` return options instead of raising. The wrapped
    object is not checked when the ``Iter`` is made; an ``Iter`` over a
    one-shot iterator is used up by the first terminal method. ``iter()``
    of an ``Iter`` is the wrapped iterable's own iterator.

    >>> Iter(range(10)).filter(lambda x: x % 3).map(str).take(3).collect()
    ['1', '2', '4']
    >>> Iter("mississippi").frequencies(), Iter([]).first()
    ({'m': 1, 'i': 4, 's': 4, 'p': 2}, Nothing)
    """

    def __new__(cls, inner: Iterable[_T_co]) -> Iter[_T_co]: ...
    def __iter__(self) -> Iterator[_T_co]: ...
    def map[U](self, f: Callable[[_T_co], U]) -> Iter[U]:
        """A lazy ``Iter`` over ``f(x)`` for each element."""

    @overload
    def filter(self, f: None) -> Iter[_T_co]:
        """A lazy ``Iter`` over the elements for which ``f`` is true (the true elements for None)."""
    @overload
    def filter[S](self, f: Callable[[_T_co], TypeIs[S]]) -> Iter[S]: ...
    @overload
    def filter[S](self, f: Callable[[_T_co], TypeGuard[S]]) -> Iter[S]: ...
    @overload
    def filter(self, f: Callable[[_T_co], object]) -> Iter[_T_co]: ...

    @overload
    def unique[H: Hashable](self: Iter[H], key: None = None) -> Iter[H]:
        """A lazy ``Iter`` over first occurrences, as ``unique``."""
    @overload
    def unique(self, key: Callable[[_T_co], Hashable]) -> Iter[_T_co]: ...

    def take(self, n: SupportsIndex) -> Iter[_T_co]:
        """A lazy ``Iter`` over the first ``n`` elements; a negative ``n`` raises ``OverflowError``."""

    def drop(self, n: SupportsIndex) -> Iter[_T_co]:
        """A lazy ``Iter`` over the elements after the first ``n``."""

    @overload
    def sliding_window(self, n: Literal[2]) -> Iter[tuple[_T_co, _T_co]]:
        """A lazy ``Iter`` over windows of ``n`` elements, as ``sliding_window``."""
    @overload
    def sliding_window(self, n: Literal[3]) -> Iter[tuple[_T_co, _T_co, _T_co]]: ...
    @overload
    def sliding_window(self, n: SupportsIndex) -> Iter[tuple[_T_co, ...]]: ...

    def partition_all(self, n: SupportsIndex) -> Iter[tuple[_T_co, ...]]:
        """A lazy ``Iter`` over tuples of up to ``n`` elements; ``n`` of 0 yields nothing."""

    def flat_map[U](self, f: Callable[[_T_co], Iterable[U]]) -> Iter[U]:
        """A lazy ``Iter`` over the concatenation of ``f(x)`` for each element."""

    @overload
    def pluck[K, V](self: Iter[SupportsGetItem[K, V]], ind: list[K]) -> Iter[tuple[V, ...]]:
        """A lazy ``Iter`` over ``x[ind]`` for each element (a tuple of lookups for a list ``ind``)."""
    @overload
    def pluck[K, V](self: Iter[SupportsGetItem[K, V]], ind: K) -> Iter[V]: ...

    def interpose[U](self, el: U) -> Iter[_T_co | U]:
        """A lazy ``Iter`` with ``el`` between neighbouring elements; an empty input yields nothing."""

    def accumulate(self, binop: Callable[[_T_co, _T_co], _T_co]) -> Iter[_T_co]:
        """A lazy ``Iter`` over running results of ``binop``."""

    def collect(self) -> list[_T_co]:
        """The elements as a list."""

    @overload
    def reduce(self, binop: Callable[[_T_co, _T_co], _T_co]) -> _T_co:
        """The elements folded with ``binop``, from the optional initial value if given.

        An empty input without initial value raises ``TypeError``.
        """
    @overload
    def reduce[A](self, binop: Callable[[A, _T_co], A], *rest: *tuple[A]) -> A: ...

    def count(self) -> int:
        """The number of elements."""

    def frequencies[H: Hashable](self: Iter[H]) -> dict[H, int]:
        """A dict from each element to its number of occurrences, as ``frequencies``."""

    @overload
    def group_by[K: Hashable](self, key: Callable[[_T_co], K]) -> dict[K, list[_T_co]]:
        """A dict from each key to its elements, as ``groupby``."""
    @overload
    def group_by(self, key: list[Any]) -> dict[tuple[Any, ...], list[_T_co]]: ...
    @overload
    def group_by(self, key: _Index) -> dict[Any, list[_T_co]]: ...

    @overload
    def to_dict[K, V](self: Iter[tuple[K, V]]) -> dict[K, V]:
        """``dict()`` of the elements, which must be pairs."""
    @overload
    def to_dict[S](self: Iter[Iterable[S]]) -> dict[S, S]: ...

    def first(self) -> Some[_T_co] | NothingType:
        """The first element as an option."""

    def last(self) -> Some[_T_co] | NothingType:
        """The last element as an option; reads everything."""

    def nth(self, i: SupportsIndex) -> Some[_T_co] | NothingType:
        """The element at position ``i`` as an option; a negative ``i`` raises ``OverflowError``."""
