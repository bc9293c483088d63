// Shared pieces of the callable classes (curry, Compose, Complement, Juxt,
// Excepts, Memoize) and the few cross-file entry points of the family.
#pragma once

#include "utils/binding.hpp"
#include "utils/recursion.hpp"
#include "utils/types.hpp"

#include <cstddef>
#include <type_traits>
#include <vector>

namespace quibra {

// ---- callable classes ----------------------------------------------------------

// Every callable class keeps its vectorcall entry as the first member of its
// state, so the interpreter finds it at a fixed offset from the object and
// calls the native code without building an argument tuple.
template <class T>
Py_ssize_t vectorcall_offset() noexcept {
    static_assert(std::is_standard_layout_v<T> && std::is_standard_layout_v<Native<T>>,
                  "the vectorcall slot must sit at a computable offset");
    static_assert(std::is_same_v<decltype(T::vc), vectorcallfunc>);
    return static_cast<Py_ssize_t>(offsetof(Native<T>, state) + offsetof(T, vc));
}

// The description of a callable class (collectable, as every state holds
// the user's callables). Calls with a tuple and a dict go through the
// interpreter's adapter to the same vectorcall entry (the interpreter itself
// prefers vectorcall even for f(*args, **kwargs)). No descriptor slot: an
// instance stored on a class is returned unbound. `tp_new` nullptr makes the
// class non-instantiable from Python; `doc` nullptr leaves no docstring.
template <class T>
ClassSpec<T> callable_spec(const char* qualified_name, const char* doc = nullptr, void* tp_new = nullptr) {
    static_assert(Collectable<T>, "a callable class holds callables: its state needs a traverse");
    static PyMemberDef members[] = {
        {"__vectorcalloffset__", Py_T_PYSSIZET, vectorcall_offset<T>(), Py_READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    return ClassSpec<T>(qualified_name,
                        {
                            {Py_tp_call, reinterpret_cast<void*>(&PyVectorcall_Call)},
                            {Py_tp_members, members},
                            {Py_tp_new, tp_new},
                            {Py_tp_doc, const_cast<char*>(doc)},
                        },
                        Py_TPFLAGS_HAVE_VECTORCALL);
}

// The vectorcall entry of a callable class: runs Body(self, state, args...)
// under the boundary's error translation. The interpreter makes no stack
// check for vectorcall types, and a wrapper may wrap another, so the entry
// does.
template <class T, Result<Ref> (*Body)(PyObject*, T&, PyObject* const*, std::size_t, PyObject*)>
PyObject* vectorcall_entry(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    RecursionGuard depth(kWhileCalling);
    if (!depth.entered()) return nullptr;
    return guarded([&] { return Body(self, state_of<T>(self), args, nargsf, kwnames); });
}

// ---- vectorcall arguments -----------------------------------------------------------

inline Py_ssize_t keyword_count(PyObject* kwnames) noexcept {
    return kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
}

// The positional part of a vectorcall as a new tuple.
Result<Ref> positional_tuple(PyObject* const* args, Py_ssize_t nargs);
// Stores the keyword part of a vectorcall into `dict` (later names win).
Status store_keywords(PyObject* dict, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Positional arguments assembled for one vectorcall, with the spare slot in
// front that PY_VECTORCALL_ARGUMENTS_OFFSET allows the callee to use. Small
// counts stay on the stack.
class ArgVector {
public:
    explicit ArgVector(std::size_t n) : n_(n) {
        if (n + 1 > kInline) heap_.resize(n + 1);
    }
    PyObject*& operator[](std::size_t i) noexcept { return data()[i + 1]; }
    Result<Ref> call(PyObject* f) {
        return checked(PyObject_Vectorcall(f, data() + 1, n_ | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }

private:
    static constexpr std::size_t kInline = 9;
    PyObject** data() noexcept { return heap_.empty() ? inline_ : heap_.data(); }
    std::size_t n_;
    PyObject* inline_[kInline] = {};
    std::vector<PyObject*> heap_;
};

// ---- cross-file entry points -------------------------------------------------------

// A new curry around func with its bound arguments (a tuple and a dict the
// new instance owns alone); its signature is computed on first call.
Result<Ref> make_curry(const ModuleState& module, Ref func, Ref args, Ref kwargs);

// A new builtin `identity` function object bound to `module`.
Result<Ref> make_identity(PyObject* module);

}  // namespace quibra
