// Where the sequence functions hand a typed integer buffer to the native
// scans. Each hook declines (an empty result, nothing raised) when `seq`
// is not a one-dimensional, C-contiguous buffer of machine integers; the
// caller then runs its generic path on the same object.
#pragma once

#include "utils/error.hpp"

#include <optional>

namespace quibra {

// frequencies: the value -> count dict, or an empty Ref.
Result<Ref> offer_typed_count(PyObject* seq);
// isdistinct: the answer, or nullopt.
Result<std::optional<bool>> offer_typed_distinct(PyObject* seq);
// topk without a key: the tuple of the k largest, or an empty Ref.
Result<Ref> offer_typed_topk(unsigned long long k, PyObject* seq);
// unique without a key: a UniqueIntIter, or an empty Ref.
Result<Ref> offer_typed_unique(PyObject* seq);

}  // namespace quibra
