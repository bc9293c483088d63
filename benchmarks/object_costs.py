"""What one object of each class costs: making it (and dropping it), and one
call or one step of an existing one. Prints nanoseconds per operation.

    python benchmarks/object_costs.py

Used to compare builds (for example before and after a change to how
instances are allocated or tracked); nothing here fails on a time.
"""

import itertools
import operator
import sys
import timeit

import quibra as q

XS = list(range(64))


def _iter(make, items=XS, endless=itertools.count):
    """(create: make an iterator over a list and drop it, step: one next()
    of a live one over an endless C-level source)."""
    live = make(endless())
    return (lambda: make(items)), (lambda: next(live))


def _callable(make, *args):
    obj = make()
    return make, (lambda: obj(*args))


CASES = {
    "UniqueIter": _iter(q.unique),
    "InterposeIter": _iter(lambda s: q.interpose(0, s)),
    "SlidingWindowIter": _iter(lambda s: q.sliding_window(2, s)),
    "PluckIter": _iter(lambda s: q.pluck(0, s), [(1, 2)] * 64, lambda: itertools.repeat((1, 2))),
    "RustIter (accumulate)": _iter(lambda s: q.accumulate(operator.add, s)),
    "curry": _callable(lambda: q.curry(operator.add, 1), 2),
    "Compose": _callable(lambda: q.compose(abs, abs), -1),
    "Complement": _callable(lambda: q.complement(bool), 0),
    "Juxt": _callable(lambda: q.juxt(abs, abs), -1),
    "Excepts": _callable(lambda: q.excepts(ValueError, abs), -1),
    "Memoize (hit)": _callable(lambda: q.memoize(abs, key=lambda args, kwargs: args[0]), -1),
    "Some": ((lambda: q.Some(1)), (lambda: q.Some(1).unwrap())),
}


def per_op(fn, repeat=7):
    timer = timeit.Timer(fn)
    number, _ = timer.autorange()
    return min(timer.repeat(number=number, repeat=repeat)) / number * 1e9


def main():
    print(f"{'class':<24} {'create':>10} {'call/step':>10}   (ns, best of 7)")
    for name, (create, step) in CASES.items():
        print(f"{name:<24} {per_op(create):10.1f} {per_op(step):10.1f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
