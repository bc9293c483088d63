// The constructions of frequencies and groupby, shared with the fluent Iter.
#pragma once

#include "utils/capi.hpp"

namespace quibra {

// frequencies(seq): element -> count, keys in first-seen order (a typed
// integer buffer is offered to the native counting scan first).
Result<Ref> frequencies_of(PyObject* seq);

// groupby(key, seq): key -> list of the elements with that key, keys in
// first-seen order, each list in input order.
Result<Ref> groupby_of(PyObject* key, PyObject* seq);

}  // namespace quibra
