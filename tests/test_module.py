"""Module namespace, classes, argument binding and error translation."""

import importlib.util
import re
import subprocess
import sys
import textwrap

import pytest

import quibra
import quibra._quibra as q

NAMESPACE = """
Some NothingType Option Ok Err Result Nothing
first_opt last_opt nth_opt get_opt get_in_opt peek_opt RustIter
count first second last nth get isdistinct frequencies topk peek take drop take_nth tail
cons concat concatv interpose interleave sliding_window partition partition_all
merge_sorted diff groupby countby reduceby mapcat pluck remove accumulate iterate unique join
curry identity apply pipe do compose compose_left complement juxt excepts memoize
thread_first thread_last flip
merge merge_with assoc dissoc assoc_in update_in get_in keymap valmap itemmap keyfilter valfilter itemfilter
Iter
""".split()

SIGNATURES = {
    "first_opt": "(seq)", "last_opt": "(seq)", "nth_opt": "(n, seq)", "get_opt": "(ind, coll)",
    "get_in_opt": "(coll, *keys)", "peek_opt": "(seq)", "count": "(seq)", "first": "(seq)",
    "second": "(seq)", "last": "(seq)", "nth": "(n, seq)", "get": "(ind, coll, *rest)",
    "isdistinct": "(seq)", "frequencies": "(seq)", "topk": "(k, seq, key=None)", "peek": "(seq)",
    "take": "(n, seq)", "drop": "(n, seq)", "take_nth": "(n, seq)", "tail": "(n, seq)",
    "cons": "(el, seq)", "concat": "(seqs)", "concatv": "(*seqs)", "interpose": "(el, seq)",
    "interleave": "(seqs)", "sliding_window": "(n, seq)", "partition": "(n, seq, *rest)",
    "partition_all": "(n, seq)", "merge_sorted": "(*seqs, key=None)", "diff": "(*seqs, **kwargs)",
    "groupby": "(key, seq)", "countby": "(key, seq)", "reduceby": "(key, binop, seq, *rest)",
    "mapcat": "(func, seqs)", "pluck": "(ind, seqs, *rest)", "remove": "(predicate, seq)",
    "accumulate": "(binop, seq, *rest)", "iterate": "(func, x)", "unique": "(seq, key=None)",
    "join": "(leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None)",
    "identity": "(x)", "apply": "(func, *args, **kwargs)", "pipe": "(data, *funcs)",
    "do": "(func, x)", "compose": "(*funcs)", "compose_left": "(*funcs)", "complement": "(func)",
    "juxt": "(*funcs)", "excepts": "(exc, func, handler=None)", "memoize": "(func, cache=None, key=None)",
    "thread_first": "(val, *forms)", "thread_last": "(val, *forms)", "flip": "(func, a, b)",
    "merge": "(*dicts, factory=None)", "merge_with": "(func, *dicts, factory=None)",
    "assoc": "(d, key, value, factory=None)", "dissoc": "(d, *keys, factory=None)",
    "assoc_in": "(d, keys, value, factory=None)",
    "update_in": "(d, keys, func, default=None, factory=None)",
    "get_in": "(keys, coll, default=None, no_default=False)",
    "keymap": "(func, d, factory=None)", "valmap": "(func, d, factory=None)",
    "itemmap": "(func, d, factory=None)", "keyfilter": "(predicate, d, factory=None)",
    "valfilter": "(predicate, d, factory=None)", "itemfilter": "(predicate, d, factory=None)",
}

# flip is published wrapped in a curry, so it is not a builtin function.
FUNCTIONS = [n for n in SIGNATURES if n != "flip" and hasattr(q, n)]
CLASSES = [n for n in NAMESPACE if isinstance(getattr(q, n, None), type)]


def test_all_lists_the_namespace_in_order():
    assert len(NAMESPACE) == 76 and len(SIGNATURES) == 66
    present = [n for n in NAMESPACE if n in vars(q)]
    assert q.__all__ == present
    public = {n for n in vars(q) if not n.startswith("_")}
    assert public == set(present)
    assert quibra.__all__ == q.__all__
    assert all(getattr(quibra, n) is getattr(q, n) for n in q.__all__)


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_objects(name):
    fn = getattr(q, name)
    assert fn.__name__ == name
    assert fn.__self__ is q
    assert fn.__module__ == q.__name__
    assert fn.__doc__ is None
    assert fn.__text_signature__ == SIGNATURES[name]


@pytest.mark.parametrize("name", CLASSES)
def test_class_properties(name):
    cls = getattr(q, name)
    assert cls.__module__ == "quibra._quibra"
    assert cls.__dictoffset__ == 0 and cls.__weakrefoffset__ == 0
    # Every class whose instances hold objects takes part in cycle collection.
    gc_tracked = name not in ("NothingType", "Option", "Result")
    assert bool(cls.__flags__ & (1 << 14)) == gc_tracked
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    cls.extra_attribute = 1  # type objects stay mutable
    del cls.extra_attribute


def test_iterator_classes_cannot_be_made_from_python():
    with pytest.raises(TypeError):
        q.RustIter()
    assert q.RustIter.__doc__ is None


def _positional(sig):
    """(required, all positional, has *args, has **kwargs) from a text signature."""
    params = [p.strip() for p in sig.strip("()").split(",") if p.strip()]
    required, positional = [], []
    star = dstar = False
    for p in params:
        if p.startswith("**"):
            dstar = True
        elif p.startswith("*"):
            star = True
        elif not star:
            positional.append(p)
            if "=" not in p:
                required.append(p)
    return required, positional, star, dstar


def _missing_message(name, required):
    quoted = [f"'{r}'" for r in required]
    if len(quoted) == 2:
        names = " and ".join(quoted)
    else:
        names = ", ".join(quoted[:-1]) + (", and " if len(quoted) > 2 else "") + quoted[-1]
    word = "argument" if len(required) == 1 else "arguments"
    return f"{name}() missing {len(required)} required positional {word}: {names}"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_binding_messages_follow_the_published_signature(name):
    fn = getattr(q, name)
    required, positional, star, dstar = _positional(fn.__text_signature__)
    if required:
        with pytest.raises(TypeError) as info:
            fn()
        assert str(info.value) == _missing_message(name, required)
    if not dstar:
        with pytest.raises(TypeError) as info:
            fn(zzz=1)
        assert str(info.value) == f"{name}() got an unexpected keyword argument 'zzz'"
    if not star:
        n = len(positional) + 1
        span = (str(len(positional)) if len(required) == len(positional)
                else f"from {len(required)} to {len(positional)}")
        with pytest.raises(TypeError) as info:
            fn(*range(n))
        assert str(info.value) == (f"{name}() takes {span} positional arguments "
                                   f"but {n} {'was' if n == 1 else 'were'} given")
    if positional and not star:
        with pytest.raises(TypeError, match=re.escape(
                f"{name}() got multiple values for argument '{positional[0].split('=')[0]}'")):
            fn(*range(len(positional)), **{positional[0].split("=")[0]: 1})


def run_python(code):
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    return proc.stdout


@pytest.mark.no_leak_check
def test_import_is_lazy_about_the_standard_library():
    out = run_python("""
        import sys
        before = set(sys.modules)
        import quibra._quibra
        lazy = {"itertools", "inspect", "heapq", "functools", "collections.abc"}
        print(sorted((set(sys.modules) - before) & lazy))
    """)
    assert out.strip() == "[]"


@pytest.mark.no_leak_check
@pytest.mark.skipif(importlib.util.find_spec("numpy") is None, reason="needs numpy")
def test_strict_bool_takes_the_numeric_librarys_booleans():
    # In a child process: numpy loaded here upsets the leak check of later tests.
    out = run_python("""
        import numpy as np, quibra._quibra as q
        print(q.get_in(["x"], {}, 5, np.False_))
        try:
            q.get_in(["x"], {}, 5, np.True_)
        except KeyError:
            print("raised")
    """)
    assert out.split() == ["5", "raised"]


@pytest.mark.no_leak_check
def test_cached_import_retries_after_failure_and_waiters_detach():
    # The first nth() on a non-list caches collections.abc.Sequence. A failed
    # import leaves the cell empty; a slow one makes other threads wait with
    # the interpreter released (otherwise this would deadlock).
    out = run_python("""
        import sys, threading, time, types
        import quibra._quibra as q
        real = sys.modules.get("collections.abc")
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
    """)
    assert out.split("\n")[:2] == ["import failed", "['y', 'y', 'y', 'y']"]


@pytest.mark.no_leak_check
def test_basic_object_failure_is_an_internal_fault():
    out = run_python("""
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
    """)
    assert out.splitlines() == ["unraisable MemoryError", "PanicException failed to create tuple False True"]
