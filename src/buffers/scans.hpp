// The native scans over a typed buffer: counting, distinctness and top-k.
// Each is written once for every element kind. Python objects are made only for what a scan returns, on
// the calling thread; the pool's workers see raw memory and native tables.
#pragma once

#include "buffers/typed_buffer.hpp"
#include "utils/capi.hpp"

namespace quibra {

// Inputs this long or longer are split across the worker pool (counting
// and top-k).
inline constexpr std::size_t kParallelThreshold = std::size_t{1} << 19;

// Every function below takes a buffer that is scannable() and keeps it
// acquired for the whole call. Running out of native memory throws
// std::bad_alloc; everything else that can fail is making Python objects.

// dict value -> count, keys in first-seen order.
Result<Ref> typed_count(const TypedBuffer& buffer);
// Whether no value occurs twice; stops at the first repeat.
bool typed_distinct(const TypedBuffer& buffer);
// tuple of the k largest values, largest first.
Result<Ref> typed_topk(const TypedBuffer& buffer, unsigned long long k);

}  // namespace quibra
