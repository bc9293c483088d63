"""What other interpreters and other threads see: subinterpreters that import quibra and
end, Ctrl-C during long loops, and threads that run while a large typed scan counts."""

import itertools
import operator
import os
import signal
import sys
import threading
import time
from concurrent import interpreters

import _interpreters
import pytest

import quibra as q

# One call of every family of the namespace; the answers as text.
EVERY_FAMILY = """
import operator, quibra as q
def add(a, b): return a + b
answers = [
    q.Some(1).map(str), q.Result.of(lambda: 1 / 0).is_err(), q.first_opt([]), q.nth(1, range(3)),
    list(q.merge_sorted([1, 3], [2])), list(q.take(2, q.unique(iter([3, 3, 1, 2])))), q.frequencies(b"abca"),
    q.topk(2, [5, 1, 7]), type(q.curry(add)(1)).__name__, q.curry(add)(1)(2), q.compose(str, abs)(-4),
    q.memoize(abs)(-2), q.merge_with(sum, {"a": 1}, {"a": 2}), q.get_in(["a", 0], {"a": [9]}),
    q.Iter([1, 2]).map(str).collect(), q.Iter("ab").first(), list(q.accumulate(operator.add, [1, 2, 3])),
]
text = repr(answers)
"""


def answers_here():
    scope = {}
    exec(EVERY_FAMILY, scope)
    return scope["text"]


def test_interpreters_that_used_quibra_and_ended_leave_the_main_one_unchanged():
    before = answers_here()
    # One sharing the main interpreter's lock (as web-server embeddings run them) ...
    legacy = _interpreters.create(_interpreters.new_config("legacy"))
    assert _interpreters.exec(legacy, EVERY_FAMILY) is None
    _interpreters.destroy(legacy)
    # ... and two with locks of their own, running at the same time.
    isolated = [interpreters.create() for _ in range(2)]
    threads = [threading.Thread(target=i.exec, args=(EVERY_FAMILY + "\nassert text == " + repr(before),))
               for i in isolated]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    for i in isolated:
        i.close()
    assert answers_here() == before


# Each runs for minutes over itertools.repeat unless Ctrl-C stops it (bounded, so that a
# loop that misses the signal fails the test instead of hanging the suite).
ENDLESS = {
    "count": lambda r: q.count(r),
    "last": lambda r: q.last(r),
    "tail": lambda r: q.tail(3, r),
    "nth": lambda r: q.nth(10**18, r),
    "frequencies": lambda r: q.frequencies(r),
    "countby": lambda r: q.countby(abs, r),
    "groupby": lambda r: q.groupby(abs, r),
    "reduceby": lambda r: q.reduceby(abs, operator.add, r),
    "join": lambda r: next(q.join(0, zip(r), 0, [(2,)])),
    "diff": lambda r: next(q.diff(r, r)),
    "unique": lambda r: list(q.take(2, q.unique(r))),
    "remove": lambda r: next(q.remove(bool, r)),
}


@pytest.mark.parametrize("name", ENDLESS)
def test_ctrl_c_stops_a_long_loop(name):
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    # A process started in the background of a shell inherits SIGINT ignored; the
    # interpreter then keeps it so, and no Ctrl-C would arrive.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer = threading.Timer(0.05, interrupt)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            ENDLESS[name](itertools.repeat(1, 10**9))
        assert time.monotonic() - sent[0] < 0.5
    finally:
        timer.cancel()
        signal.signal(signal.SIGINT, previous)


@pytest.mark.skipif(hasattr(sys, "gettotalrefcount"), reason="long inputs: the release run's")
@pytest.mark.not_under_sanitizer("thirty million elements take minutes under the sanitizer")
def test_other_threads_run_during_large_typed_scans():
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(1)
    # Mostly distinct values for top-k; for counting, as many values but fewer distinct ones:
    # the interpreter holds its lock while a dict of tens of millions of new keys resizes.
    wide, narrow = rng.integers(0, 2**62, 30_000_000), rng.integers(0, 400_000, 30_000_000)
    expected = (sorted(np.partition(wide, -3)[-3:].tolist(), reverse=True), np.count_nonzero(np.bincount(narrow)))
    ticks, done = [time.monotonic()], threading.Event()

    def ticker():
        while not done.wait(0.02):
            ticks.append(time.monotonic())

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        top, counts = q.topk(3, wide), q.frequencies(narrow)
    finally:
        done.set()
        thread.join()
    ticks.append(time.monotonic())
    assert (list(top), len(counts)) == expected
    assert max(map(operator.sub, ticks[1:], ticks)) < 0.2
