// Argument binding driven by one declarative descriptor per callable: the
// same parameter list string both binds the arguments and is published as
// the callable's __text_signature__, so the two cannot drift apart.
//
//   QB_FUNCTION("nth", "n, seq", nth_body)            module function
//   QB_METHOD("Some", "map", "$self, f", map_body)    method with parameters
//   QB_METHOD0("Some", "unwrap", unwrap_body)         method without parameters
//   QB_STATIC("Option", "of", "v", of_body)           static method
//   QB_FUNCTION_VARARGS("apply", "func, *args, **kwargs", apply_body)
//   new_slot<"Some", "value", new_body>               tp_new
//
// Parameter syntax: `name`, `name=None` (None and omission are the same),
// `name=False` (omission leaves the slot empty; the body decides), `*name`,
// `**name`; names after `*name` are keyword-only. `$self` marks a method.
#pragma once

#include "utils/error.hpp"

#include <array>
#include <cstddef>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace quibra {

// ---- compile-time strings -------------------------------------------------

template <std::size_t N>
struct FixedString {
    char data[N]{};
    constexpr FixedString() = default;
    constexpr FixedString(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) data[i] = s[i];
    }
    static constexpr std::size_t length = N - 1;
};

template <FixedString... Parts>
struct Concat {
    static constexpr std::size_t length = (Parts.length + ... + 0);
    static constexpr FixedString<length + 1> value = [] {
        FixedString<length + 1> out;
        std::size_t i = 0;
        ((
             [&] {
                 for (std::size_t j = 0; j < Parts.length; ++j) out.data[i++] = Parts.data[j];
             }()),
         ...);
        out.data[i] = '\0';
        return out;
    }();
    static constexpr const char* c_str() { return value.data; }
};

// "name(params)\n--\n\n": the interpreter's signature-docstring convention.
template <FixedString Name, FixedString Params>
using SignatureDoc = Concat<Name, "(", Params, ")\n--\n\n">;

// ---- signatures ------------------------------------------------------------

inline constexpr std::size_t kMaxParams = 8;

template <std::size_t N>
constexpr std::size_t count_params(const FixedString<N>& params) {
    std::size_t n = params.length > 0 ? 1 : 0;
    for (std::size_t i = 0; i < params.length; ++i) n += params.data[i] == ',' ? 1 : 0;
    return n;
}

struct Param {
    std::string name;
    bool required = true;
    bool none_default = false;  // None passed explicitly counts as omitted
    bool keyword_only = false;
};

// A parsed parameter list plus the display name used in binding messages.
// Parsing touches no Python object, so it cannot fail at a call.
class Signature {
public:
    Signature(const char* display, const char* params);

    std::string display;               // "first()" or "Some.map()"
    std::vector<Param> params;         // named parameters, in order
    std::size_t positional = 0;        // parameters that may be given by position
    std::size_t positional_required = 0;  // fewest positional arguments that bind on the fast path
    bool has_varargs = false;
    bool has_varkw = false;
};

// Bound arguments. Values are borrowed from the caller for the duration of
// the call; absent optional parameters are nullptr.
struct Args {
    const Signature* sig = nullptr;
    PyObject* self = nullptr;
    std::array<PyObject*, kMaxParams> v{};
    // *name: the extra positional arguments, borrowed from the caller for
    // the call (no tuple is made unless a body asks for one).
    PyObject* const* rest_items = nullptr;
    Py_ssize_t rest_count = 0;
    Ref kwargs;  // **name: a dict

    PyObject* operator[](std::size_t i) const noexcept { return v[i]; }
    const char* name(std::size_t i) const noexcept { return sig->params[i].name.c_str(); }

    // The conversion's own exception with the note "while processing 'NAME'".
    Error note(Error e, std::size_t i) const;
    // The parameter as an int: itself, or its __index__ (with the note).
    Result<Ref> as_int(std::size_t i) const;
    // Unsigned 64-bit count: an int directly, anything else through __index__.
    Result<unsigned long long> to_u64(std::size_t i) const;
    // Signed count through __index__ (for sizes that may be negative).
    Result<long long> to_i64(std::size_t i) const;
    // A strict boolean: True or False, or a numeric library's boolean scalar
    // (an omitted parameter is false); anything else fails conversion.
    Result<bool> to_strict_bool(std::size_t i) const;
    // The extra positional arguments as a new tuple, for bodies that keep
    // them or hand them on.
    Result<Ref> rest_tuple() const;
    // The single optional extra positional argument of a `*rest` parameter
    // (nullptr when none); two or more fail with "<name> takes at most N arguments".
    Result<PyObject*> optional_rest(const char* name, int at_most) const;
};

// Binding entry points; on failure the TypeError is set and false returned.
bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out);
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, Args& out);

// ---- the boundary -----------------------------------------------------------

using Body = Result<Ref> (*)(Args&);
using NoArgsBody = Result<Ref> (*)(PyObject* self);

// Raises a pending error; returns the value otherwise.
inline PyObject* finish(Result<Ref>&& r) noexcept {
    if (r) return std::move(r).value().release();
    std::move(r).error().raise();
    return nullptr;
}

// Turns a C++ exception escaping a body (an internal fault) into PanicException.
PyObject* raise_internal_fault(std::exception_ptr e, const char* fallback) noexcept;

template <class F>
PyObject* guarded(F&& f) noexcept {
    try {
        return finish(f());
    } catch (...) {
        return raise_internal_fault(std::current_exception(), nullptr);
    }
}

template <FixedString Display, FixedString Params, Body B>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static_assert(count_params(Params) <= kMaxParams, "raise kMaxParams");
    static const Signature sig(Display.data, Params.data);
    Args a;
    a.self = self;
    if (!bind_fast(sig, args, nargs, kwnames, a)) return nullptr;
    return guarded([&] { return B(a); });
}

template <FixedString Display, FixedString Params, Body B>
PyObject* tuple_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    static_assert(count_params(Params) <= kMaxParams, "raise kMaxParams");
    static const Signature sig(Display.data, Params.data);
    Args a;
    a.self = self;
    if (!bind_tuple(sig, args, kwargs, a)) return nullptr;
    return guarded([&] { return B(a); });
}

template <NoArgsBody B>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
    return guarded([&] { return B(self); });
}

// tp_new: the body receives the type as `self`.
template <FixedString Class, FixedString Params, Body B>
PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return tuple_entry<Concat<Class, ".__new__">::value, Params, B>(reinterpret_cast<PyObject*>(type), args, kwargs);
}

template <class F>
PyCFunction as_cfunction(F f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace quibra

#define QB_FUNCTION(name, params, body)                                                  \
    PyMethodDef {                                                                        \
        name, ::quibra::as_cfunction(&::quibra::fast_entry<name, params, body>),         \
            METH_FASTCALL | METH_KEYWORDS, ::quibra::SignatureDoc<name, params>::c_str() \
    }
#define QB_FUNCTION_VARARGS(name, params, body)                                          \
    PyMethodDef {                                                                        \
        name, ::quibra::as_cfunction(&::quibra::tuple_entry<name, params, body>),        \
            METH_VARARGS | METH_KEYWORDS, ::quibra::SignatureDoc<name, params>::c_str()  \
    }
#define QB_METHOD(cls, name, params, body)                                                        \
    PyMethodDef {                                                                                 \
        name,                                                                                     \
            ::quibra::as_cfunction(                                                               \
                &::quibra::fast_entry<::quibra::Concat<cls, ".", name>::value, params, body>),    \
            METH_FASTCALL | METH_KEYWORDS, ::quibra::SignatureDoc<name, params>::c_str()          \
    }
#define QB_METHOD0(cls, name, body)                                                               \
    PyMethodDef {                                                                                 \
        name, ::quibra::as_cfunction(&::quibra::noargs_entry<body>), METH_NOARGS,                 \
            ::quibra::SignatureDoc<name, "$self">::c_str()                                        \
    }
#define QB_STATIC(cls, name, params, body)                                                        \
    PyMethodDef {                                                                                 \
        name,                                                                                     \
            ::quibra::as_cfunction(                                                               \
                &::quibra::fast_entry<::quibra::Concat<cls, ".", name>::value, params, body>),    \
            METH_FASTCALL | METH_KEYWORDS | METH_STATIC,                                          \
            ::quibra::SignatureDoc<name, params>::c_str()                                         \
    }
#define QB_METHODS_END \
    PyMethodDef { nullptr, nullptr, 0, nullptr }
