from quibra import _quibra as _quibra
from quibra._quibra import *
