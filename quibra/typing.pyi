from quibra._quibra import Err, NothingType, Ok, Some

__all__ = ["Option", "Result"]

type Option[T] = Some[T] | NothingType
"""A ``Some[T]`` or the empty option.

Narrow it with ``match`` (``case Some(v):`` / ``case NothingType():``), with
``isinstance`` or with its truth value: ``Some`` is always true and the
empty option false.

>>> from quibra.typing import Option
>>> def halve(n: int) -> Option[int]:
...     return Some(n // 2) if n % 2 == 0 else Nothing
>>> halve(4), halve(3)
(Some(2), Nothing)
"""

type Result[T, E] = Ok[T] | Err[E]
"""An ``Ok[T]`` or an ``Err[E]``.

Narrow it with ``match`` (``case Ok(v):`` / ``case Err(e):``), with
``isinstance`` or with its truth value: ``Ok`` is always true and ``Err``
false.

>>> from quibra.typing import Result
>>> def parse(text: str) -> Result[int, str]:
...     return Ok(int(text)) if text.isdigit() else Err(f"not a number: {text!r}")
>>> parse("12"), parse("x")
(Ok(12), Err("not a number: 'x'"))
"""
