"""What several test files share."""


def drain(it, limit=100):
    """The outcome of each next(it) up to the end: a value, or the type of the exception."""
    out = []
    while len(out) < limit:
        try:
            out.append(next(it))
        except StopIteration:
            return out
        except Exception as e:
            out.append(type(e))
    return out


class Logged:
    """A key equal to the int it wraps, hashing like it; every __hash__ and __eq__ is logged."""

    def __init__(self, v, log):
        self.v, self.log = v, log

    def __hash__(self):
        self.log.append(("hash", self.v))
        return hash(self.v)

    def __eq__(self, other):
        self.log.append(("eq", self.v, getattr(other, "v", other)))
        return self.v == getattr(other, "v", other)
