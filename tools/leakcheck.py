"""Reference-leak hunting for the test suite, in the manner of CPython's own.

With ``--leaks`` (debug interpreter only), every test runs WARMUP times and
then RUNS more times; after each run the interpreter's total reference count
and allocated block count are sampled. A test fails when either figure grew
in every one of the measured runs: a steady climb is a leak, while one-off
growth (caches warming up) is not.

What existed before a test's first run is frozen (gc.freeze), so the
collection before each sample scans only what the test made, and the first
measured run that grows neither figure ends the test's repetitions.
"""

import gc
import sys

import pytest

WARMUP = 3
RUNS = 3


def pytest_addoption(parser):
    parser.addoption("--leaks", action="store_true",
                     help="repeat each test and fail on steadily growing reference or block counts")
    parser.addoption("--leak-runs", default=f"{WARMUP}:{RUNS}",
                     help="WARMUP:RUNS repetitions for --leaks (default %(default)s)")


def pytest_configure(config):
    if not config.getoption("--leaks"):
        return
    if not hasattr(sys, "gettotalrefcount"):
        raise pytest.UsageError("--leaks needs a debug interpreter (sys.gettotalrefcount)")
    # Frozen objects are invisible to gc.get_referrers, which hypothesis consults when it
    # registers its own generator; the warning it then gives means nothing here.
    config.addinivalue_line("filterwarnings", "ignore:It looks like `register_random`")
    try:
        from hypothesis import settings
    except ImportError:
        return
    # Identical examples on every repetition, so only real leaks can climb.
    settings.register_profile("leaks", derandomize=True, database=None,
                              max_examples=25, deadline=None)
    settings.load_profile("leaks")


def _clear_caches():
    import abc
    import collections.abc
    for obj in vars(collections.abc).values():
        if isinstance(obj, abc.ABCMeta):
            obj._abc_caches_clear()
    sys._clear_internal_caches()
    gc.collect()


def _snapshot():
    _clear_caches()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def hunt(runtest, warmup, runs):
    """Run ``runtest`` warmup+runs times; return (ref deltas, block deltas) of the measured runs.

    Everything alive before the first run is frozen first, so each snapshot's collection
    looks only at what the test itself made: a fraction of the heap. A measured run that
    grew neither figure already decides that the test passes (a leak grows in every run),
    so the runs after it are skipped."""
    gc.freeze()
    ref_deltas, block_deltas = [], []
    refs, blocks = _snapshot()
    for i in range(warmup + runs):
        runtest()
        new_refs, new_blocks = _snapshot()
        if i >= warmup:
            ref_deltas.append(new_refs - refs)
            block_deltas.append(new_blocks - blocks)
            if ref_deltas[-1] < 1 and block_deltas[-1] < 1:
                break
        refs, blocks = new_refs, new_blocks
    return ref_deltas, block_deltas


def leaked(deltas, runs):
    return len(deltas) == runs and all(d >= 1 for d in deltas)


def pytest_collection_modifyitems(config, items):
    if not config.getoption("--leaks"):
        return
    warmup, runs = (int(x) for x in config.getoption("--leak-runs").split(":"))
    for item in items:
        if item.get_closest_marker("no_leak_check"):
            continue
        original = item.runtest

        def runtest(original=original, item=item):
            refs, blocks = hunt(original, warmup, runs)
            problems = []
            if leaked(refs, runs):
                problems.append(f"references grew by {refs}")
            if leaked(blocks, runs):
                problems.append(f"memory blocks grew by {blocks}")
            if problems:
                pytest.fail(f"{item.nodeid} leaks: " + "; ".join(problems), pytrace=False)

        item.runtest = runtest
