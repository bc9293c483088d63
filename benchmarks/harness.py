"""Benchmark rows and their timing.

A row times one quibra workload against the idiomatic standard-library way of
doing the same thing. Both run in the same process, interleaved, and the best
of several repeats counts. Rows whose quibra names do not exist yet are
skipped. Nothing here ever fails on a time.
"""

import time
from dataclasses import dataclass, field
from typing import Any, Callable

ROWS: list["Row"] = []


@dataclass
class Row:
    name: str                        # workload, e.g. "unique: 100k small ints"
    needs: tuple[str, ...]           # quibra attributes the row uses
    setup: Callable[[], Any]         # builds the input once
    quibra: Callable[[Any], Any]     # the quibra way
    baseline: Callable[[Any], Any]   # the standard-library way
    baseline_name: str               # how the baseline is described in the table
    check: bool = True               # whether both must return equal results
    tags: tuple[str, ...] = field(default_factory=tuple)


def row(name, needs, setup, quibra, baseline, baseline_name, check=True, tags=()):
    """Registers a row."""
    if isinstance(needs, str):
        needs = (needs,)
    ROWS.append(Row(name, tuple(needs), setup, quibra, baseline, baseline_name, check, tuple(tags)))


def floor(name, needs, setup, quibra, bound, bound_name):
    """Registers "NAME [vs floor]": the quibra way against the least work any
    way of producing the same answer must do (a native pass making the same
    objects), which bounds how far the row's speed-up can go."""
    row(f"{name} [vs floor]", needs, setup, quibra, bound, bound_name, check=False, tags=("floor",))


def _loops_for(fn, arg, target=0.02):
    """How many calls make one measurement last about `target` seconds."""
    n = 1
    while True:
        t0 = time.perf_counter()
        for _ in range(n):
            fn(arg)
        dt = time.perf_counter() - t0
        if dt >= target or n >= 1 << 22:
            return n
        n *= 2 if dt < target / 8 else max(2, int(target / max(dt, 1e-9) * n) // n + 1)


def measure(r: Row, repeats=7):
    """Best seconds per call for (quibra, baseline), measured interleaved."""
    data = r.setup()
    if r.check:
        got, want = r.quibra(data), r.baseline(data)
        if got != want:
            raise AssertionError(f"{r.name}: quibra and baseline disagree: {got!r:.200} != {want!r:.200}")
    nq = _loops_for(r.quibra, data)
    nb = _loops_for(r.baseline, data)
    best_q = best_b = float("inf")
    for _ in range(repeats):
        for fn, n, which in ((r.quibra, nq, "q"), (r.baseline, nb, "b")):
            t0 = time.perf_counter()
            for _ in range(n):
                fn(data)
            dt = (time.perf_counter() - t0) / n
            if which == "q":
                best_q = min(best_q, dt)
            else:
                best_b = min(best_b, dt)
    return best_q, best_b
