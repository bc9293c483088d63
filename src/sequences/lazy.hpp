// Lazy constructions shared by the module functions and the fluent Iter.
#pragma once

#include "utils/error.hpp"

namespace quibra {

// islice(seq, n): the first n elements (n passed to islice unchanged).
Result<Ref> take_iter(PyObject* n, PyObject* seq);
// islice(seq, n, None): everything after the first n elements.
Result<Ref> drop_iter(PyObject* n, PyObject* seq);
// chain.from_iterable(map(f, seq)): f applied to each element, results concatenated.
Result<Ref> flat_map_iter(PyObject* f, PyObject* seq);
// A RustIter of running results of binop over iter(seq); `initial`, when not
// nullptr, is delivered first and seeds the total.
Result<Ref> accumulate_iter(PyObject* binop, PyObject* seq, PyObject* initial);

}  // namespace quibra
