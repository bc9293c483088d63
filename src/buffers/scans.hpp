// The native scans over a typed buffer: counting, distinctness and top-k.
// Each is written once for every element kind. From the pool threshold up,
// the raw-memory phase of a scan runs detached from the interpreter, so
// other threads run meanwhile; the calling thread reattaches to make every
// Python object of the answer itself, and the pool's workers see nothing
// but raw memory and native tables.
#pragma once

#include "buffers/typed_buffer.hpp"
#include "utils/capi.hpp"

namespace quibra {

// Inputs this long or longer are scanned detached from the interpreter, and
// their counting and top-k are split across the worker pool.
inline constexpr std::size_t kParallelThreshold = std::size_t{1} << 19;

// Every function below takes a buffer that is scannable() and keeps it
// acquired for the whole call, and stops with what a signal handler raises
// (Ctrl-C). Running out of native memory throws std::bad_alloc.

// dict value -> count, keys in first-seen order.
Result<Ref> typed_count(const TypedBuffer& buffer);
// Whether no value occurs twice; stops at the first repeat.
Result<bool> typed_distinct(const TypedBuffer& buffer);
// tuple of the k largest values, largest first.
Result<Ref> typed_topk(const TypedBuffer& buffer, unsigned long long k);

}  // namespace quibra
