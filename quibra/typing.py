"""Type aliases for annotating quibra's option and result values.

``Option[T]`` is a ``Some[T]`` or the empty option; ``Result[T, E]`` is an
``Ok[T]`` or an ``Err[E]``. They live here, not in ``quibra`` itself, because
there ``Option`` and ``Result`` name the factory classes (``Option.of``,
``Result.of``).
"""

from quibra._quibra import Err, NothingType, Ok, Some

__all__ = ["Option", "Result"]

# The value classes are generic only to type checkers, so at run time the
# aliases stand for the plain unions.
type Option[T] = Some | NothingType
type Result[T, E] = Ok | Err
