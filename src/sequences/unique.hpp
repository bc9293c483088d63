// unique: first occurrences, lazily, shared with Iter.unique.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// The iterator of unique(seq, key): key may be nullptr (the element is its
// own key). Reads nothing of seq; fails only as iter(seq) fails.
Result<Ref> build_unique(const ModuleState& module, PyObject* seq, PyObject* key);

}  // namespace quibra
