"""Integer buffers read from their memory: which buffers qualify, that every native scan
gives what the generic path gives on the same values, views handed back, UniqueIntIter,
and the worker pool under threads, fork and its settings."""

import array
import ctypes
import gc
import operator
import os
import pickle
import random
import sys
import threading
import weakref

import pytest
from hypothesis import given, settings, strategies as st

import quibra._quibra as q
from tests.helpers import raises, run_python

BIG = 1 << 19  # inputs this long are split across the worker pool
DEBUG = hasattr(sys, "gettotalrefcount")

SCANS = {  # each scan through its module function
    "frequencies": lambda x, k: q.frequencies(x),
    "isdistinct": lambda x, k: q.isdistinct(x),
    "topk": lambda x, k: q.topk(k, x),
    "unique": lambda x, k: list(q.unique(x)),
}


def outcome(f, x):
    try:
        return f(x)
    except Exception as e:  # the generic path's own error, e.g. an unhashable row
        return type(e)


def same(a, b):
    return list(a.items()) == list(b.items()) if isinstance(a, dict) and isinstance(b, dict) else a == b


def assert_native_matches_generic(x, k=7):
    """Each scan on x gives what it gives on list(x), dict order included."""
    native = is_native(x)
    for name, f in SCANS.items():
        got, want = outcome(lambda v: f(v, k), x), outcome(lambda v: f(list(v), k), x)
        assert same(got, want), (name, got, want)
        assert not (native and isinstance(got, dict)) or all(type(key) is int for key in got)


def is_native(x):
    return outcome(lambda v: type(q.unique(v)).__name__, x) == "UniqueIntIter"


# ---- which buffers qualify --------------------------------------------------------------

KINDS = {  # array typecode: (bits, signed), in probe order of their kinds
    "q": (64, True), "B": (8, False), "i": (32, True), "Q": (64, False),
    "I": (32, False), "h": (16, True), "H": (16, False), "b": (8, True),
}


def bounds(typecode):
    bits, signed = KINDS[typecode]
    return (-(1 << bits - 1), (1 << bits - 1) - 1) if signed else (0, (1 << bits) - 1)


def extremes(typecode):
    """The kind's bounds and their neighbours, its middle and the first values of its upper
    half; for an unsigned kind the values just past the signed range, for a signed one -1:
    where reading the memory as the wrong kind first shows."""
    bits, signed = KINDS[typecode]
    lo, hi = bounds(typecode)
    edge = [-1, -2] if signed else [1 << bits - 1, (1 << bits - 1) + 1]
    return list(dict.fromkeys([lo, hi, hi // 2 + 1, *edge, hi - 1, lo + 1, 0, 1, hi // 2, lo // 2]))


try:
    from _testbuffer import ndarray
except ImportError:  # an interpreter built without its test modules
    ndarray = None


def items_for(fmt):
    code = fmt[-1]
    return {"c": [b"a", b"b", b"a"], "?": [True, False, True], "e": [1.5, -2.0, 1.5], "f": [1.5, 1.5],
            "d": [2.0, 1.5, 2.0]}.get(code, [-1, 5, -1, 2] if code.islower() else [1, 250, 1, 2])


@pytest.mark.skipif(ndarray is None, reason="needs _testbuffer")
@pytest.mark.parametrize("fmt, native", [
    ("q", True), ("<q", True), ("=q", True), ("@q", True), ("n", True), ("@n", True), ("l", True),
    ("Q", True), ("<Q", True), ("N", True), ("L", True),
    ("i", True), ("<i", True), ("<l", True), ("=l", True), ("I", True), ("<L", True),
    ("h", True), ("=h", True), ("H", True), ("=H", True), ("b", True), ("<b", True), ("B", True), ("@B", True),
    (">q", False), ("!i", False), (">H", False), ("!b", False),
    ("c", False), ("?", False), ("e", False), ("f", False), ("d", False),
])
def test_format_rules(fmt, native):
    items = items_for(fmt)
    x = ndarray(items, shape=[len(items)], format=fmt)
    assert is_native(x) == native
    assert_native_matches_generic(x)


def misaligned(typecode, values):
    """A one-dimensional typecode view whose data starts one byte past an aligned address."""
    raw = bytearray(1) + array.array(typecode, values).tobytes()
    return memoryview(raw)[1:].cast(typecode)


LAYOUTS = {  # name: (make, native)
    "strided": (lambda: memoryview(array.array("q", [3, 1, 3, 2, 3, 9]))[::2], False),
    "misaligned i64": (lambda: misaligned("q", [3, 1, 3]), False),
    "misaligned u16": (lambda: misaligned("H", [3, 1, 3]), False),
    "character data": (lambda: memoryview(b"abca").cast("c"), False),
    "two-dimensional": (lambda: memoryview(array.array("h", range(6))).cast("B").cast("h", [2, 3]), False),
    "floats": (lambda: array.array("d", [1.0, 2.5, 1.0]), False),
    "booleans": (lambda: memoryview(bytes([1, 0, 1])).cast("?"), False),
    "no strides (ctypes)": (lambda: (ctypes.c_int64 * 3)(1, 2, 1), False),
    "empty, no data pointer": (lambda: memoryview((ctypes.c_int64 * 0).from_address(0)), False),
    "empty bytes": (lambda: b"", True),
    "empty bytearray": (lambda: bytearray(), True),
    "empty i64 view": (lambda: memoryview(b"").cast("q"), True),
}


@pytest.mark.parametrize("make, native", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_layouts(make, native):
    x = make()
    assert is_native(x) == native
    assert_native_matches_generic(x)


def test_key_and_non_buffers_are_untouched():
    a = array.array("q", [3, -3, 3])
    assert type(q.unique(a, key=abs)).__name__ == "UniqueIter" and list(q.unique(a, key=abs)) == [3]
    assert q.topk(2, a, key=abs) == (3, -3)


# ---- native equals generic, across kinds, sizes and value shapes -----------------------

PATTERNS = ("few", "many", "few then many", "many then few", "shifted", "near", "near then few")


def tile(block, n):
    return block * (n // len(block)) + block[: n % len(block)] if block else block


def build(typecode, n, pattern, seed):
    """n values of one typecode: few distinct (a small pool of extremes and random values),
    many distinct (random bytes, extremes included), half of each, or distinct multiples of
    a high power of two (equal low bits), or few close together (near an extreme or not)."""
    rng = random.Random(seed)
    bits, _ = KINDS[typecode]
    lo, hi = bounds(typecode)
    if pattern == "many":
        a = array.array(typecode, rng.randbytes(n * bits // 8))
        for v in extremes(typecode)[:n]:
            a[rng.randrange(n)] = v
        return a
    if pattern == "shifted":
        step = 1 << bits // 2
        return tile(array.array(typecode, [lo + i * step for i in range(min(n, step))]), n)
    if pattern == "near":
        centre = rng.choice([lo, hi, rng.randint(lo, hi)])
        close = [min(hi, max(lo, centre + d)) for d in range(-60, 60)]
        return tile(array.array(typecode, [rng.choice(close) for _ in range(min(n, 4096))]), n)
    if " then " in pattern:
        first, second = pattern.split(" then ")
        return build(typecode, n // 2, first, seed) + build(typecode, n - n // 2, second, seed + 1)
    pool = extremes(typecode) + [rng.randint(lo, hi) for _ in range(rng.randrange(1, 90))]
    return tile(array.array(typecode, [rng.choice(pool) for _ in range(min(n, 4096))]), n)


# The debug interpreter's leak run keeps to short inputs: the threaded test below takes
# the long ones through the pool there.
# Lengths around the pool's threshold in about one example in five: each costs seconds of
# generic scans to compare with, and the tests of long inputs below cover that path too.
SMALL = st.integers(0, 3000)
SIZES = SMALL if DEBUG else st.one_of(SMALL, SMALL, SMALL, SMALL, st.sampled_from([BIG - 1, BIG, BIG + 4097]))


def spread(values, n):
    """n elements: the first value throughout, each other once, spread over the whole length
    (and so over every worker's piece) with no ties among the largest."""
    out = [values[0]] * n
    for i, v in enumerate(values[1:], 1):
        out[i * (n // len(values))] = v
    return out


KIND_PATTERNS = {  # name: (values of the kind -> the input, in the leak run too)
    "each once": (lambda vs: vs, True),
    "repeated": (lambda vs: vs + vs[::-1] + vs[1::2], True),
    "long": (lambda vs: spread(vs, BIG + 11), False),  # through the worker pool
}


@pytest.mark.parametrize("pattern", KIND_PATTERNS)
@pytest.mark.parametrize("typecode", sorted(KINDS))
def test_every_kind_over_its_whole_range(typecode, pattern):
    make, in_leak_run = KIND_PATTERNS[pattern]
    if DEBUG and not in_leak_run:
        pytest.skip("long inputs stay out of the leak run")
    a = array.array(typecode, make(extremes(typecode)))
    assert is_native(a)
    assert_native_matches_generic(a)


@settings(max_examples=15 if DEBUG else 40, deadline=None)
@given(typecode=st.sampled_from(sorted(KINDS)),
       n=SIZES,
       pattern=st.sampled_from(PATTERNS),
       k=st.sampled_from([0, 1, 10, 5000]),
       seed=st.integers(0, 2**32))
def test_native_matches_generic(typecode, n, pattern, k, seed):
    a = build(typecode, n, pattern, seed)
    assert is_native(a) or not a  # an empty array may offer an unaligned placeholder address
    assert_native_matches_generic(a, k=k)


@pytest.mark.skipif(DEBUG, reason="long inputs stay out of the leak run")
@pytest.mark.parametrize("pattern", PATTERNS)
def test_long_inputs_take_both_counting_routes(pattern):
    assert_native_matches_generic(build("q", BIG + 4097, pattern, 5), k=10)


def test_numeric_library_arrays():
    if DEBUG:  # once imported, numpy upsets the reference counts of later tests
        pytest.skip("numpy stays out of the debug interpreter's leak run")
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(7)
    few = rng.integers(-5, 5, BIG + 10).astype(np.int64)
    many = rng.permutation(BIG + 10).astype(np.int64)
    for a in (few, many, many[:5000].astype(np.uint64) << np.uint64(40), few[:5000].astype(np.int16)):
        assert is_native(a)
        assert_native_matches_generic(a)
    assert not any(map(is_native, (few.astype(">i8"), few[:2000].reshape(40, 50), few[::3], few.astype(bool))))
    masked = np.ma.array([1, 2, 2, 3], mask=[0, 1, 1, 0])  # its iteration yields the masked constant
    assert not is_native(masked)
    assert_native_matches_generic(masked)


def test_what_iterates_otherwise_is_read_by_iteration():
    class Skipping(array.array):  # its own iteration leaves out the -1 sentinels
        def __iter__(self):
            return (x for x in super().__iter__() if x != -1)

    x = Skipping("q", [-1, 5, -1, 6])
    assert not is_native(x) and q.frequencies(x) == {5: 1, 6: 1}
    assert_native_matches_generic(x)
    assert is_native(type("Plain", (array.array,), {})("q", [1]))  # a plain subclass iterates as its base
    for f in SCANS.values():  # not iterable at all
        raises(TypeError, lambda: f(pickle.PickleBuffer(b"aab"), 2), "'pickle.PickleBuffer' object is not iterable")


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
def test_an_interrupt_from_the_exporter_propagates(exc):
    class Interrupting(bytearray):
        calls = 0

        def __buffer__(self, flags):
            type(self).calls += 1
            raise exc

    for f in SCANS.values():
        x, Interrupting.calls = Interrupting(b"ab"), 0
        with pytest.raises(exc):
            f(x, 2)
        assert x.calls == 1


# ---- views -------------------------------------------------------------------------------

def exporter(obj, fail=False):
    """A copy of obj (an array or bytes) that counts its views: its own __buffer__ hands out
    the memory (or raises, with fail), while it iterates as its built-in base does."""
    class Counted(type(obj)):
        acquired = released = 0

        def __buffer__(self, flags):
            if fail:
                raise ValueError("no buffer today")
            type(self).acquired += 1
            return super().__buffer__(flags)

        def __release_buffer__(self, view):
            type(self).released += 1

    return Counted(obj.typecode, obj) if isinstance(obj, array.array) else Counted(obj)


@pytest.mark.parametrize("obj, acquisitions", [
    (array.array("q", [1, 2, 1]), 1), (b"\x01\x02\x01", 2), (array.array("b", [1, 2, 1]), 8),
    (array.array("d", [1.0, 2.0, 1.0]), 8),
])
def test_every_view_is_given_back(obj, acquisitions):
    for name, f in SCANS.items():
        x = exporter(obj)
        assert same(f(x, 7), f(list(obj), 7))
        assert x.released == x.acquired
        assert x.acquired == acquisitions, name
    x = exporter(obj)
    next(q.unique(x), None)  # a partly used iterator gives its view back when dropped
    assert x.released == x.acquired


def test_failing_exporter_is_declined_quietly():
    x = exporter(array.array("q", [4, 4, 2]), fail=True)
    assert type(q.unique(x)).__name__ == "UniqueIter"
    assert_native_matches_generic(x)


def test_bytearray_can_resize_after_every_scan():
    ba = bytearray(b"\x03\x01\x03\x02")
    for f in SCANS.values():
        f(ba, 7)
        ba.append(9)  # raises BufferError while any view is still exported
        del ba[-1]
    it = q.unique(ba)
    next(it)
    with pytest.raises(BufferError):
        ba.append(0)
    del it
    ba.append(0)


# ---- UniqueIntIter ---------------------------------------------------------------------------

def test_unique_int_iter_reads_live_memory_lazily():
    ba = bytearray([1, 2, 3, 4, 5])
    it = q.unique(ba)
    ba[0] = 7  # nothing was read at construction
    assert next(it) == 7
    ba[1] = 7  # now a repeat of what was yielded
    assert next(it) == 3
    ba[4] = 3
    assert list(it) == [4]
    ba[:] = bytes([9, 9, 9, 9, 9])
    assert list(it) == []  # the end is for good


def test_unique_int_iter_length_hint():
    it = q.unique(array.array("i", range(10)))
    assert operator.length_hint(it) == 10
    it = q.unique(array.array("i", [1, 1, 2, 3]))
    assert [next(it), next(it)] == [1, 2]
    assert operator.length_hint(it) == 1
    list(it)
    assert operator.length_hint(it) == 0
    cls = type(it)
    assert cls.__length_hint__.__text_signature__ == "($self)"
    with pytest.raises(TypeError):
        cls(b"")


def test_unique_int_iter_is_collectable():
    class Holder(bytearray):
        pass

    h = Holder(b"\x01\x02")
    h.it = q.unique(h)
    assert type(h.it).__name__ == "UniqueIntIter"
    alive = weakref.ref(h)
    del h
    gc.collect()
    assert alive() is None
    ba = bytearray(b"ab")
    assert ba in gc.get_referents(q.unique(ba))


# ---- the worker pool -----------------------------------------------------------------------------

POOL_SCANS = [SCANS[name] for name in ("frequencies", "topk", "isdistinct")]


def test_threads_scanning_at_once():
    inputs = [build(tc, BIG + 1000 * i, "few", i) for i, tc in enumerate("qBIh")]
    expected = [[f(a, 9) for f in POOL_SCANS] for a in inputs]
    failures = []

    def run(a, want):
        for _ in range(3):
            if not all(same(f(a, 9), w) for f, w in zip(POOL_SCANS, want)):
                failures.append(a.typecode)

    threads = [threading.Thread(target=run, args=pair) for pair in zip(inputs, expected) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not failures and not any(t.is_alive() for t in threads)


CHECK_SCANS = """
    import array, random, quibra._quibra as q
    rng = random.Random(1)
    a = array.array("q", [rng.randrange(50) for _ in range(1000)]) * 600
    b = array.array("q", rng.randbytes(8 * 600_000))
    # few values in the first piece, new ones first met in each later piece
    c = a[:300_000] + array.array("q", [f + rng.randrange(600) for f in (1000, 2000) for _ in range(240_000)])
    def check(x):
        xs = list(x)
        for name, call in (("frequencies", lambda v: list(q.frequencies(v).items())),
                           ("topk", lambda v: q.topk(9, v)), ("isdistinct", q.isdistinct)):
            assert call(x) == call(xs), name
        return True
"""


# The pool touches raw memory only, which the debug interpreter's checks do not see: its
# children would add minutes to the leak run and nothing to what the release run catches.
POOL_CHILDREN = pytest.mark.skipif(DEBUG, reason="the release run covers the pool")


@POOL_CHILDREN
@pytest.mark.parametrize("workers", ["0", "1", "3", "many"])
def test_worker_count_setting(workers):
    out = run_python(CHECK_SCANS, """
        print(check(a) and check(b) and check(c))
    """, timeout=300, QUIBRA_WORKERS=workers)
    assert out.strip() == "True"


@POOL_CHILDREN
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_forked_child_scans_after_the_parent_used_the_pool():
    out = run_python(CHECK_SCANS, """
        import os, sys, time, warnings
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process with threads
        check(a)
        pid = os.fork()
        if pid == 0:  # only the forking thread came along; the child builds a pool of its own
            tasks = "/proc/self/task"
            ok = check(a) and check(b) and (not os.path.isdir(tasks) or len(os.listdir(tasks)) == 3)
            os._exit(0 if ok else 1)
        deadline = time.monotonic() + 120
        while not (done := os.waitpid(pid, os.WNOHANG))[0]:
            if time.monotonic() > deadline:
                os.kill(pid, 9)
                sys.exit("the child hung")
            time.sleep(0.02)
        print(os.waitstatus_to_exitcode(done[1]), check(b))
    """, timeout=300, QUIBRA_WORKERS="2")
    assert out.split() == ["0", "True"]
