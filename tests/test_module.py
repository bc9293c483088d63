"""Module namespace, classes, argument binding and error translation."""

import importlib.util
import re
import subprocess
import sys
import textwrap

import pytest

import quibra
import quibra._quibra as q

# The namespace in order, one line per name: its kind and, for functions
# and constructible classes, its text signature.
EXPORTS = """
Some class (value)
NothingType class ()
Option class
Ok class (value)
Err class (error)
Result class
Nothing value
first_opt function (seq)
last_opt function (seq)
nth_opt function (n, seq)
get_opt function (ind, coll)
get_in_opt function (coll, *keys)
peek_opt function (seq)
RustIter class
count function (seq)
first function (seq)
second function (seq)
last function (seq)
nth function (n, seq)
get function (ind, coll, *rest)
isdistinct function (seq)
frequencies function (seq)
topk function (k, seq, key=None)
peek function (seq)
take function (n, seq)
drop function (n, seq)
take_nth function (n, seq)
tail function (n, seq)
cons function (el, seq)
concat function (seqs)
concatv function (*seqs)
interpose function (el, seq)
interleave function (seqs)
sliding_window function (n, seq)
partition function (n, seq, *rest)
partition_all function (n, seq)
merge_sorted function (*seqs, key=None)
diff function (*seqs, **kwargs)
groupby function (key, seq)
countby function (key, seq)
reduceby function (key, binop, seq, *rest)
mapcat function (func, seqs)
pluck function (ind, seqs, *rest)
remove function (predicate, seq)
accumulate function (binop, seq, *rest)
iterate function (func, x)
unique function (seq, key=None)
join function (leftkey, leftseq, rightkey, rightseq, left_default=None, right_default=None)
curry class (func, *args, **kwargs)
identity function (x)
apply function (func, *args, **kwargs)
pipe function (data, *funcs)
do function (func, x)
compose function (*funcs)
compose_left function (*funcs)
complement function (func)
juxt function (*funcs)
excepts function (exc, func, handler=None)
memoize function (func, cache=None, key=None)
thread_first function (val, *forms)
thread_last function (val, *forms)
flip curried (func, a, b)
merge function (*dicts, factory=None)
merge_with function (func, *dicts, factory=None)
assoc function (d, key, value, factory=None)
dissoc function (d, *keys, factory=None)
assoc_in function (d, keys, value, factory=None)
update_in function (d, keys, func, default=None, factory=None)
get_in function (keys, coll, default=None, no_default=False)
keymap function (func, d, factory=None)
valmap function (func, d, factory=None)
itemmap function (func, d, factory=None)
keyfilter function (predicate, d, factory=None)
valfilter function (predicate, d, factory=None)
itemfilter function (predicate, d, factory=None)
Iter class (inner)
"""
ROWS = [line.split(" ", 2) + [None] * (3 - len(line.split(" ", 2))) for line in EXPORTS.strip().splitlines()]
NAMESPACE = [name for name, _, _ in ROWS]
SIGNATURES = {name: sig for name, kind, sig in ROWS if sig}
FUNCTIONS = [name for name, kind, _ in ROWS if kind == "function"]
CLASSES = [name for name, kind, _ in ROWS if kind == "class"]


def test_all_lists_the_namespace_in_order():
    assert len(NAMESPACE) == 76 and sum(kind in ("function", "curried") for _, kind, _ in ROWS) == 66
    assert q.__all__ == NAMESPACE
    public = {n for n in vars(q) if not n.startswith("_")}
    assert public == set(NAMESPACE)
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
    if name in SIGNATURES:
        assert cls.__text_signature__ == SIGNATURES[name]


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


@pytest.mark.no_leak_check
@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="the fault hooks exist in debug builds")
@pytest.mark.parametrize("variable, message", [
    ("QUIBRA_DEBUG_EXTRA_FUNCTION", "registered function missing from the namespace order: 'shiny'"),
    ("QUIBRA_DEBUG_DROP_FUNCTION", "no registration for the ordered name 'shiny'"),
])
def test_import_fails_when_registrations_and_order_disagree(variable, message):
    name = "shiny" if variable.endswith("EXTRA_FUNCTION") else "first"
    proc = subprocess.run([sys.executable, "-c", "import quibra._quibra"], capture_output=True, text=True,
                          timeout=120, env={**__import__("os").environ, variable: name})
    assert proc.returncode != 0
    assert "SystemError" in proc.stderr and message.replace("shiny", name) in proc.stderr
