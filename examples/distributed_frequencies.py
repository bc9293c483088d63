"""quibra as the per-partition kernel of a Dask computation.

Counts the values of a chunked int64 array with `frequencies` on every chunk,
and counts and groups a bag of records with `countby` and `groupby` on every
partition; `merge_with` combines the partial tables. Partials are combined in
partition order, so each answer equals the one-process answer, key order
included. Runs on a `distributed.LocalCluster` with two worker processes and
checks every answer against a one-process computation.

    python3 examples/distributed_frequencies.py [--size N] [--chunks N]
        [--records N] [--partitions N] [--seed N] [--out FILE]

What travels to the workers is quibra's module functions, `functools.partial`
objects over them and plain functions of this script; all of them pickle.
"""

import argparse
import collections
import functools
import logging
import os
import pickle
import random
import sys
import time

import dask
import dask.array as da
import dask.bag as db
import numpy as np
from distributed import Client, LocalCluster

import quibra as q

COUNTRIES = ("br", "de", "fr", "in", "jp", "ng", "us")


def concat_lists(lists):
    """One key's groups from several partitions, joined in partition order."""
    return list(q.concat(lists))


def counted(count, *args):
    """The table of a quibra counting function as a Counter. Dask sends an
    exact dict key by key, pickling every value on its own; a dict subclass
    travels as one pickle, hundreds of times faster for large tables."""
    return collections.Counter(count(*args))


def chunk_frequencies(block):
    """`frequencies` of one chunk. A chunk that travelled between processes
    can arrive at an address that is no multiple of 8, which quibra counts one
    boxed element at a time (numpy scalars as keys); an aligned copy keeps the
    native scan."""
    return counted(q.frequencies, np.require(block, requirements="A"))


def array_frequencies(x, kernel=chunk_frequencies):
    """Value counts of a one-dimensional dask array, as one delayed Counter:
    `kernel` counts each chunk on a worker, and `merge_with(sum, ...)` adds
    the chunks' counts up."""
    # Unoptimised, so that the blocks of a persisted array still name the workers' data.
    blocks = x.to_delayed(optimize_graph=False).ravel()
    return dask.delayed(q.merge_with)(sum, [dask.delayed(kernel)(b) for b in blocks], factory=collections.Counter)


def bag_countby(bag, key, split_every=None):
    """How many records of the bag have each `key` (any key quibra's
    `countby` takes: a field name, a list of them, or a module function)."""
    return bag.reduction(functools.partial(counted, q.countby, key),
                         functools.partial(q.merge_with, sum, factory=collections.Counter),
                         split_every=split_every)


def bag_groupby(bag, key, split_every=None):
    """The records of the bag grouped by `key`, each group in bag order."""
    return bag.reduction(functools.partial(q.groupby, key), functools.partial(q.merge_with, concat_lists),
                         split_every=split_every)


def make_chunk(n, seed, index):
    rng = np.random.default_rng([seed, index])
    # Skewed, as identifiers in real data are; negative values too.
    return (rng.zipf(1.3, n) % 5000 - 100).astype(np.int64)


def make_records(n, seed, index):
    rng = random.Random(f"{seed}/{index}")
    return [{"user": f"u{rng.randrange(300)}", "country": rng.choice(COUNTRIES), "amount": rng.randrange(1, 1000)}
            for _ in range(n)]


def split(total, parts):
    return [total // parts + (i < total % parts) for i in range(parts)]


def chunked_array(size, chunks, seed):
    """An int64 dask array whose chunks are made on the workers."""
    return da.concatenate([da.from_delayed(dask.delayed(make_chunk)(n, seed, i), shape=(n,), dtype=np.int64)
                           for i, n in enumerate(split(size, chunks))])


def records_bag(count, partitions, seed):
    """A dask bag of records whose partitions are made on the workers."""
    return db.from_delayed([dask.delayed(make_records)(n, seed, i) for i, n in enumerate(split(count, partitions))])


def local_inputs(size, chunks, count, partitions, seed):
    """The same array and records, made in this process."""
    array = np.concatenate([make_chunk(n, seed, i) for i, n in enumerate(split(size, chunks))])
    records = [r for i, n in enumerate(split(count, partitions)) for r in make_records(n, seed, i)]
    return array, records


def start_cluster():
    """Two single-threaded worker processes on this machine."""
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=logging.ERROR)
    return cluster, Client(cluster)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", type=int, default=2_000_000, help="array length")
    parser.add_argument("--chunks", type=int, default=8, help="array chunks")
    parser.add_argument("--records", type=int, default=200_000, help="bag length")
    parser.add_argument("--partitions", type=int, default=8, help="bag partitions")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", help="pickle the inputs, the answers and the worker ids to this file")
    args = parser.parse_args(argv)

    cluster, client = start_cluster()
    try:
        x = chunked_array(args.size, args.chunks, args.seed)
        bag = records_bag(args.records, args.partitions, args.seed)
        started = time.perf_counter()
        counts, by_user, by_country = dask.compute(
            array_frequencies(x), bag_countby(bag, "user"), bag_groupby(bag, "country", split_every=2))
        elapsed = time.perf_counter() - started
        worker_pids = sorted(client.run(os.getpid).values())
    finally:
        client.close()
        cluster.close()

    data, records = local_inputs(args.size, args.chunks, args.records, args.partitions, args.seed)
    checks = {
        "frequencies": list(counts.items()) == list(q.frequencies(data).items()),
        "countby": list(by_user.items()) == list(q.countby("user", records).items()),
        "groupby": list(by_country.items()) == list(q.groupby("country", records).items()),
    }
    print(f"{x.numblocks[0]} chunks of {args.size} int64 values, {bag.npartitions} partitions of "
          f"{args.records} records, on workers {worker_pids}: {elapsed:.2f} s")
    print(f"{len(counts)} distinct values; most common {max(counts.items(), key=lambda kv: kv[1])}")
    print(f"{len(by_user)} users; {', '.join(f'{c}: {len(g)}' for c, g in by_country.items())}")
    for name, ok in checks.items():
        print(f"{name}: {'same as' if ok else 'DIFFERS from'} the one-process answer")
    if args.out:
        with open(args.out, "wb") as f:
            pickle.dump({"array": data, "records": records, "frequencies": counts, "countby": by_user,
                         "groupby": by_country, "workers": worker_pids, "client": os.getpid()}, f)
    return 0 if all(checks.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
