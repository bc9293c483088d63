// topk without a key over elements whose ordering runs no user code and
// cannot fail: a bounded selection of k instead of sorting everything.
#pragma once

#include "utils/capi.hpp"

namespace quibra {

// The first k items of the stable descending sort of items[0..n) (equal
// items in input order), as a tuple; an empty Ref when the items are not
// all exact ints, all exact strs or all exact non-NaN floats, or when k
// is not below n (the caller then sorts). No user code runs, so the items
// cannot change under the scan.
Result<Ref> topk_by_selection(unsigned long long k, PyObject* const* items, Py_ssize_t n);

}  // namespace quibra
