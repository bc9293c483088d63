#include "buffers/offers.hpp"

#include "buffers/scans.hpp"
#include "buffers/unique_int_iter.hpp"


namespace quibra {

namespace {

// A buffer the scans can read now: detected, C-contiguous, with memory.
// Anything else is released on the spot. Most arguments export no buffer
// at all, and are let go before anything else is looked at.
Result<std::optional<TypedBuffer>> scannable_buffer(PyObject* seq) {
    PyBufferProcs* procs = Py_TYPE(seq)->tp_as_buffer;
    if (!procs || !procs->bf_getbuffer) [[likely]] return std::optional<TypedBuffer>();
    QB_TRY(std::optional<TypedBuffer> b, TypedBuffer::detect(seq));
    if (b && !b->scannable()) b.reset();
    return b;
}

}  // namespace

Result<Ref> offer_typed_count(PyObject* seq) {
    QB_TRY(std::optional<TypedBuffer> b, scannable_buffer(seq));
    if (!b) return Ref();
    return or_no_memory([&] { return typed_count(*b); });
}

Result<std::optional<bool>> offer_typed_distinct(PyObject* seq) {
    QB_TRY(std::optional<TypedBuffer> b, scannable_buffer(seq));
    if (!b) return std::optional<bool>();
    return or_no_memory([&]() -> Result<std::optional<bool>> {
        QB_TRY(bool distinct, typed_distinct(*b));
        return std::optional<bool>(distinct);
    });
}

Result<Ref> offer_typed_topk(unsigned long long k, PyObject* seq) {
    QB_TRY(std::optional<TypedBuffer> b, scannable_buffer(seq));
    if (!b) return Ref();
    return or_no_memory([&] { return typed_topk(*b, k); });
}

Result<Ref> offer_typed_unique(const ModuleState& module, PyObject* seq) {
    QB_TRY(std::optional<TypedBuffer> b, scannable_buffer(seq));
    if (!b) return Ref();
    return make_unique_int_iter(module, std::move(*b));
}

}  // namespace quibra
