"""Threads sharing one native object. The only error that may appear is the
documented "iterator already executing" ValueError, and every result is right."""

import array
import inspect
import sys
import threading
import time

import pytest

import quibra as q

THREADS = 6


@pytest.fixture(autouse=True)
def switch_often():
    """Lets the interpreter hand the lock over between almost any two bytecodes."""
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def on_threads(work, n=THREADS):
    """work(i) on n threads released together: their results, or the first failure re-raised."""
    barrier = threading.Barrier(n)
    results, errors = [None] * n, []

    def run(i):
        barrier.wait()
        try:
            results[i] = work(i)
        except BaseException as e:
            errors.append(e)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert not any(t.is_alive() for t in threads)
    if errors:
        raise errors[0]
    return results


def take_shared(it):
    """Items of `it` up to its end, stepping again whenever another thread holds it."""
    got = []
    while True:
        try:
            got.append(next(it))
        except StopIteration:
            return got
        except ValueError as e:
            assert str(e) == "iterator already executing"


def numbers(n):
    yield from range(n)


N = 3000

# Each step runs Python code (a key, a predicate, a generator), where another
# thread can take over and find the iterator busy.
SHARED_ITERATORS = {
    "unique": (lambda: q.unique(list(range(N)), key=lambda x: x // 2), list(range(0, N, 2))),
    "remove": (lambda: q.remove(lambda x: x % 3 == 0, numbers(N)), [x for x in range(N) if x % 3]),
    "accumulate": (lambda: q.accumulate(lambda a, b: a + b, numbers(N)), [x * (x + 1) // 2 for x in range(N)]),
    "sliding_window": (lambda: q.sliding_window(2, numbers(N)), [(x, x + 1) for x in range(N - 1)]),
    "partition_all": (lambda: q.partition_all(3, numbers(N)),
                      [tuple(range(x, min(x + 3, N))) for x in range(0, N, 3)]),
    "pluck": (lambda: q.pluck(0, ((x,) for x in range(N))), list(range(N))),
    "interpose": (lambda: q.Iter(numbers(N)).interpose(-1),
                  [v for x in range(N) for v in ((-1, x) if x else (x,))]),
    # Natively, with no Python code in a step. (Scans through the worker pool
    # from several threads are test_buffers' to show.)
    "unique of a typed buffer": (lambda: q.unique(array.array("q", range(N)) * 50), list(range(N))),
}


@pytest.mark.parametrize("case", SHARED_ITERATORS)
def test_one_iterator_shared_by_threads(case):
    make, expected = SHARED_ITERATORS[case]
    it = iter(make())
    taken = on_threads(lambda i: take_shared(it))
    # Every item exactly once, and each thread saw its share in order
    # (interpose's separator, the one repeated item, aside).
    assert sorted(repr(v) for part in taken for v in part) == sorted(map(repr, expected))
    position = {v: i for i, v in enumerate(expected) if v != -1}
    for part in taken:
        seen = [position[v] for v in part if v != -1]
        assert seen == sorted(seen)


def test_one_memoize_shared_by_threads():
    calls = []

    def double(x, scale=2):
        calls.append(x)
        return scale * x

    cache = {}
    m = q.memoize(double, cache=cache)
    keyed = q.memoize(lambda a, b: (a, b), key=lambda args, kwargs: args[0] % 10)
    results = on_threads(lambda i: [(m(k % 40), m(k % 40, scale=3), keyed(k % 10, i)[0]) for k in range(i, i + 500)])
    for i, got in enumerate(results):
        assert got == [(2 * (k % 40), 3 * (k % 40), k % 10) for k in range(i, i + 500)]
    # A concurrent miss may call again, but what is stored is right.
    assert set(calls) == set(range(40))
    tripled = frozenset({("scale", 3)})
    assert cache == {((k,), None): 2 * k for k in range(40)} | {((k,), tripled): 3 * k for k in range(40)}


class SlowSignature:
    """A callable of three arguments whose signature takes a while to read, and whose
    first read raises; `readers` logs every read."""

    def __init__(self):
        self.readers = []

    @property
    def __signature__(self):
        self.readers.append(threading.get_ident())
        time.sleep(0.005)
        if len(self.readers) == 1:
            raise RuntimeError("not yet")
        kind = inspect.Parameter.POSITIONAL_OR_KEYWORD
        return inspect.Signature([inspect.Parameter(name, kind) for name in "abc"])

    def __call__(self, a, b, c):
        return a + b + c


def test_failed_first_signature_read_lets_a_waiting_thread_retry():
    # (That concurrent first calls share one read is test_combinators' to show.)
    c = q.curry(func := SlowSignature())

    def work(i):
        try:
            return c(i)(10)(100)
        except RuntimeError as e:
            return e

    results = on_threads(work)
    failed = [r for r in results if isinstance(r, RuntimeError)]
    assert len(failed) == 1 and str(failed[0]) == "not yet"
    assert all(r == i + 110 for i, r in enumerate(results) if r is not failed[0])
    assert len(func.readers) == 2
