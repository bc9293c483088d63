// The typed-buffer fast paths as the sequence functions see them. Each hook
// declines (an empty answer, no exception set) when its argument is not a
// scannable integer buffer, and the caller then takes its generic path; its
// errors are an interrupt (from the exporter, or Ctrl-C during the scan) and
// running out of memory.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

#include <optional>

namespace quibra {

// frequencies(seq): the counting dict, or an empty Ref.
Result<Ref> offer_typed_count(PyObject* seq);
// isdistinct(seq): the answer, or nullopt.
Result<std::optional<bool>> offer_typed_distinct(PyObject* seq);
// topk(k, seq) without a key: the tuple, or an empty Ref.
Result<Ref> offer_typed_topk(unsigned long long k, PyObject* seq);
// unique(seq) without a key: a UniqueIntIter, or an empty Ref.
Result<Ref> offer_typed_unique(const ModuleState& module, PyObject* seq);

}  // namespace quibra
