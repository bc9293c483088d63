#include "buffers/offers.hpp"

#include "buffers/scans.hpp"

#include <new>

namespace quibra {

namespace {

// A buffer the scans can read now: detected, C-contiguous, with memory.
// Anything else is released on the spot.
std::optional<TypedBuffer> scannable_buffer(PyObject* seq) noexcept {
    std::optional<TypedBuffer> b = TypedBuffer::detect(seq);
    if (b && !b->scannable()) b.reset();
    return b;
}

// Native memory running out is the interpreter's MemoryError, not a fault.
template <class F>
auto without_bad_alloc(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return Error::fetch();
    }
}

}  // namespace

Result<Ref> offer_typed_count(PyObject* seq) {
    std::optional<TypedBuffer> b = scannable_buffer(seq);
    if (!b) return Ref();
    return without_bad_alloc([&] { return typed_count(*b); });
}

Result<std::optional<bool>> offer_typed_distinct(PyObject* seq) {
    std::optional<TypedBuffer> b = scannable_buffer(seq);
    if (!b) return std::optional<bool>();
    return without_bad_alloc([&]() -> Result<std::optional<bool>> { return std::optional<bool>(typed_distinct(*b)); });
}

Result<Ref> offer_typed_topk(unsigned long long k, PyObject* seq) {
    std::optional<TypedBuffer> b = scannable_buffer(seq);
    if (!b) return Ref();
    return without_bad_alloc([&] { return typed_topk(*b, k); });
}

Result<Ref> offer_typed_unique(PyObject* seq) {
    std::optional<TypedBuffer> b = scannable_buffer(seq);
    if (!b) return Ref();
    return make_unique_int_iter(std::move(*b));
}

}  // namespace quibra
