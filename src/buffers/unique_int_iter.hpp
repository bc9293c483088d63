// UniqueIntIter, the lazy unique of a typed buffer.
#pragma once

#include "buffers/typed_buffer.hpp"
#include "utils/capi.hpp"

namespace quibra {

// A UniqueIntIter owning the buffer (scannable() when made); scans nothing yet.
Result<Ref> make_unique_int_iter(TypedBuffer buffer);

}  // namespace quibra
