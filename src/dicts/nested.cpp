// Access and non-destructive update of mappings, flat and along a path:
// get_in, assoc, dissoc, assoc_in, update_in.
#include "dicts/conventions.hpp"

#include "utils/binding.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

#include <vector>

namespace quibra::dicts {

namespace {

// ---- get_in -----------------------------------------------------------------

// cur = cur[key]. Returns 1 when found, 0 when the lookup failed in a way
// the default covers (only if defaults are allowed), -1 with the error set:
// the raw convention, for speed, local to this file.
// Plain dicts are probed directly and the hot path builds no error objects,
// so a walk through plain dicts costs one hash-table probe per key.
int walk_step(Ref& cur, PyObject* key, bool no_default) {
    PyObject* found;
    if (PyDict_CheckExact(cur.get())) {
        int rc = PyDict_GetItemRef(cur.get(), key, &found);
        if (rc > 0) {
            cur = Ref::steal(found);
            return 1;
        }
        if (rc == 0) {
            if (!no_default) return 0;
            // The KeyError an exact dict's subscript raises.
            if (PyObject* exc = PyObject_CallOneArg(PyExc_KeyError, key)) PyErr_SetRaisedException(exc);
            return -1;
        }
    } else if ((found = PyObject_GetItem(cur.get(), key))) {
        cur = Ref::steal(found);
        return 1;
    }
    if (no_default || !lookup_error_pending()) return -1;
    PyErr_Clear();
    return 0;
}

// The value at the end of the path; `dflt` (nullptr: None) when a lookup
// fails in a way the default covers.
Result<Ref> get_in(PyObject* keys, PyObject* coll, PyObject* dflt, bool no_default) {
    Ref cur = Ref::borrow(coll);
    int rc = 1;
    if (PyList_CheckExact(keys) || PyTuple_CheckExact(keys)) {
        // Read by index, the length re-read each step as a list iterator does.
        for (Py_ssize_t i = 0; rc > 0 && i < PySequence_Fast_GET_SIZE(keys); ++i) {
            Ref key = Ref::borrow(PySequence_Fast_GET_ITEM(keys, i));
            rc = walk_step(cur, key.get(), no_default);
        }
    } else {
        QB_TRY(Ref it, get_iter(keys));
        SignalCheck signals;
        while (rc > 0) {
            QB_CHECK(signals.status());
            QB_TRY(Ref key, next_item(it.get()));
            if (!key) break;
            rc = walk_step(cur, key.get(), no_default);
        }
    }
    if (rc < 0) return Error::fetch();
    if (rc == 0) return dflt ? Ref::borrow(dflt) : none_ref();
    return cur;
}

Result<Ref> get_in_body(Args<"keys, coll, default=None, no_default=False">& a) {
    QB_TRY(bool no_default, a.to_strict_bool<"no_default">());
    return get_in(a.get<"keys">(), a.get<"coll">(), a.get<"default">(), no_default);
}

// ---- assoc, dissoc ----------------------------------------------------------

Result<Ref> assoc_body(Args<"d, key, value, factory=None">& a) {
    QB_TRY(Ref result, make_container(a.get<"factory">()));
    QB_CHECK(copy_items(a.state(), a.get<"d">(), result.get()));
    QB_CHECK(store(result.get(), a.get<"key">(), a.get<"value">()));
    return result;
}

Status discard(PyObject* result, PyObject* key) {
    bool exact = PyDict_CheckExact(result);
    int present = exact ? PyDict_Contains(result, key) : PySequence_Contains(result, key);
    if (present <= 0) return checked_status(present);
    return checked_status(exact ? PyDict_DelItem(result, key) : PyObject_DelItem(result, key));
}

Result<Ref> dissoc_body(Args<"d, *keys, factory=None">& a) {
    QB_TRY(Ref result, make_container(a.get<"factory">()));
    QB_CHECK(copy_items(a.state(), a.get<"d">(), result.get()));
    for (PyObject* key : a.rest()) QB_CHECK(discard(result.get(), key));
    return result;
}

// ---- assoc_in, update_in ----------------------------------------------------

// What goes at the end of the path: `value` for assoc_in, `func(old)` (or
// `func(default)` when the path is missing) for update_in.
struct Leaf {
    PyObject* value = nullptr;
    PyObject* func = nullptr;
    PyObject* fallback = nullptr;

    Result<Ref> make(PyObject* old) const {
        if (!func) return Ref::borrow(value);
        return call(func, old ? old : (fallback ? fallback : Py_None));
    }
};

// m[key] where only a KeyError means "missing" (an empty Ref). A dict of
// any class is probed without its __missing__, which would otherwise write
// into the input (a defaultdict inserts its default).
Result<Ref> child_of(PyObject* m, PyObject* key) {
    if (PyDict_Check(m)) {
        PyObject* found;
        if (PyDict_GetItemRef(m, key, &found) < 0) return Error::fetch();
        return Ref::steal(found);
    }
    if (PyObject* found = PyObject_GetItem(m, key)) return Ref::steal(found);
    Error e = Error::fetch();
    if (e.matches(PyExc_KeyError)) return Ref();
    return e;
}

// One level's new container holding the items of m, plus m's child at key
// (empty when missing). m may be empty: a fresh empty dict.
Result<Ref> copy_level(ModuleState& module, PyObject* m, PyObject* key, PyObject* factory, Ref& child) {
    child = Ref();
    if (m && !factory && PyDict_CheckExact(m)) {
        // A new dict filled from a plain dict is that dict's copy.
        QB_TRY(Ref result, checked(PyDict_Copy(m)));
        QB_TRY(child, child_of(m, key));
        return result;
    }
    QB_TRY(Ref result, make_container(factory));
    if (!m) return result;
    QB_TRY(bool mapping, has_keys(module, m));
    if (!mapping) return result;
    QB_CHECK(copy_items(module, m, result.get()));
    QB_TRY(child, child_of(m, key));
    return result;
}

// Rebuilds every level along the path, top down, then assigns bottom up.
// Iterative, so a long path cannot exhaust the native stack; the order of the
// calls into Python is that of the natural recursion.
Result<Ref> rebuild_path(ModuleState& module, PyObject* d, PyObject* keys, PyObject* factory, const Leaf& leaf) {
    QB_TRY(Ref path, read_all(keys));  // a tuple: the keys stay put while Python code runs
    Py_ssize_t n = PyTuple_GET_SIZE(path.get());
    if (n == 0) return Error::stop_iteration();
    PyObject** key = &PyTuple_GET_ITEM(path.get(), 0);

    std::vector<Ref> levels;
    levels.reserve(static_cast<std::size_t>(n));
    Ref m = Ref::borrow(d);  // the input level; empty: a fresh empty dict
    Ref child;
    for (Py_ssize_t i = 0;; ++i) {
        QB_TRY(Ref result, copy_level(module, m.get(), key[i], factory, child));
        levels.push_back(std::move(result));
        if (i + 1 == n) break;
        if (child) {
            m = std::move(child);
        } else if (factory) {
            // A missing level starts from a container of the factory's own.
            QB_TRY(m, call(factory));
        } else {
            m = Ref();
        }
    }
    QB_TRY(Ref value, leaf.make(child.get()));
    for (Py_ssize_t i = n - 1; i >= 0; --i) {
        Ref& level = levels[static_cast<std::size_t>(i)];
        QB_CHECK(store(level.get(), key[i], value.get()));
        value = std::move(level);
    }
    return value;
}

Result<Ref> assoc_in_body(Args<"d, keys, value, factory=None">& a) {
    Leaf leaf;
    leaf.value = a.get<"value">();
    return rebuild_path(a.state(), a.get<"d">(), a.get<"keys">(), a.get<"factory">(), leaf);
}

Result<Ref> update_in_body(Args<"d, keys, func, default=None, factory=None">& a) {
    Leaf leaf;
    leaf.func = a.get<"func">();
    leaf.fallback = a.get<"default">();
    return rebuild_path(a.state(), a.get<"d">(), a.get<"keys">(), a.get<"factory">(), leaf);
}

PyMethodDef functions[] = {
    QB_FUNCTION("assoc", assoc_body),
    QB_FUNCTION("dissoc", dissoc_body),
    QB_FUNCTION("assoc_in", assoc_in_body),
    QB_FUNCTION("update_in", update_in_body),
    QB_FUNCTION("get_in", get_in_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra::dicts
