// Small wrappers over the C API that turn its conventions into Results, and
// the few C-API facts every subsystem shares (the next item of an iterator,
// what counts as a failed lookup).
#pragma once

#include "utils/error.hpp"

#include <string>

namespace quibra {

// A new reference from the C API, or the pending error it set.
inline Result<Ref> checked(PyObject* p) {
    if (p) return Ref::steal(p);
    return Error::fetch();
}
inline Status checked_status(int rc) {
    if (rc < 0) return Error::fetch();
    return success();
}

// A basic object (string, tuple, list, dict) the runtime itself needs: a
// failure to make one is an internal fault, written as unraisable first.
Result<Ref> basic_object(PyObject* p, const char* what);
Result<Ref> new_tuple(Py_ssize_t n);
Result<Ref> new_list(Py_ssize_t n);
// `expected`: how many entries the dict will hold, to grow it once instead
// of step by step (the interpreter caps what it sizes ahead).
Result<Ref> new_dict(Py_ssize_t expected = 0);

// Takes a freshly filled tuple out of the collector's care when none of its
// items can ever be part of a cycle, as the interpreter does for the tuples
// it builds itself: a stream of result tuples of numbers and strings then
// costs the collector nothing.
inline void untrack_if_atomic(PyObject* tuple) noexcept {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(tuple); ++i) {
        PyObject* x = PyTuple_GET_ITEM(tuple, i);
        if (PyObject_IS_GC(x) && (!PyTuple_CheckExact(x) || PyObject_GC_IsTracked(x))) return;
    }
    PyObject_GC_UnTrack(tuple);
}

inline Result<Ref> get_iter(PyObject* o) { return checked(PyObject_GetIter(o)); }
inline Result<Ref> get_item(PyObject* o, PyObject* key) { return checked(PyObject_GetItem(o, key)); }
inline Result<bool> is_true(PyObject* o) {
    int r = PyObject_IsTrue(o);
    if (r < 0) return Error::fetch();
    return r == 1;
}

// The next item of an iterator, in the C API's raw convention for the
// per-element loops: a new reference, or nullptr at the end (no exception
// set) or on error. The slot is read at every call (a class may replace its
// __next__ while it runs), and a StopIteration raised by a Python-level
// __next__ is the end, as for PyIter_NextItem.
inline PyObject* iter_next(PyObject* it) noexcept {
    iternextfunc next = Py_TYPE(it)->tp_iternext;
    if (!next) [[unlikely]] {
        PyObject* item;  // no longer an iterator: PyIter_NextItem raises the TypeError
        return PyIter_NextItem(it, &item) < 0 ? nullptr : item;
    }
    PyObject* item = next(it);
    if (!item && PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_StopIteration)) PyErr_Clear();
    return item;
}

// The same as a Result: the item, an empty Ref at the end, or the error.
inline Result<Ref> next_item(PyObject* it) {
    if (PyObject* item = iter_next(it)) return Ref::steal(item);
    if (PyErr_Occurred()) return Error::fetch();
    return Ref();
}

// Calls through vectorcall with positional arguments only.
template <class... A>
Result<Ref> call(PyObject* f, A... args) {
    if constexpr (sizeof...(A) == 0) {
        return checked(PyObject_CallNoArgs(f));
    } else {
        PyObject* argv[] = {nullptr, args...};
        return checked(PyObject_Vectorcall(f, argv + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }
}

// f(arg) in the raw convention, for per-element calls. A builtin function
// taking exactly one object is entered directly, as the interpreter's own
// specialised call does, which spares the generic dispatch; that skips the
// stack check the dispatch would make, so a caller that can nest takes the
// recursion check itself. str(x) is x's PyObject_Str, or an exact int's
// repr. Everything else goes through vectorcall.
inline PyObject* call_one_raw(PyObject* f, PyObject* arg) noexcept {
    constexpr int kConvention = METH_VARARGS | METH_KEYWORDS | METH_NOARGS | METH_O | METH_FASTCALL | METH_METHOD;
    if (PyCFunction_CheckExact(f) && (PyCFunction_GET_FLAGS(f) & kConvention) == METH_O)
        return PyCFunction_GET_FUNCTION(f)(PyCFunction_GET_SELF(f), arg);
    if (f == reinterpret_cast<PyObject*>(&PyUnicode_Type)) {
        // An exact int's str is its repr, which cannot call back into Python.
        if (PyLong_CheckExact(arg)) return PyLong_Type.tp_repr(arg);
        return PyObject_Str(arg);  // what str(x) does
    }
    PyObject* argv[] = {nullptr, arg};
    return PyObject_Vectorcall(f, argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

// Whether f is the builtin function `name` of the interpreter's `_operator`
// module (operator.add, operator.truth, ...), which a caller may run as the
// number or object protocol call it wraps, with the same result and the
// same calls into user code.
bool is_operator_builtin(PyObject* f, const char* name) noexcept;

// The failures a default stands in for (get, pluck, the option accessors,
// get_in): KeyError, IndexError and TypeError.
inline bool is_lookup_error(PyObject* exc_or_type) noexcept {
    return PyErr_GivenExceptionMatches(exc_or_type, PyExc_KeyError) ||
           PyErr_GivenExceptionMatches(exc_or_type, PyExc_IndexError) ||
           PyErr_GivenExceptionMatches(exc_or_type, PyExc_TypeError);
}
// The same test of the exception being raised now (raw convention).
inline bool lookup_error_pending() noexcept {
    PyObject* exc = PyErr_Occurred();
    return exc && is_lookup_error(exc);
}

// "'T' object is not an instance of 'Expected'" (None has its own wording).
Error type_check_error(PyObject* obj, const char* expected);
// The __qualname__ of obj's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* obj);
// str(obj) for a message; a failure is written as unraisable and replaced by
// "<unprintable T object>".
std::string display_str(PyObject* obj);

// Imports module and returns its attribute (the interpreter's module cache
// makes repeated imports cheap).
Result<Ref> import_attr(const char* module, const char* attr);

}  // namespace quibra
