from quibra import _quibra as _quibra
from quibra._quibra import *
from quibra._quibra import __all__ as __all__
