"""quibra in isolated subinterpreters: the same CPU-bound generic work (frequencies of
strings, eight chunks) on an InterpreterPoolExecutor of two interpreters against one, each
with a lock of its own. The chunks are made in each interpreter once, so a row times the
counting and the executor's round trips; the ratio is the parallel speed-up."""

import atexit
from concurrent.futures import InterpreterPoolExecutor

from harness import row

CHUNKS = 8
# Run once in each interpreter: eight chunks of 200,000 words drawn from 1,000, so that
# counting is CPU work on tables that stay in the caches, not page faults (which the
# kernel serialises between the threads of one process).
SETUP = """
import random, sys
import quibra
rng = random.Random(7)
words = [f"w{i}" for i in range(1_000)]
sys.quibra_chunks = [[rng.choice(words) for _ in range(200_000)] for _ in range(%d)]
""" % CHUNKS
TASK = "[len(__import__('quibra').frequencies(__import__('sys').quibra_chunks[%d])) for _ in range(10)]"

_pools = {}


def pool(workers):
    if workers not in _pools:
        executor = InterpreterPoolExecutor(max_workers=workers, initializer=exec, initargs=(SETUP,))
        atexit.register(executor.shutdown)
        # Every interpreter made and set up before anything is timed.
        list(executor.map(eval, ["0"] * (4 * workers), [{}] * (4 * workers)))
        _pools[workers] = executor
    return _pools[workers]


def count_chunks(executor):
    return list(executor.map(eval, [TASK % i for i in range(CHUNKS)], [{}] * CHUNKS))


row("interpreters: frequencies of strings, 8 chunks, 2 vs 1", "frequencies",
    lambda: (pool(2), pool(1)), lambda p: count_chunks(p[0]), lambda p: count_chunks(p[1]),
    "the same on one interpreter")
