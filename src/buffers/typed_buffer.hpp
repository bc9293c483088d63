// Flat buffers of machine integers, read straight from their memory instead
// of element by element through Python objects.
#pragma once

#include "utils/capi.hpp"
#include "utils/gc.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace quibra {

// The element kinds, in the order detection probes them (the order is part
// of the behaviour: an exporter sees one acquisition per probed kind).
enum class ElementKind : unsigned char { I64, U8, I32, U64, U32, I16, U16, I8 };

inline constexpr ElementKind kProbeOrder[] = {
    ElementKind::I64, ElementKind::U8,  ElementKind::I32, ElementKind::U64,
    ElementKind::U32, ElementKind::I16, ElementKind::U16, ElementKind::I8,
};

// Calls f(T{}) with T the kind's native integer type: the one place a kind
// becomes a type, so every scan is written once as a template.
template <class F>
decltype(auto) dispatch_kind(ElementKind kind, F&& f) {
    switch (kind) {
        case ElementKind::I64: return f(std::int64_t{});
        case ElementKind::U8: return f(std::uint8_t{});
        case ElementKind::I32: return f(std::int32_t{});
        case ElementKind::U64: return f(std::uint64_t{});
        case ElementKind::U32: return f(std::uint32_t{});
        case ElementKind::I16: return f(std::int16_t{});
        case ElementKind::U16: return f(std::uint16_t{});
        case ElementKind::I8: break;
    }
    return f(std::int8_t{});
}

// An acquired buffer view of one element kind. Owns the view, which is
// released exactly once: by release(), or when the holder goes away.
class TypedBuffer {
public:
    // The typed buffer o exports, or nullopt: every refusal sends the caller
    // down its generic path. The only error is an exporter's failure that is
    // not an Exception (KeyboardInterrupt, SystemExit), which propagates.
    static Result<std::optional<TypedBuffer>> detect(PyObject* o);

    TypedBuffer(TypedBuffer&&) noexcept = default;
    TypedBuffer& operator=(TypedBuffer&& other) noexcept {
        if (this != &other) {
            release();
            view_ = std::move(other.view_);
            kind_ = other.kind_;
        }
        return *this;
    }
    ~TypedBuffer() { release(); }

    ElementKind kind() const noexcept { return kind_; }

    // Whether the memory can be scanned right now: still held, C-contiguous,
    // with a data pointer. Callers test this before every use.
    bool scannable() const noexcept {
        return view_ && view_->buf && PyBuffer_IsContiguous(view_.get(), 'C');
    }
    // The element count (0 once released).
    std::size_t length() const noexcept {
        return view_ ? static_cast<std::size_t>(view_->len / view_->itemsize) : 0;
    }
    // The first element; only meaningful while scannable().
    template <class T>
    const T* data() const noexcept {
        if (!view_) __builtin_unreachable();  // callers test scannable() first
        return static_cast<const T*>(view_->buf);
    }

    // Gives the view back to its exporter now (a no-op when already done).
    void release() noexcept;

    // The view holds its exporter.
    int traverse(const Visitor& visit) const { return view_ ? visit(*view_) : 0; }

private:
    TypedBuffer(std::unique_ptr<Py_buffer> view, ElementKind kind) noexcept : view_(std::move(view)), kind_(kind) {}

    std::unique_ptr<Py_buffer> view_;  // empty once released
    ElementKind kind_;
};

}  // namespace quibra
