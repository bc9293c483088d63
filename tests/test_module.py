"""Module namespace, classes, argument binding and error translation."""

import importlib.util
import sys
import types

import pytest

import quibra
import quibra._quibra as q
from tests.helpers import run_python

FUNCTIONS = [n for n in q.__all__ if isinstance(getattr(q, n), types.BuiltinFunctionType)]
CLASSES = [n for n in q.__all__ if isinstance(getattr(q, n), type)]


def test_namespace():
    assert len(set(q.__all__)) == len(q.__all__)
    assert {n for n in vars(q) if not n.startswith("_")} == set(q.__all__)
    assert quibra.__all__ == q.__all__ and all(getattr(quibra, n) is getattr(q, n) for n in q.__all__)
    # Besides functions and classes, two ready-made instances.
    assert [n for n in q.__all__ if n not in FUNCTIONS + CLASSES] == ["Nothing", "flip"]
    assert type(q.Nothing) is q.NothingType and type(q.flip) is q.curry


def test_function_objects():
    for name in FUNCTIONS:
        fn = getattr(q, name)
        assert (fn.__name__, fn.__self__, fn.__module__, fn.__doc__) == (name, q, q.__name__, None), name
        assert fn.__text_signature__.startswith("("), name


@pytest.mark.parametrize("name", CLASSES)
def test_class_properties(name):
    cls = getattr(q, name)
    assert (cls.__module__, cls.__doc__, cls.__dictoffset__, cls.__weakrefoffset__) == ("quibra._quibra", None, 0, 0)
    # Every class whose instances hold objects takes part in cycle collection.
    assert bool(cls.__flags__ & (1 << 14)) == (name not in ("NothingType", "Option", "Result"))
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    if cls.__text_signature__ is None:  # not to be made from Python
        with pytest.raises(TypeError):
            cls()
    cls.extra_attribute = 1  # type objects stay mutable
    del cls.extra_attribute


# One case per message shape the binder makes.
@pytest.mark.parametrize("call, message", [
    (lambda: q.first(), "first() missing 1 required positional argument: 'seq'"),
    (lambda: q.nth(), "nth() missing 2 required positional arguments: 'n' and 'seq'"),
    (lambda: q.assoc({}), "assoc() missing 2 required positional arguments: 'key' and 'value'"),
    (lambda: q.update_in(), "update_in() missing 3 required positional arguments: 'd', 'keys', and 'func'"),
    (lambda: q.merge_sorted([1], zzz=1), "merge_sorted() got an unexpected keyword argument 'zzz'"),
    (lambda: q.nth(0, [1], 2), "nth() takes 2 positional arguments but 3 were given"),
    (lambda: q.topk(1, [2], None, 4), "topk() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda: q.NothingType(1), "NothingType.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: q.get_in(["a"], {}, coll={}), "get_in() got multiple values for argument 'coll'"),
    (lambda: q.Some(1).map(), "Some.map() missing 1 required positional argument: 'f'"),
])
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("call, display", [
    (lambda **kw: q.first(seq=[1], **kw), "first()"),  # fast call
    (lambda **kw: q.Some(1, **kw), "Some.__new__()"),  # tuple and dict
    (lambda **kw: q.Some(1).map(len, **kw), "Some.map()"),
])
@pytest.mark.parametrize("name", ["\udc80", "a\x00b", "\u00e9t\u00e9"])
def test_unexpected_keyword_names_appear_as_given(call, display, name):
    # Not encoded on the way: a lone surrogate cannot be, and a NUL would end the text.
    with pytest.raises(TypeError) as info:
        call(**{name: 1})
    assert str(info.value) == f"{display} got an unexpected keyword argument '{name}'"
    assert q.apply(dict, **{name: 1}) == {name: 1}


# In child processes: each needs an interpreter of its own (a fresh import, numpy,
# which upsets the leak check of later tests, a broken standard library, an
# allocator made to fail), and prints what it found.
CHILDREN = {
    "import is lazy about the standard library": ("""
        import sys
        before = set(sys.modules)
        import quibra._quibra
        lazy = {"itertools", "inspect", "heapq", "functools", "collections.abc"}
        print(sorted((set(sys.modules) - before) & lazy))
    """, ["[]"]),
    "strict bool takes the numeric library's booleans": ("""
        import numpy as np, quibra._quibra as q
        print(q.get_in(["x"], {}, 5, np.False_))
        try:
            q.get_in(["x"], {}, 5, np.True_)
        except KeyError:
            print("raised")
    """, ["5", "raised"]),
    # The first nth() on a non-list caches collections.abc.Sequence. A failed
    # import leaves the cell empty; a slow one makes other threads wait with
    # the interpreter released (otherwise this would deadlock).
    "cached import retries after a failure, and waiters detach": ("""
        import sys, threading, time, types
        import quibra._quibra as q
        sys.modules["collections.abc"] = None
        try:
            q.nth(0, "ab")
        except ImportError:
            print("import failed")
        class Slow(types.ModuleType):
            def __getattr__(self, name):
                time.sleep(0.3)
                import _collections_abc
                return getattr(_collections_abc, name)
        sys.modules["collections.abc"] = Slow("collections.abc")
        results = []
        threads = [threading.Thread(target=lambda: results.append(q.nth(1, "xyz"))) for _ in range(4)]
        for t in threads: t.start()
        for t in threads: t.join(10)
        print(results)
    """, ["import failed", "['y', 'y', 'y', 'y']"]),
    "a basic object failing to be made is an internal fault": ("""
        import sys
        _testcapi = __import__("_testcapi")
        import quibra._quibra as q
        ind = list(range(50)); coll = list(range(50))
        sys.unraisablehook = lambda u: print("unraisable", type(u.exc_value).__name__)
        _testcapi.set_nomemory(0, 1)
        try:
            q.get(ind, coll)
        except BaseException as e:
            err = e
        finally:
            _testcapi.remove_mem_hooks()
        print(type(err).__name__, err, issubclass(type(err), Exception), issubclass(type(err), BaseException))
    """, ["unraisable MemoryError", "PanicException failed to create tuple False True"]),
}


@pytest.mark.no_leak_check
@pytest.mark.parametrize("name", CHILDREN)
def test_in_a_child(name):
    code, expected = CHILDREN[name]
    if "numpy" in code and importlib.util.find_spec("numpy") is None:
        pytest.skip("needs numpy")
    assert run_python(code).splitlines() == expected


@pytest.mark.no_leak_check
@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="the fault hooks exist in debug builds")
@pytest.mark.parametrize("variable, name, message", [
    ("QUIBRA_DEBUG_EXTRA_FUNCTION", "shiny", "registered function missing from the namespace order: 'shiny'"),
    ("QUIBRA_DEBUG_DROP_FUNCTION", "first", "no registration for the ordered name 'first'"),
])
def test_import_fails_when_registrations_and_order_disagree(variable, name, message):
    proc = run_python("import quibra._quibra", check=False, **{variable: name})
    assert proc.returncode != 0
    assert "SystemError" in proc.stderr and message in proc.stderr
