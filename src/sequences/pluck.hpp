// pluck: item `ind` of every element, lazily; shared with Iter.pluck.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// The iterator of pluck(ind, seqs[, default]): dflt is nullptr when no
// default was given (an explicit None is a default). Reads nothing of seqs.
Result<Ref> build_pluck(const ModuleState& module, PyObject* ind, PyObject* seqs, PyObject* dflt);

}  // namespace quibra
