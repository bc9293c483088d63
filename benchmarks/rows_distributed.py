"""quibra as the per-partition kernel of Dask on two local worker processes,
against the same pipeline with collections.Counter as the kernel. The data is
made and kept on the workers, so a row times the kernels, the combining
merge_with and Dask's own round trip. Without dask these rows do not exist."""

import atexit
import collections
import functools
import pathlib
import sys

import quibra as q
from harness import row

try:
    import distributed
    # The workers inherit this path, so they import the example's kernels by name.
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
    import distributed_frequencies as example
except ImportError:
    example = None

N = 4_000_000
RECORDS = 400_000
PIECES = 8
_clients = []


def counter_chunk(block):
    return collections.Counter(block.tolist())


def counter_users(part):
    return collections.Counter(r["user"] for r in part)


def _persisted(make):
    def setup():
        if not _clients:
            cluster, client = example.start_cluster()
            atexit.register(cluster.close)
            atexit.register(client.close)
            _clients.append(client)
        data = make().persist()
        distributed.wait(data)
        return data
    return setup


def _array_counts(kernel):
    return lambda x: example.array_frequencies(x, kernel).compute()


def _user_counts(kernel):
    return lambda bag: bag.reduction(kernel, functools.partial(q.merge_with, sum, factory=collections.Counter)).compute()


if example is not None:
    row("dask frequencies: 4M int64, 8 chunks, 2 procs", ("frequencies", "merge_with"),
        _persisted(lambda: example.chunked_array(N, PIECES, seed=1)),
        _array_counts(example.chunk_frequencies), _array_counts(counter_chunk),
        "same pipeline, Counter(chunk.tolist()) per chunk")
    row("dask countby: 400k records, 8 parts, 2 procs", ("countby", "merge_with"),
        _persisted(lambda: example.records_bag(RECORDS, PIECES, seed=1)),
        _user_counts(functools.partial(example.counted, q.countby, "user")), _user_counts(counter_users),
        "same pipeline, Counter(r['user'] for r in part) per partition")
