"""Every public callable against hostile arguments.

Each parameter of each function, constructor and method in turn receives
objects whose protocol methods raise or answer with the wrong type, None,
huge, negative and fractional sizes, lists that change while they are read,
callbacks raising KeyboardInterrupt, elements that empty the containers
holding them. Whatever the call does, the outcome (and that of using its
result: draining an iterator, calling a wrapper, printing a value) must be a
value or an ordinary exception: never a crash, a SystemError, an internal
fault or, under the leak check, a leaked reference.

The targets are what the module exports, grouped by the families of
docs/families.toml. The whole table runs first in a child interpreter whose
allocator poisons freed memory, one case after another, so a crash names its
case. Under the leak check a sample of each family's cases runs again here,
where the reference totals are measured."""

import array
import collections
import gc
import itertools
import operator
import pathlib
import sys
import tomllib
import types
from dataclasses import dataclass

import pytest

import quibra._quibra as q
from tests.helpers import Boom, parse_signature, run_python

ROOT = pathlib.Path(__file__).resolve().parents[1]

# ---- hostile objects ------------------------------------------------------------

def protocol_class(name, methods):
    """A class whose protocol methods are the given functions of (self, *args)."""
    return type(name, (), {k: (lambda f: lambda self, *a, **kw: f(self, *a))(f) for k, f in methods.items()})


def raise_(exc):
    def method(self, *args):
        raise exc("hostile")
    return method


COMPARISONS = ["__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__"]
PROTOCOL = COMPARISONS + ["__iter__", "__next__", "__hash__", "__len__", "__length_hint__", "__getitem__",
                          "__setitem__", "__delitem__", "__contains__", "__index__", "__bool__", "__call__",
                          "__buffer__", "__repr__", "__str__", "__getattr__"]
# Every protocol method raises; so does looking up a missing attribute (keys,
# items), which hasattr does not swallow.
Raises = protocol_class("Raises", dict.fromkeys(PROTOCOL, raise_(Boom)))
Interrupts = protocol_class("Interrupts", dict.fromkeys(PROTOCOL, raise_(KeyboardInterrupt)))
# Protocol methods answering with the wrong type.
Wrong = protocol_class("Wrong", {
    **dict.fromkeys(COMPARISONS + ["__contains__", "__call__"], lambda self, *a: Raises()),  # truth raises
    **dict.fromkeys(["__hash__", "__len__", "__length_hint__", "__index__"], lambda self: "x"),
    "__iter__": lambda self: 5, "__bool__": lambda self: 2, "__getitem__": lambda self, key: self,
    "__buffer__": lambda self, flags: 5, "keys": lambda self: 5, "items": lambda self: [1, (2,), (3, 4, 5)],
})


class Failing:
    """An iterator that delivers two items, then raises; its length hint is invalid."""

    def __init__(self, exc):
        self.exc, self.left = exc, 2

    def __iter__(self):
        return self

    def __next__(self):
        if self.left == 0:
            raise self.exc("hostile")
        self.left -= 1
        return self.left

    def __length_hint__(self):
        return -1


class Ctx:
    """The benign arguments of one case, and the mutations hostile objects make to them."""

    __slots__ = ("data", "mapping", "elements", "mutations")

    def __init__(self):
        self.data = [3, 1, 2, 3]
        self.mapping = {"a": 1, "b": 2}
        self.elements = [Mutator(self) for _ in range(3)]
        self.mutations = 0

    def mutate(self):
        # Bounded, so that nothing reading a list that keeps changing runs forever.
        if self.mutations >= 8:
            return
        step, self.mutations = self.mutations % 4, self.mutations + 1
        for target, extra in ((self.data, 7), (self.elements, Mutator(self))):
            [target.clear, lambda: target.extend([extra] * 3), lambda: target.__delitem__(slice(0, 1)),
             lambda: target.insert(0, extra)][step]()
        [self.mapping.clear, lambda: self.mapping.update(z=0), lambda: self.mapping.pop("z", None),
         lambda: self.mapping.update(a=1)][step]()


class Mutator:
    """An element (or callback) that changes the lists and the dict of its case whenever
    it is used, and otherwise answers plausibly."""

    def __init__(self, ctx):
        self.ctx = ctx

    def used(self, answer):
        self.ctx.mutate()
        return answer


for _name, _answer in {**dict.fromkeys(COMPARISONS, lambda: False), "__hash__": lambda: 0,
                       "__getitem__": lambda: 0, "__iter__": lambda: iter((0, 1)), "__len__": lambda: 2,
                       "__index__": lambda: 1, "__bool__": lambda: True, "__call__": lambda: 0,
                       "keys": lambda: [], "items": lambda: [(0, 1)]}.items():
    setattr(Mutator, _name, (lambda answer: lambda self, *a, **kw: self.used(answer()))(_answer))


def empty_referrers(obj):
    for r in gc.get_referrers(obj):
        if type(r) in (list, dict):
            r.clear()


class Clearer(Mutator):
    """Used the first time, it empties every list and dict holding it, or holding a
    list or dict it is called with: what a callback can do to a private container."""

    def used(self, answer):
        if self.ctx is not None:
            self.ctx = None
            empty_referrers(self)
        return answer

    def __call__(self, *args, **kwargs):
        for a in args:
            if type(a) in (list, dict):
                empty_referrers(a)
        return self.used(0)


class RaisingItems(dict):
    def items(self):
        raise Boom("hostile")

    def __missing__(self, key):
        raise Boom("hostile")


@dataclass(frozen=True)
class Hostile:
    make: object  # Ctx -> value
    interrupts: bool = False  # KeyboardInterrupt is an expected outcome
    fits: object = None  # which benign values it may replace (all when None)


def container(v):
    return isinstance(v, (list, dict))


HOSTILE = {
    "none": Hostile(lambda c: None),
    "raises": Hostile(lambda c: Raises()),
    "interrupts": Hostile(lambda c: Interrupts(), interrupts=True),
    "wrong": Hostile(lambda c: Wrong()),
    "failing_iter": Hostile(lambda c: Failing(Boom)),
    "interrupted_iter": Hostile(lambda c: Failing(KeyboardInterrupt), interrupts=True),
    "raising_elements": Hostile(lambda c: [Raises(), Raises()]),
    "interrupting_elements": Hostile(lambda c: [Interrupts(), Interrupts()], interrupts=True),
    "wrong_elements": Hostile(lambda c: [Wrong(), Wrong()]),
    "mutating_list": Hostile(lambda c: c.elements),
    "mutating_call": Hostile(lambda c: Mutator(c)),
    "clearing": Hostile(lambda c: [Clearer(c), Clearer(c)], fits=container),
    "clearing_call": Hostile(lambda c: Clearer(c), fits=lambda v: callable(v) and not isinstance(v, type)),
    "huge": Hostile(lambda c: 2**64 + 1),
    "maxsize": Hostile(lambda c: sys.maxsize),
    "negative": Hostile(lambda c: -1),
    "very_negative": Hostile(lambda c: -10**30),
    "fraction": Hostile(lambda c: 1.5),
    "self_containing": Hostile(lambda c: (lambda x: x.append(x) or x)([])),
    "raising_dict": Hostile(lambda c: RaisingItems(a=1)),
    "defaultdict": Hostile(lambda c: collections.defaultdict(list, a=[1])),
    "strided_buffer": Hostile(lambda c: memoryview(bytes(range(8)))[::2]),
    "2d_buffer": Hostile(lambda c: memoryview(bytes(range(8))).cast("B", (2, 4))),
    "float_buffer": Hostile(lambda c: array.array("d", [1.5, 1.5])),
}


# ---- the callables and their benign arguments ----------------------------------------


def identity(*args, **kwargs):
    return args[0] if args else None


def left(a, b):
    return a


def raise_value_error(*args, **kwargs):
    raise ValueError("benign")


class fresh:
    """A benign value made anew for each case from its Ctx."""

    def __init__(self, make):
        self.make = make


# By parameter name.
BENIGN = {
    "seq": fresh(lambda c: c.data), "coll": fresh(lambda c: c.data), "inner": fresh(lambda c: c.data),
    "leftseq": fresh(lambda c: c.data), "rightseq": fresh(lambda c: c.data),
    "seqs": fresh(lambda c: [c.data, [4, 5]]), "d": fresh(lambda c: c.mapping), "keys": fresh(lambda c: ["a"]),
    "n": 2, "k": 2, "i": 1, "ind": 0, "key": None,
    "el": 1, "x": 1, "val": 1, "data": 1, "a": 1, "b": 2, "v": 1, "value": 1, "err": 1,
    "error": fresh(lambda c: ValueError("benign")), "exc": ValueError,
    "func": identity, "f": identity, "predicate": identity, "pred": identity, "handler": identity,
    "leftkey": identity, "rightkey": identity, "binop": left,
    "cache": None, "factory": None, "default": None, "no_default": False,
    "left_default": None, "right_default": None,
}
# *name parameters: the benign extra positional arguments.
BENIGN_REST = {
    "seqs": fresh(lambda c: [c.data, [4, 5]]), "dicts": fresh(lambda c: [c.mapping, {"c": 3}]),
    "funcs": [identity, identity], "forms": [identity, (identity,)], "keys": ["a"], "args": [1], "rest": [],
}
OVERRIDES = {
    "assoc": {"key": "a"},
    "countby": {"key": identity}, "groupby": {"key": identity}, "reduceby": {"key": identity},
    "Iter.group_by": {"key": identity},
    "excepts": {"func": raise_value_error},  # so that the exception test runs
    "get_in": {"coll": fresh(lambda c: c.mapping)}, "get_in_opt": {"coll": fresh(lambda c: c.mapping)},
    "curry": {"*args": []},
}
# The instance a method is called on, made from this payload.
PAYLOAD = {q.NothingType: None, q.Some: 1, q.Ok: 1, q.Err: fresh(lambda c: ValueError("benign")),
           q.Iter: fresh(lambda c: c.data)}
# **name parameters: the keywords a hostile value is given under.
KEYWORDS = {"diff": ["default", "key"]}


@dataclass(frozen=True)
class Target:
    name: str  # as in the case ids: "merge", "Some", "Iter.take"
    family: str
    params: tuple
    fn: object  # the callable, or a method's class
    method: str = ""


def params(sig):
    return tuple((name.split("=")[0], kind) for name, kind in parse_signature(sig))


def targets():
    """Every function, curried function and constructor of the namespace, and every public method."""
    with (ROOT / "docs" / "families.toml").open("rb") as f:
        family_of = {name: family["key"] for family in tomllib.load(f)["family"] for name in family["names"]}
    out = []
    for name in q.__all__:
        obj = getattr(q, name)
        if isinstance(obj, q.curry):  # its signature is that of the function it holds
            sig = next(r for r in gc.get_referents(obj) if isinstance(r, types.BuiltinFunctionType)).__text_signature__
        elif isinstance(obj, (type, types.BuiltinFunctionType)):
            sig = obj.__text_signature__
        else:
            continue
        if sig:
            out.append(Target(name, family_of[name], params(sig), obj))
        for attr, member in vars(obj).items() if isinstance(obj, type) else ():
            if not attr.startswith("_") and callable(member):
                out.append(Target(f"{name}.{attr}", family_of[name], params(getattr(obj, attr).__text_signature__),
                                  obj, attr))
    return out


TARGETS = targets()


def benign(target, name, kind, ctx):
    if kind == "self":
        value = PAYLOAD[target.fn]
    elif kind == "*":
        value = OVERRIDES.get(target.name, {}).get(f"*{name}", BENIGN_REST[name])
    else:
        value = OVERRIDES.get(target.name, {}).get(name, BENIGN[name])
    if isinstance(value, fresh):
        value = value.make(ctx)
    return list(value) if kind == "*" else value


def slots(target):
    """The places a hostile value can go: (parameter index, keyword or None); a *name
    parameter takes it among benign values or alone."""
    out = []
    for i, (name, kind) in enumerate(target.params):
        if kind == "**":
            out += [(i, kw) for kw in KEYWORDS.get(target.name, ["extra"])]
        elif kind == "*":
            out += [(i, None), (i, "alone")]
        elif not (kind == "self" and target.fn is q.NothingType):  # it has no payload
            out.append((i, None))
    return out


def build_call(target, slot, hostile, ctx):
    """The call of `target` with `hostile` in `slot` and benign values elsewhere."""
    args, kwargs, self_value = [], {}, None
    for i, (name, kind) in enumerate(target.params):
        mine = slot[0] == i
        if kind == "self":
            self_value = hostile if mine else benign(target, name, kind, ctx)
        elif kind == "*":
            extra = benign(target, name, kind, ctx)
            args += ([hostile] if slot[1] == "alone" else [hostile] + extra[1:]) if mine else extra
        elif kind in ("**", "kw"):
            if mine:
                kwargs[slot[1] if kind == "**" else name] = hostile
        else:
            args.append(hostile if mine else benign(target, name, kind, ctx))
    if not target.method:
        return lambda: target.fn(*args, **kwargs)
    cls = target.fn
    if not any(kind == "self" for _, kind in target.params):  # a static method
        return lambda: getattr(cls, target.method)(*args, **kwargs)

    def call():
        obj = cls() if cls is q.NothingType else cls(self_value)
        return getattr(obj, target.method)(*args, **kwargs)
    return call


# What the leak check reruns in-process in every slot: the kinds that reach the
# reference-sensitive paths (raising and interrupting callbacks and elements,
# failing iterators and mappings, containers changing or emptied under the
# reader), those whose elements are objects a call hands on (a reference leaked
# to the benign values, small immortal ints, would not show), and one of the
# other kinds in turn, so that across the table each of those shows up too.
LEAK_KINDS = {"raises", "interrupts", "failing_iter", "interrupted_iter", "raising_elements", "raising_dict",
              "mutating_list", "mutating_call", "clearing", "clearing_call", "wrong_elements", "self_containing"}


@dataclass(frozen=True)
class Case:
    id: str
    target: Target
    slot: tuple
    hostile: str
    leak_sample: bool


def cases():
    out, turn = [], 0
    others = [h for h in HOSTILE if h not in LEAK_KINDS]
    for t in TARGETS:
        for slot in slots(t):
            name, kind = t.params[slot[0]]
            label = {"*": "*", "**": "", "self": "$"}.get(kind, "") + (slot[1] if kind == "**" else name)
            label += ":alone" if slot[1] == "alone" else ""
            sample = None if kind in ("self", "**") else benign(t, name, kind, Ctx())
            turn += 1
            out += [Case(f"{t.name}[{label}={h}]", t, slot, h, h in LEAK_KINDS or h == others[turn % len(others)])
                    for h, made in HOSTILE.items() if made.fits is None or kind == "*" or made.fits(sample)]
    return out


CASES = cases()


# ---- running a case ----------------------------------------------------------------


def describe(e):
    try:
        text = str(e)
    except BaseException:
        text = "<unprintable>"
    return f"{type(e).__name__}: {text[:200]}"


def run_case(case):
    """The problems one case shows (an empty list when it behaves)."""
    hostile = HOSTILE[case.hostile]
    problems = []

    def attempt(what, fn):
        try:
            return fn()
        except BaseException as e:
            acceptable = isinstance(e, Exception) and not isinstance(e, SystemError)
            acceptable = acceptable or (hostile.interrupts and type(e) is KeyboardInterrupt)
            if not acceptable:
                problems.append(f"{what} raised {describe(e)}")
            return e

    unraisable = []
    previous_hook, sys.unraisablehook = sys.unraisablehook, unraisable.append
    try:
        ctx = Ctx()
        value = hostile.make(ctx)
        result = attempt("call", build_call(case.target, case.slot, value, ctx))
        if not isinstance(result, BaseException):
            for what, fn in probes(result, value):
                if isinstance(attempt(what, fn), BaseException) and what.startswith("next"):
                    break
        del result, value, ctx
    finally:
        sys.unraisablehook = previous_hook
    for u in unraisable:
        if isinstance(u.exc_value, SystemError) or type(u.exc_value).__name__ == "PanicException":
            problems.append(f"unraisable {describe(u.exc_value)}")
    return problems


def probes(result, hostile):
    """What using the result means: printing and comparing a value, calling a wrapper,
    draining an iterator."""
    if isinstance(result, (q.Some, q.NothingType, q.Ok, q.Err)):
        return [("repr", lambda: repr(result)), ("eq", lambda: result == result),
                ("ne", lambda: result != q.Some(1))]
    if type(result).__name__ in ("curry", "Compose", "Complement", "Juxt", "Excepts", "Memoize"):
        return [("call(1)", lambda: result(1)), ("call(hostile)", lambda: result(hostile))]
    if isinstance(result, q.Iter):
        return [("iter", lambda: list(itertools.islice(result, 30)))]
    if hasattr(type(result), "__next__"):
        return [("length_hint", lambda: operator.length_hint(result))] + [
            (f"next #{i}", lambda: next(result)) for i in range(30)]
    return []


# ---- the child's sweep and the tests ---------------------------------------------------


def sweep(start):
    """In the child: every case from `start` on, each announced before it runs."""
    for i in range(start, len(CASES)):
        print(i, flush=True)
        for p in run_case(CASES[i]):
            print("problem", i, p.replace("\n", " "), flush=True)
    print("end", flush=True)


@pytest.fixture(scope="module")
def child_outcomes():
    """Crashes and problems by case index, from child interpreters that resume
    after the case that took the previous one down."""
    crashes, problems, start = {}, collections.defaultdict(list), 0
    while len(crashes) < 20:
        proc = run_python(f"import sys; sys.path.insert(0, {str(ROOT)!r})",
                          f"from tests.test_hostile import sweep; sweep({start})",
                          debug_malloc=True, check=False, timeout=900)
        last = None
        lines = proc.stdout.splitlines()
        for line in lines:
            if line.startswith("problem "):
                _, i, text = line.split(" ", 2)
                problems[int(i)].append(text)
            elif line.isdigit():
                last = int(line)
        if proc.returncode == 0 and lines[-1:] == ["end"]:
            break
        if last is None:
            pytest.fail(f"the child failed before its first case: {proc.stderr.strip()[-1500:]}")
        crashes[last] = f"exit status {proc.returncode}; {proc.stderr.strip()[-1500:]}"
        start = last + 1
    return crashes, problems


@pytest.mark.parametrize("family", dict.fromkeys(t.family for t in TARGETS))
def test_hostile_arguments(family, child_outcomes, request):
    crashes, problems = child_outcomes
    mine = [i for i, c in enumerate(CASES) if c.target.family == family]
    report = [f"{CASES[i].id} crashed the interpreter: {crashes[i]}" for i in mine if i in crashes]
    report += [f"{CASES[i].id}: {p}" for i in mine for p in problems.get(i, [])]
    if request.config.getoption("--leaks", default=False):
        # Again here, where the leak check counts references around the test.
        for i in mine:
            if i not in crashes and CASES[i].leak_sample:
                report += [f"{CASES[i].id}: {p}" for p in run_case(CASES[i])]
    assert not report, "\n".join(report)
