"""How the typed scans scale with the worker pool: python benchmarks/scaling.py [WORKERS ...]

Each worker count (default 1 and 2) runs in a child process with QUIBRA_WORKERS set,
since the pool reads it once when it is created. Prints the best time of each scan per
worker count and the speed-up over the first count; scans quibra does not have yet are
skipped.
"""

import json
import os
import subprocess
import sys

CHILD = r"""
import json, time
import numpy
import quibra as q

rng = numpy.random.default_rng(17)
few = rng.integers(-(1 << 62), 1 << 62, 100)[rng.integers(0, 100, 5_000_000)]
many = rng.integers(-(1 << 62), 1 << 62, 5_000_000)
distinct = rng.permutation(2_000_000).astype(numpy.int64) * 1_000_003
scans = {
    "frequencies: 5M, 100 distinct": ("frequencies", lambda: q.frequencies(few)),
    "frequencies: 5M, nearly all distinct": ("frequencies", lambda: q.frequencies(many)),
    "topk(10): 5M": ("topk", lambda: q.topk(10, many)),
    "topk(1000): 5M": ("topk", lambda: q.topk(1000, many)),
    "isdistinct: 2M distinct": ("isdistinct", lambda: q.isdistinct(distinct)),
    "list(unique): 5M, 100 distinct": ("unique", lambda: list(q.unique(few))),
    "a.sum(): 5M": (None, lambda: few.sum()),
}
out = {}
for name, (needs, fn) in scans.items():
    if needs and not hasattr(q, needs):
        continue
    best = float("inf")
    for _ in range(7):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    out[name] = best
print(json.dumps(out))
"""


def run(workers):
    env = {**os.environ, "QUIBRA_WORKERS": str(workers)}
    proc = subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True, text=True, check=True)
    return json.loads(proc.stdout)


def main(argv):
    counts = [int(a) for a in argv] or [1, 2]
    results = {w: run(w) for w in counts}
    base = counts[0]
    header = f"{'scan':<40}" + "".join(f"{f'{w} worker(s)':>14}" for w in counts) + f"{'speed-up':>10}"
    print(header)
    print("-" * len(header))
    for name, t0 in results[base].items():
        times = [results[w].get(name, float("nan")) for w in counts]
        cells = "".join(f"{t * 1e3:11.2f} ms" for t in times)
        print(f"{name:<40}{cells}{t0 / times[-1]:9.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
