"""quibra: a compiled functional-programming toolkit.

Everything public lives in the native module ``quibra._quibra``; this package
re-exports it unchanged.
"""

from quibra import _quibra
from quibra._quibra import *  # noqa: F401,F403

__all__ = list(_quibra.__all__)
