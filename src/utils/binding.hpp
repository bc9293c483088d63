// Argument binding driven by one declarative descriptor per callable: the
// same parameter list string both binds the arguments and is published as
// the callable's __text_signature__, so the two cannot drift apart.
//
// A body states its parameter list in its own type and reads its arguments
// by name; the table entry names the callable:
//
//   Result<Ref> nth_body(Args<"n, seq">& a) { ... a.get<"seq">() ... }
//   QB_FUNCTION("nth", nth_body)                   module function
//   QB_METHOD("Some", "map", map_body)             method (its list starts with $self)
//   QB_METHOD0("Some", "unwrap", unwrap_body)      method without parameters
//   QB_STATIC("Option", "of", of_body)             static method (see ClassSpec)
//   QB_FUNCTION_VARARGS("apply", apply_body)       tuple-and-dict convention
//   new_slot<"Some", new_body>                     tp_new
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <utility>

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

// ---- parameter lists ---------------------------------------------------------
//
// A parameter list is parsed and checked at compile time: a malformed list,
// or a body asking for a parameter the list does not have, fails to compile.

inline constexpr std::size_t kMaxParams = 8;

struct ParamSpec {
    std::string_view name;
    bool required = true;
    bool none_default = false;  // None passed explicitly counts as omitted
    bool keyword_only = false;
};

struct ParamList {
    std::array<ParamSpec, kMaxParams> params{};  // named parameters, in order
    std::size_t count = 0;
    std::size_t positional = 0;           // parameters that may be given by position
    std::size_t positional_required = 0;  // fewest positional arguments that bind on the fast path
    bool has_varargs = false;
    bool has_varkw = false;
    const char* error = nullptr;  // what is wrong with a malformed list

    constexpr std::size_t index_of(std::string_view name) const {
        for (std::size_t i = 0; i < count; ++i)
            if (params[i].name == name) return i;
        return count;
    }
};

namespace detail {

constexpr bool is_identifier(std::string_view s) {
    if (s.empty()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!alpha && !(i > 0 && c >= '0' && c <= '9')) return false;
    }
    return true;
}

// string_view::find, without the pointer test GCC's null-pointer sanitizer
// cannot constant-evaluate.
constexpr std::size_t find(std::string_view s, char c) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == c) return i;
    return std::string_view::npos;
}

constexpr std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace detail

// Syntax: `name`, `name=None` (None and omission are the same), `name=False`
// (omission leaves the slot empty; the body decides), `*name`, `**name`;
// names after `*name` are keyword-only; a leading `$self` marks a method.
constexpr ParamList parse_params(std::string_view spec) {
    ParamList out;
    auto fail = [&out](const char* why) {
        out.error = why;
        return out;
    };
    bool after_star = false, any_default = false, first = true;
    while (!spec.empty()) {
        std::size_t comma = detail::find(spec, ',');
        std::string_view tok = detail::trim(spec.substr(0, comma));
        spec = comma == std::string_view::npos ? std::string_view() : spec.substr(comma + 1);
        if (comma != std::string_view::npos && spec.empty()) return fail("trailing comma");
        bool was_first = std::exchange(first, false);
        if (out.has_varkw) return fail("**name must come last");
        if (tok == "$self") {
            if (!was_first) return fail("$self must come first");
            continue;
        }
        if (tok.starts_with("**")) {
            if (!detail::is_identifier(tok.substr(2))) return fail("bad **name");
            out.has_varkw = true;
            continue;
        }
        if (tok.starts_with("*")) {
            if (after_star) return fail("two *name parameters");
            if (!detail::is_identifier(tok.substr(1))) return fail("bad *name");
            out.has_varargs = after_star = true;
            continue;
        }
        ParamSpec p;
        std::size_t eq = detail::find(tok, '=');
        p.name = tok.substr(0, eq);
        if (!detail::is_identifier(p.name)) return fail("bad parameter name");
        if (eq != std::string_view::npos) {
            std::string_view dflt = tok.substr(eq + 1);
            if (dflt != "None" && dflt != "False") return fail("only None and False defaults are supported");
            p.required = false;
            p.none_default = dflt == "None";
        }
        if (!after_star) {
            if (p.required && any_default) return fail("a required parameter follows an optional one");
            any_default = any_default || !p.required;
            ++out.positional;
        }
        p.keyword_only = after_star;
        if (out.index_of(p.name) != out.count) return fail("duplicate parameter name");
        if (out.count == kMaxParams) return fail("too many parameters: raise kMaxParams");
        out.params[out.count++] = p;
    }
    // Positional calls of at least this many arguments give every required
    // parameter (keyword-only required ones rule the shortcut out).
    std::size_t last_required = 0;
    bool keyword_only_required = false;
    for (std::size_t i = 0; i < out.count; ++i) {
        if (!out.params[i].required) continue;
        if (out.params[i].keyword_only) keyword_only_required = true;
        else last_required = i + 1;
    }
    out.positional_required = keyword_only_required ? SIZE_MAX : last_required;
    return out;
}

// One callable's binding: its display name for messages ("first()",
// "Some.map()") and its parameters.
struct Signature {
    const char* display;
    const ParamList* params;
};

template <FixedString P>
struct Params {
    static constexpr ParamList value = parse_params(std::string_view(P.data, P.length));
    static_assert(value.error == nullptr, "malformed parameter list");
};

// ---- bound arguments ------------------------------------------------------------------

// Bound arguments. Values are borrowed from the caller (or from held_) for
// the duration of the call; absent optional parameters are nullptr. Bodies
// read them by name through Args<P> below.
class BoundArgs {
public:
    PyObject* self = nullptr;
    // The module state the call works for, reached through `self` (the
    // module of a function, the class of a constructor, the instance of a
    // method).
    ModuleState& state() const noexcept { return state_for(self); }
    // **name: a dict of the extra keyword arguments.
    Ref kwargs;

    // *name: the extra positional arguments, borrowed from the caller for
    // the call (no tuple is made unless a body asks for one).
    std::span<PyObject* const> rest() const noexcept { return {rest_items_, static_cast<std::size_t>(rest_count_)}; }
    Py_ssize_t rest_count() const noexcept { return rest_count_; }
    // The extra positional arguments as a new tuple, for bodies that keep
    // them or hand them on.
    Result<Ref> rest_tuple() const;
    // The single optional extra positional argument of a `*rest` parameter
    // (nullptr when none); two or more fail with "<name> takes at most N arguments".
    Result<PyObject*> optional_rest(const char* name, int at_most) const;

protected:
    friend struct Binder;  // fills the fields below

    Error note(Error e, std::size_t i) const;
    Result<Ref> as_int(std::size_t i) const;
    Result<unsigned long long> to_u64(std::size_t i) const;
    Result<long long> to_i64(std::size_t i) const;
    Result<bool> to_strict_bool(std::size_t i) const;

    const Signature* sig_ = nullptr;
    std::array<PyObject*, kMaxParams> v_{};
    Ref held_;  // the keyword arguments of a tuple-and-dict call, owned for the call
    PyObject* const* rest_items_ = nullptr;
    Py_ssize_t rest_count_ = 0;
};

// The arguments of a callable whose parameter list is P, read by name:
// `a.get<"seq">()`. A name P does not declare fails to compile.
template <FixedString P>
class Args : public BoundArgs {
public:
    static constexpr FixedString params = P;

    // The argument, or nullptr for an omitted optional parameter.
    template <FixedString Name>
    PyObject* get() const noexcept {
        return v_[index<Name>()];
    }
    // The conversion's own exception with the note "while processing 'NAME'".
    template <FixedString Name>
    Error note(Error e) const {
        return BoundArgs::note(std::move(e), index<Name>());
    }
    // Unsigned 64-bit count: an int directly, anything else through __index__.
    template <FixedString Name>
    Result<unsigned long long> to_u64() const {
        return BoundArgs::to_u64(index<Name>());
    }
    // Signed count through __index__ (for sizes that may be negative).
    template <FixedString Name>
    Result<long long> to_i64() const {
        return BoundArgs::to_i64(index<Name>());
    }
    // A strict boolean: True or False, or a numeric library's boolean scalar
    // (an omitted parameter is false); anything else fails conversion.
    template <FixedString Name>
    Result<bool> to_strict_bool() const {
        return BoundArgs::to_strict_bool(index<Name>());
    }

private:
    template <FixedString Name>
    static consteval std::size_t index() {
        constexpr std::size_t i = Params<P>::value.index_of(std::string_view(Name.data, Name.length));
        static_assert(i < Params<P>::value.count, "no parameter of this name in the parameter list");
        return i;
    }
};

// The parameter list a body was written for, read off its own type.
template <class B>
struct BodyTraits;
template <FixedString P>
struct BodyTraits<Result<Ref> (*)(Args<P>&)> {
    static constexpr FixedString params = P;
    using args_type = Args<P>;
};

template <FixedString Display, FixedString P>
inline constexpr Signature signature_of{Concat<Display, "()">::c_str(), &Params<P>::value};

// Binding entry points; on failure the TypeError is set and false returned.
bool bind_fast(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BoundArgs& out);
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, BoundArgs& out);

// ---- the boundary -----------------------------------------------------------

using NoArgsBody = Result<Ref> (*)(PyObject* self);

// Raises a pending error; returns the value otherwise.
inline PyObject* finish(Result<Ref>&& r) noexcept {
    if (r) return std::move(r).value().release();
    std::move(r).error().raise();
    return nullptr;
}

// Raises a C++ exception that escaped a body: MemoryError when memory ran
// out, PanicException (an internal fault) otherwise. Every entry point
// (functions, methods, slots, the iterators' __next__) ends up here.
PyObject* raise_internal_fault(std::exception_ptr e, const char* fallback) noexcept;

template <class F>
PyObject* guarded(F&& f) noexcept {
    try {
        return finish(f());
    } catch (...) {
        return raise_internal_fault(std::current_exception(), nullptr);
    }
}

template <FixedString Display, auto B>
PyObject* fast_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    using Traits = BodyTraits<decltype(B)>;
    typename Traits::args_type a;
    a.self = self;
    if (!bind_fast(signature_of<Display, Traits::params>, args, nargs, kwnames, a)) return nullptr;
    return guarded([&] { return B(a); });
}

template <FixedString Display, auto B>
PyObject* tuple_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    using Traits = BodyTraits<decltype(B)>;
    typename Traits::args_type a;
    a.self = self;
    if (!bind_tuple(signature_of<Display, Traits::params>, args, kwargs, a)) return nullptr;
    return guarded([&] { return B(a); });
}

template <NoArgsBody B>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
    return guarded([&] { return B(self); });
}

// tp_new: the body receives the type as `self`.
template <FixedString Class, auto B>
PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return tuple_entry<Concat<Class, ".__new__">::value, B>(reinterpret_cast<PyObject*>(type), args, kwargs);
}

// The class docstring "Class(params)\n--\n\n" for a constructor body.
template <FixedString Class, auto B>
constexpr const char* constructor_doc() noexcept {
    return SignatureDoc<Class, BodyTraits<decltype(B)>::params>::c_str();
}

template <class F>
PyCFunction as_cfunction(F f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace quibra

// Table entries. The parameter list comes from the body's own Args<P>, so
// the text signature and the binding cannot disagree.
#define QB_SIGNATURE_DOC(name, body) \
    ::quibra::SignatureDoc<name, ::quibra::BodyTraits<decltype(&body)>::params>::c_str()
#define QB_FUNCTION(name, body)                                                                     \
    PyMethodDef {                                                                                   \
        name, ::quibra::as_cfunction(&::quibra::fast_entry<name, &body>), METH_FASTCALL | METH_KEYWORDS, \
            QB_SIGNATURE_DOC(name, body)                                                            \
    }
#define QB_FUNCTION_VARARGS(name, body)                                                              \
    PyMethodDef {                                                                                    \
        name, ::quibra::as_cfunction(&::quibra::tuple_entry<name, &body>), METH_VARARGS | METH_KEYWORDS, \
            QB_SIGNATURE_DOC(name, body)                                                             \
    }
#define QB_METHOD(cls, name, body)                                                                         \
    PyMethodDef {                                                                                          \
        name, ::quibra::as_cfunction(&::quibra::fast_entry<::quibra::Concat<cls, ".", name>::value, &body>), \
            METH_FASTCALL | METH_KEYWORDS, QB_SIGNATURE_DOC(name, body)                                    \
    }
#define QB_METHOD0(cls, name, body)                                                               \
    PyMethodDef {                                                                                 \
        name, ::quibra::as_cfunction(&::quibra::noargs_entry<body>), METH_NOARGS,                 \
            ::quibra::SignatureDoc<name, "$self">::c_str()                                        \
    }
#define QB_STATIC(cls, name, body)                                                                         \
    PyMethodDef {                                                                                          \
        name, ::quibra::as_cfunction(&::quibra::fast_entry<::quibra::Concat<cls, ".", name>::value, &body>), \
            METH_FASTCALL | METH_KEYWORDS, QB_SIGNATURE_DOC(name, body)                                    \
    }
#define QB_METHODS_END \
    PyMethodDef { nullptr, nullptr, 0, nullptr }
