// Slices of a stream, shared with the fluent Iter and the element accessors.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// islice(seq, n): the first n elements (n passed to islice unchanged).
Result<Ref> take_iter(ModuleState& module, PyObject* n, PyObject* seq);
// islice(seq, n, None): everything after the first n elements.
Result<Ref> drop_iter(ModuleState& module, PyObject* n, PyObject* seq);
// chain.from_iterable(map(f, seq)): f applied to each element, results concatenated.
Result<Ref> flat_map_iter(ModuleState& module, PyObject* f, PyObject* seq);
// seq[-n:] (n capped at the largest index), falling back to the last n
// elements of iter(seq) as a tuple when slicing fails with TypeError or
// KeyError. n == 0 gives the whole input on both paths.
Result<Ref> tail_of(unsigned long long n, PyObject* seq);

}  // namespace quibra
