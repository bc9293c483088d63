// Element access shared with the lazy functions, the option accessors and Iter.
#pragma once

#include "utils/error.hpp"

namespace quibra {

// seq[-n:] (n capped at the largest index), falling back to the last n
// elements of iter(seq) as a tuple when slicing fails with TypeError or
// KeyError. n == 0 gives the whole input on both paths.
Result<Ref> tail_of(unsigned long long n, PyObject* seq);
// The last n elements of an iterator (all of them for n == 0), as a tuple.
Result<Ref> last_n_of_iterator(PyObject* it, unsigned long long n);
// itertools.chain((first,), it), with chain looked up on every call.
Result<Ref> chain_with_first(PyObject* first, PyObject* it);
// len(seq) when seq has __len__ (never iterating it), else the number of
// elements iter(seq) delivers.
Result<unsigned long long> count_of(PyObject* seq);

}  // namespace quibra
