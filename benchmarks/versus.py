"""The same workloads on two builds of the module in one process, interleaved:
python benchmarks/versus.py OLD_MODULE.so [NAME-SUBSTRING ...]

Prints the best time per element of each build and their ratio, for the
per-element rows of a change that should leave them as they were. The
module under test is the one `import quibra` finds.
"""

import array
import importlib.util
import itertools
import operator
import sys
import time

import quibra._quibra as new

N = 100_000
XS = list(range(N))
PAIRS = [(i, -i) for i in range(N)]
TRIPLES = [(i, -i, i) for i in range(N)]
REPEATS = [i % 1000 for i in range(N)]
CALLS = range(1000)
SMALL_ARRAY = array.array("q", [i % 7 for i in range(8)])

# name: (work(q) -> callable, elements it processes)
WORKLOADS = {
    "unique, list": (lambda q: lambda: list(q.unique(REPEATS)), N),
    "unique, iterator": (lambda q: lambda: list(q.unique(iter(REPEATS))), N),
    "interpose": (lambda q: lambda: list(q.interpose(0, XS)), 2 * N),
    "sliding_window(3)": (lambda q: lambda: list(q.sliding_window(3, XS)), N),
    "pluck(0)": (lambda q: lambda: list(q.pluck(0, PAIRS)), N),
    "pluck([0, 1])": (lambda q: lambda: list(q.pluck([0, 1], TRIPLES)), N),
    "pluck(5, default)": (lambda q: lambda: list(q.pluck(5, PAIRS, None)), N),
    "partition_all(2), list": (lambda q: lambda: list(q.partition_all(2, XS)), N),
    "partition_all(2), iterator": (lambda q: lambda: list(q.partition_all(2, iter(XS))), N),
    "partition(3, pad)": (lambda q: lambda: list(q.partition(3, iter(XS), None)), N),
    "accumulate(add)": (lambda q: lambda: list(q.accumulate(operator.add, XS)), N),
    "remove(not)": (lambda q: lambda: list(q.remove(operator.not_, XS)), N),
    "interleave(2)": (lambda q: lambda: list(q.interleave([XS, XS])), 2 * N),
    "iterate(neg)": (lambda q: lambda: list(itertools.islice(q.iterate(operator.neg, 1), N)), N),
    "diff": (lambda q: lambda: list(q.diff(XS, REPEATS)), N),
    "merge_sorted(2)": (lambda q: lambda: list(q.merge_sorted(XS, XS)), 2 * N),
    "join": (lambda q: lambda: list(q.join(0, PAIRS[:20000], 0, PAIRS[:20000])), 20000),
    "frequencies": (lambda q: lambda: q.frequencies(REPEATS), N),
    "count, iterator": (lambda q: lambda: q.count(iter(XS)), N),
    "tail(10, iterator)": (lambda q: lambda: q.tail(10, iter(XS)), N),
    "groupby(index)": (lambda q: lambda: q.groupby(0, PAIRS), N),
    "isdistinct": (lambda q: lambda: q.isdistinct(XS), N),
    # per call: a thousand calls each
    "call: Some(5)": (lambda q: lambda: [q.Some(5) for _ in CALLS], len(CALLS)),
    "call: Option.of(5)": (lambda q: lambda: [q.Option.of(5) for _ in CALLS], len(CALLS)),
    "call: first_opt": (lambda q: lambda: [q.first_opt(PAIRS) for _ in CALLS], len(CALLS)),
    "call: unique()": (lambda q: lambda: [q.unique(PAIRS) for _ in CALLS], len(CALLS)),
    "call: take(2, xs)": (lambda q: lambda: [q.take(2, XS) for _ in CALLS], len(CALLS)),
    "call: compose": (lambda q: (lambda f: lambda: [f(-1) for _ in CALLS])(q.compose(abs, abs)), len(CALLS)),
    "call: memoize hit": (lambda q: (lambda f: lambda: [f(3) for _ in CALLS])(q.memoize(abs)), len(CALLS)),
    "call: curry complete": (lambda q: (lambda f: lambda: [f(1, 2) for _ in CALLS])(q.curry(operator.add)), len(CALLS)),
    "call: Iter(xs).map": (lambda q: lambda: [q.Iter(XS).map(abs) for _ in CALLS], len(CALLS)),
    "call: frequencies(8 int64)": (lambda q: lambda: [q.frequencies(SMALL_ARRAY) for _ in CALLS], len(CALLS)),
    "call: unique(8 int64)": (lambda q: lambda: [list(q.unique(SMALL_ARRAY)) for _ in CALLS], len(CALLS)),
    "call: isdistinct(8 int64)": (lambda q: lambda: [q.isdistinct(SMALL_ARRAY) for _ in CALLS], len(CALLS)),
}


def load(path):
    spec = importlib.util.spec_from_file_location("quibra_old._quibra", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def best(fn, rounds):
    out = float("inf")
    for _ in range(rounds):
        t = time.perf_counter()
        fn()
        out = min(out, time.perf_counter() - t)
    return out


def main(argv):
    old = load(argv[0])
    names = [n for n in WORKLOADS if not argv[1:] or any(f in n for f in argv[1:])]
    print(f"{'workload':<28} {'old ns/el':>10} {'new ns/el':>10} {'new/old':>8}")
    for name in names:
        make, count = WORKLOADS[name]
        runs = {"old": make(old), "new": make(new)}
        times = {"old": float("inf"), "new": float("inf")}
        for _ in range(7):  # interleaved rounds
            for which, fn in runs.items():
                times[which] = min(times[which], best(fn, 3))
        o, n = (times[w] / count * 1e9 for w in ("old", "new"))
        print(f"{name:<28} {o:10.2f} {n:10.2f} {n / o:8.3f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
