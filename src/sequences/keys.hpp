// Item lookups shared by pluck and the key rule of the grouping, ordering
// and join functions: a callable key is called with the element, a list of
// indices gives a tuple of x[i], anything else gives x[key].
#pragma once

#include "utils/capi.hpp"

#include <vector>

namespace quibra {

// The per-element lookups below follow the C API's convention (a new
// reference, or nullptr with the exception set): they run once per element
// on the grouping and pluck loops.

// An exact int index that fits a machine word, for reading exact tuples and
// lists by position (what their own __getitem__ would do, without the
// call); kNoPosition otherwise.
inline constexpr Py_ssize_t kNoPosition = PY_SSIZE_T_MIN;

inline Py_ssize_t position_of(PyObject* ind) noexcept {
    if (!PyLong_CheckExact(ind)) return kNoPosition;
    Py_ssize_t i = PyLong_AsSsize_t(ind);
    if (i == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return kNoPosition;
    }
    return i;
}

// x[i] for an exact tuple or list with i in range, else nullptr without an
// exception (the caller then goes through PyObject_GetItem, which also
// raises the IndexError).
inline PyObject* item_by_position(PyObject* x, Py_ssize_t i) noexcept {
    if (i == kNoPosition) return nullptr;
    if (PyTuple_CheckExact(x)) {
        Py_ssize_t n = PyTuple_GET_SIZE(x);
        if (i < 0) i += n;
        return i >= 0 && i < n ? Py_NewRef(PyTuple_GET_ITEM(x, i)) : nullptr;
    }
    if (PyList_CheckExact(x)) {
        Py_ssize_t n = PyList_GET_SIZE(x);
        if (i < 0) i += n;
        return i >= 0 && i < n ? Py_NewRef(PyList_GET_ITEM(x, i)) : nullptr;
    }
    return nullptr;
}

// x[ind], where `position` is position_of(ind).
inline PyObject* item_raw(PyObject* x, PyObject* ind, Py_ssize_t position) noexcept {
    PyObject* r = item_by_position(x, position);
    return r ? r : PyObject_GetItem(x, ind);
}

// A tuple of lookup(i) for the items i of the list `indices`, in order. The
// list is read by position, never past the length it had when the walk
// began, and the walk stops early if a lookup shortened it. `buf` is the
// caller's scratch space, reused so that only the tuple is allocated.
template <class Lookup>
Result<Ref> tuple_of_lookups(PyObject* indices, std::vector<Ref>& buf, Lookup&& lookup) {
    Py_ssize_t n = PyList_GET_SIZE(indices);
    buf.clear();
    QB_CHECK(reserve(buf, static_cast<std::size_t>(n)));
    for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(indices); ++i) {
        Ref index = Ref::borrow(PyList_GET_ITEM(indices, i));
        Result<Ref> r = lookup(index.get());
        if (!r) {
            buf.clear();
            return std::move(r).error();
        }
        buf.push_back(std::move(r).value());  // capacity reserved
    }
    Result<Ref> t = checked(PyTuple_New(static_cast<Py_ssize_t>(buf.size())));
    if (t) {
        Py_ssize_t k = 0;
        for (Ref& r : buf) PyTuple_SET_ITEM(t->get(), k++, r.release());
        untrack_if_atomic(t->get());
    }
    buf.clear();
    return t;
}

// The key of an element under a `key` argument. The form is decided when
// the rule is made (Once) or again for every element (Each: the functions
// that apply the whole rule per element). The rule borrows `key`; the
// caller keeps it alive.
class KeyRule {
public:
    enum class When : unsigned char { Once, Each };

    KeyRule(PyObject* key, When when) noexcept
        : key_(key), position_(position_of(key)), form_(form_of(key)), each_(when == When::Each) {}

    // key(x), a tuple of x[i], or x[key]: a new reference, or nullptr with
    // the exception set.
    PyObject* apply_raw(PyObject* x) {
        Form form = each_ ? form_of(key_) : form_;
        if (form == Form::Call) {
            PyObject* argv[] = {nullptr, x};
            return PyObject_Vectorcall(key_, argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
        }
        if (form == Form::Item) return item_raw(x, key_, position_);
        Result<Ref> t = tuple_of_lookups(key_, buf_, [x](PyObject* i) -> Result<Ref> {
            return checked(item_raw(x, i, position_of(i)));
        });
        if (t) return std::move(t).value().release();
        std::move(t).error().raise();
        return nullptr;
    }

    Result<Ref> apply(PyObject* x) {
        PyObject* k = apply_raw(x);
        if (!k) return Error::fetch_ffi();
        return Ref::steal(k);
    }

private:
    enum class Form : unsigned char { Call, Items, Item };

    static Form form_of(PyObject* key) noexcept {
        if (PyCallable_Check(key)) return Form::Call;
        if (PyList_Check(key)) return Form::Items;
        return Form::Item;
    }

    PyObject* key_;
    Py_ssize_t position_;
    Form form_;
    bool each_;
    std::vector<Ref> buf_;  // scratch for the tuple form
};

}  // namespace quibra
