// UniqueIntIter, the lazy unique of a typed buffer.
#pragma once

#include "buffers/typed_buffer.hpp"
#include "utils/capi.hpp"
#include "utils/state.hpp"

namespace quibra {

// A UniqueIntIter owning the buffer (scannable() when made); scans nothing yet.
Result<Ref> make_unique_int_iter(const ModuleState& module, TypedBuffer buffer);

}  // namespace quibra
