// Pending errors: a native body returns a value or one of these, and the
// boundary raises it. Per-element routines on the hottest paths keep the C
// API's own convention instead (nullptr or -1 with the exception set), and
// say so where they are defined; their callers turn that into an Error.
#pragma once

#include "utils/ref.hpp"

#include <cstddef>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace quibra {

class Error {
public:
    enum class Kind : unsigned char {
        Captured,       // an exception object fetched from the interpreter
        TypeError,
        ValueError,
        BufferError,
        SystemError,
        StopIteration,  // raised with no arguments
        Panic,          // internal fault, raised as PanicException
    };

    // Takes the interpreter's current exception. A failure that set none
    // becomes SystemError "attempted to fetch exception but none was set".
    [[nodiscard]] static Error fetch();
    // The same for the module's own hashing, equality and iteration routines,
    // whose missing exception reads "FFI call failed without setting an exception".
    [[nodiscard]] static Error fetch_ffi();
    [[nodiscard]] static Error captured(Ref exc) noexcept { return Error(Kind::Captured, std::move(exc)); }

    [[nodiscard]] static Error type_error(std::string text) { return Error(Kind::TypeError, std::move(text)); }
    [[nodiscard]] static Error value_error(std::string text) { return Error(Kind::ValueError, std::move(text)); }
    [[nodiscard]] static Error buffer_error(std::string text) { return Error(Kind::BufferError, std::move(text)); }
    [[nodiscard]] static Error system_error(std::string text) { return Error(Kind::SystemError, std::move(text)); }
    [[nodiscard]] static Error stop_iteration() { return Error(Kind::StopIteration, std::string()); }
    [[nodiscard]] static Error panic(std::string text) { return Error(Kind::Panic, std::move(text)); }
    // The interpreter's MemoryError: the one translation of native memory
    // running out (see or_no_memory below).
    [[nodiscard]] static Error no_memory();
    // A C++ exception that escaped native code: running out of memory
    // (std::bad_alloc, or a container asked to outgrow its largest size)
    // is MemoryError; anything else is an internal fault carrying the
    // exception's text, or `fallback` when it has none.
    [[nodiscard]] static Error from_exception(std::exception_ptr e, const char* fallback) noexcept;

    Kind kind() const noexcept { return kind_; }
    bool is_panic() const noexcept { return kind_ == Kind::Panic; }

    // Whether the exception is an instance of exc_type (subclass-aware).
    bool matches(PyObject* exc_type) const;
    // Whether it is a failed lookup a default stands in for (see
    // is_lookup_error in capi.hpp).
    bool is_lookup_error() const;

    // The exception object itself, instantiating a deferred kind; empty if
    // even that fails (the interpreter's error indicator is then set).
    Ref exception();

    // Adds a PEP 678 note (used for "while processing 'NAME'").
    Error with_note(std::string_view note) &&;

    // Sets the interpreter's error indicator from this error.
    void raise() &&;

private:
    Error(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
    Error(Kind kind, Ref exc) noexcept : kind_(kind), exc_(std::move(exc)) {}
    PyObject* deferred_type() const;

    Kind kind_;
    Ref exc_;           // Captured only
    std::string text_;  // deferred kinds
};

// A value or a pending error.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) noexcept(std::is_nothrow_move_constructible_v<T>) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) noexcept : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    // Unchecked access (the caller has tested ok()): std::get would test the
    // index again and keep a throwing path on every per-element step.
    T& value() & { return held<0>(); }
    T&& value() && { return std::move(held<0>()); }
    T& operator*() & { return held<0>(); }
    T* operator->() { return &held<0>(); }
    Error& error() & { return held<1>(); }
    Error&& error() && { return std::move(held<1>()); }

private:
    template <std::size_t I>
    auto& held() noexcept {
        auto* p = std::get_if<I>(&v_);
        if (!p) __builtin_unreachable();
        return *p;
    }

    std::variant<T, Error> v_;
};

struct Unit {};
using Status = Result<Unit>;
inline Status success() noexcept { return Unit{}; }

// f(), with std::bad_alloc (native memory running out) as MemoryError.
template <class F>
auto or_no_memory(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return Error::no_memory();
    }
}

// Room for n more elements up front, or MemoryError.
template <class V>
Status reserve(V& v, std::size_t n) {
    return or_no_memory([&]() -> Status {
        v.reserve(n);
        return success();
    });
}

#define QB_CONCAT_(a, b) a##b
#define QB_CONCAT(a, b) QB_CONCAT_(a, b)
// QB_TRY(Ref it, iter(seq)); declares `it` or returns the pending error.
#define QB_TRY(decl, expr)                                                   \
    auto QB_CONCAT(qb_result_, __LINE__) = (expr);                            \
    if (!QB_CONCAT(qb_result_, __LINE__))                                     \
        return std::move(QB_CONCAT(qb_result_, __LINE__)).error();            \
    decl = std::move(QB_CONCAT(qb_result_, __LINE__)).value()
// QB_CHECK(status_expr); returns the pending error, if any.
#define QB_CHECK(expr)                                                       \
    do {                                                                     \
        auto qb_status_ = (expr);                                            \
        if (!qb_status_) return std::move(qb_status_).error();               \
    } while (0)

class ModuleState;

// The module's exception for internal faults (a BaseException subclass),
// created on first use in each module state.
Result<PyObject*> panic_exception_type(ModuleState& state);

}  // namespace quibra
