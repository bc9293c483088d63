// What every dictionary function shares: how the result container is made and
// filled, how a mapping's entries are read, and how `*dicts` is understood.
//
// Exact dicts are read and written through the dict API directly. That is
// indistinguishable from the generic protocol: an exact dict's `items`,
// `__getitem__` and `__setitem__` cannot be overridden.
#pragma once

#include "utils/capi.hpp"
#include "utils/state.hpp"
#include "utils/signals.hpp"

namespace quibra::dicts {

// The result container: `factory()` when a factory is given (nullptr means
// none), else a new dict with room for `expected` entries.
Result<Ref> make_container(PyObject* factory, Py_ssize_t expected = 0);

// result[key] = value, through the dict API when the result is an exact dict.
inline Status store(PyObject* result, PyObject* key, PyObject* value) {
    int rc = PyDict_CheckExact(result) ? PyDict_SetItem(result, key, value) : PyObject_SetItem(result, key, value);
    return checked_status(rc);
}

// Whether `o` has an attribute named "keys" (an error from the test propagates).
Result<bool> has_keys(ModuleState& module, PyObject* o);

// `m.items()`, called by name.
Result<Ref> call_items(ModuleState& module, PyObject* m);

// The key and value of one element of an `items()` iteration: it must be a
// tuple (the "not an instance of 'tuple'" TypeError otherwise) with at least
// two elements (the tuple's IndexError otherwise). Both are borrowed from it.
Status split_item(PyObject* item, PyObject*& key, PyObject*& value);

// The RuntimeError of a mapping changed under a walk.
Error changed_during_walk(const char* text);

// The same walk a dict's own items iterator makes, as the iterator reports a
// dict that changes under it.
class ExactDictWalk {
public:
    explicit ExactDictWalk(PyObject* d) noexcept : d_(d), used_(PyDict_GET_SIZE(d)), left_(used_) {}
    // Next entry (new references), false at the end. Inline: it runs once
    // per entry of every mapping walk.
    Result<bool> next(Ref& key, Ref& value) {
        if (PyDict_GET_SIZE(d_) != used_) [[unlikely]]
            return changed_during_walk("dictionary changed size during iteration");
        PyObject *k, *v;
        if (!PyDict_Next(d_, &pos_, &k, &v)) return false;
        // Same size but more entries than it started with: keys were swapped.
        if (left_ == 0) [[unlikely]]
            return changed_during_walk("dictionary keys changed during iteration");
        --left_;
        key = Ref::borrow(k);
        value = Ref::borrow(v);
        return true;
    }

private:
    PyObject* d_;
    Py_ssize_t pos_ = 0;
    Py_ssize_t used_;
    Py_ssize_t left_;
};

// Calls f(key, value) -> Status for each entry of m.items(), in order. Both
// arguments stay alive across the call even if f mutates m.
template <class F>
Status for_each_item(ModuleState& module, PyObject* m, F&& f) {
    if (PyDict_CheckExact(m)) {
        ExactDictWalk walk(m);
        Ref key, value;
        for (;;) {
            QB_TRY(bool more, walk.next(key, value));
            if (!more) return success();
            QB_CHECK(f(key.get(), value.get()));
        }
    }
    QB_TRY(Ref items, call_items(module, m));
    QB_TRY(Ref it, get_iter(items.get()));
    SignalCheck signals;  // items() may deliver without end
    for (;;) {
        QB_CHECK(signals.status());
        QB_TRY(Ref item, next_item(it.get()));
        if (!item) return success();
        PyObject *key, *value;
        QB_CHECK(split_item(item.get(), key, value));
        QB_CHECK(f(key, value));
    }
}

// Copies the entries of m into result, in m's order, by item assignment.
Status copy_items(ModuleState& module, PyObject* m, PyObject* result);

// The items of an iterable read to the end, as a tuple (an exact tuple is
// taken as it is). Callers walk its items while Python code runs: a list of
// our own could still be reached (gc.get_referrers) and emptied under them,
// a tuple cannot change.
Result<Ref> read_all(PyObject* iterable);

// The mappings named by a `*dicts` tuple, as a tuple: a lone argument
// without "keys" is itself the collection of mappings (read to the end now).
Result<Ref> mapping_list(ModuleState& module, PyObject* rest);

}  // namespace quibra::dicts
