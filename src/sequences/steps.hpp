// The RustIter-hosted lazy functions shared with the fluent Iter.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// A RustIter of running results of binop over iter(seq); `initial`, when not
// nullptr, is delivered first and seeds the total.
Result<Ref> accumulate_iter(const ModuleState& module, PyObject* binop, PyObject* seq, PyObject* initial);

}  // namespace quibra
