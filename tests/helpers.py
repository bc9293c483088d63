"""What several test files share."""

import os
import subprocess
import sys
import textwrap


class Boom(Exception):
    """The error user code raises in these tests."""


def boom(*args, **kwargs):
    raise Boom


class Source:
    """A scripted iterator: yields `items` in turn (the list may grow), raises Boom once
    at each position in `fail_at`, and ends once at each position in `end_at` before going
    on; `taken` counts the elements handed out. Weakly referenceable."""

    def __init__(self, items=(), fail_at=(), end_at=()):
        self.items, self.fail_at, self.end_at, self.taken = list(items), set(fail_at), set(end_at), 0

    def __iter__(self):
        return self

    def __next__(self):
        for marks, exc in ((self.fail_at, Boom), (self.end_at, StopIteration)):
            if self.taken in marks:
                marks.discard(self.taken)
                raise exc
        if self.taken >= len(self.items):
            raise StopIteration
        self.taken += 1
        return self.items[self.taken - 1]


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


def run_python(*code, debug_malloc=False, timeout=120, check=True, **env):
    """Runs the dedented code in a child interpreter and returns its output; the child
    must exit with status 0 unless check is false (then the process is returned).
    debug_malloc poisons freed memory, so a use after free crashes there."""
    extra = {"PYTHONMALLOC": "debug", "PYTHONFAULTHANDLER": "1"} if debug_malloc else {}
    proc = subprocess.run([sys.executable, "-c", "\n".join(map(textwrap.dedent, code))], capture_output=True,
                          text=True, timeout=timeout, env={**os.environ, **extra, **env})
    if not check:
        return proc
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr[-3000:]}"
    return proc.stdout


def parse_signature(sig):
    """[(name, kind)] from a text signature: kind is "" (positional or keyword), "kw"
    (keyword-only), "*", "**" or "self"; a default is kept after the name ("key=None")."""
    params, star = [], False
    for p in (p.strip() for p in sig.strip("()").split(",")):
        if not p:
            continue
        if p == "$self":
            params.append(("self", "self"))
        elif p.startswith("**"):
            params.append((p[2:], "**"))
        elif p.startswith("*"):
            params.append((p[1:], "*"))
            star = True
        else:
            params.append((p, "kw" if star else ""))
    return params


def raises(exc, call, match=None):
    """The exception call() raises, which must be an exc whose message matches `match`."""
    import pytest
    with pytest.raises(exc, match=match) as info:
        call()
    return info.value


def unlogged(x):
    """x with each Logged in it (through dicts, lists and tuples) replaced by its int; dicts
    become item lists, so their order counts."""
    if isinstance(x, Logged):
        return x.v
    if isinstance(x, dict):
        return [(unlogged(k), unlogged(v)) for k, v in x.items()]
    return type(x)(map(unlogged, x)) if type(x) in (list, tuple) else x


def assert_calls_user_code_alike(ours, model, drawn):
    """ours and model, each handed the drawn keys ((int, logged) pairs: a plain int, or a
    Logged one equal to it) made afresh, give the same result after the same __hash__ and
    __eq__ calls on those keys, in the same order."""
    runs = []
    for f in (ours, model):
        log = []
        runs.append((unlogged(f([Logged(v, log) if logged else v for v, logged in drawn])), log))
    assert runs[0] == runs[1]


class Colliding(Logged):
    """A Logged key whose hash is `h`, whatever its value."""

    def __init__(self, v, log, h=42):
        super().__init__(v, log)
        self.h = h

    def __hash__(self):
        return self.h


class Holder:
    """Something to tie into a cycle and watch for."""


def assert_collected(make):
    """make(holder) returns something that refers back to holder, kept on holder: the
    collector must free that cycle."""
    import gc
    import weakref
    holder = Holder()
    holder.kept = make(holder)
    alive = weakref.ref(holder)
    del holder
    gc.collect()
    assert alive() is None


def raising(exc):
    """A function of any arguments that raises exc (an instance: the very object must come out)."""
    def f(*args, **kwargs):
        raise exc
    return f


def then_raise(items, exc):
    """A generator of items that then raises exc."""
    yield from items
    raise exc


def is_fresh_nothing(x):
    """An empty option made for the occasion: never the module's shared Nothing."""
    from quibra._quibra import Nothing, NothingType
    return type(x) is NothingType and x is not Nothing
