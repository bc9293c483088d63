// Element access shared with the option accessors and Iter.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// (first, chain((first,), it)) for it = iter(seq), with chain looked up on
// every call; an empty Ref when seq has no element.
Result<Ref> peek_of(PyObject* seq);
// len(seq) when seq has __len__ (never iterating it), else the number of
// elements iter(seq) delivers.
Result<unsigned long long> count_of(ModuleState& module, PyObject* seq);

}  // namespace quibra
