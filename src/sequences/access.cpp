// Element access and counting: first, second, nth, last, get, peek, count.
// Each consumes only as much of its argument as it needs.
#include "sequences/access.hpp"

#include "sequences/slicing.hpp"
#include "utils/binding.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

#include <vector>

namespace quibra {

namespace {

CachedAttr sequence_abc("collections.abc", "Sequence");

// One fetch that must deliver an element: the end is StopIteration().
Result<Ref> fetch_required(PyObject* it) {
    QB_TRY(Ref item, next_item(it));
    if (!item) return Error::stop_iteration();
    return item;
}

Result<Ref> first_body(Args<"seq">& a) {
    QB_TRY(Ref it, get_iter(a.get<"seq">()));
    return fetch_required(it.get());
}

Result<Ref> second_body(Args<"seq">& a) {
    QB_TRY(Ref it, get_iter(a.get<"seq">()));
    QB_TRY(Ref skipped, fetch_required(it.get()));
    return fetch_required(it.get());
}

Result<Ref> nth_body(Args<"n, seq">& a) {
    PyObject* n = a.get<"n">();
    PyObject* seq = a.get<"seq">();
    if (PyList_Check(seq) || PyTuple_Check(seq)) return get_item(seq, n);
    QB_TRY(PyObject * sequence, sequence_abc.get(a.state()));
    int is_seq = PyObject_IsInstance(seq, sequence);
    if (is_seq < 0) return Error::fetch();
    if (is_seq) return get_item(seq, n);

    long long count = PyLong_AsLongLong(n);
    if (count == -1 && PyErr_Occurred()) PyErr_Clear(), count = -1;
    if (count < 0) return Error::value_error("Indices for islice() must be None or an integer: 0 <= x <= sys.maxsize.");
    QB_TRY(Ref it, get_iter(seq));
    SignalCheck signals;
    for (long long i = 0; i < count; ++i) {
        QB_TRY(Ref skipped, fetch_required(it.get()));
        skipped.reset();
        QB_CHECK(signals.status());
    }
    return fetch_required(it.get());
}

Result<Ref> last_body(Args<"seq">& a) {
    QB_TRY(Ref t, tail_of(1, a.get<"seq">()));
    QB_TRY(Ref zero, checked(PyLong_FromLong(0)));
    return get_item(t.get(), zero.get());
}

// coll[i], or the default for a KeyError, IndexError or TypeError.
Result<Ref> lookup(PyObject* coll, PyObject* i, PyObject* dflt) {
    PyObject* r = PyObject_GetItem(coll, i);
    if (r) return Ref::steal(r);
    Error e = Error::fetch();
    if (dflt && e.is_lookup_error()) return Ref::borrow(dflt);
    return e;
}

Result<Ref> get_body(Args<"ind, coll, *rest">& a) {
    QB_TRY(PyObject * dflt, a.optional_rest("get", 3));
    PyObject* ind = a.get<"ind">();
    PyObject* coll = a.get<"coll">();
    if (!PyList_Check(ind)) return lookup(coll, ind, dflt);
    // Never past the length the walk began with; stop early if it shrinks.
    Py_ssize_t n = PyList_GET_SIZE(ind);
    std::vector<Ref> found;
    found.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(ind); ++i) {
        Ref key = Ref::borrow(PyList_GET_ITEM(ind, i));
        QB_TRY(Ref value, lookup(coll, key.get(), dflt));
        found.push_back(std::move(value));
    }
    QB_TRY(Ref out, new_tuple(static_cast<Py_ssize_t>(found.size())));
    for (std::size_t i = 0; i < found.size(); ++i)
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), found[i].release());
    return out;
}

Result<Ref> peek_body(Args<"seq">& a) {
    QB_TRY(Ref pair, peek_of(a.get<"seq">()));
    if (!pair) return Error::stop_iteration();
    return pair;
}

Result<Ref> count_body(Args<"seq">& a) {
    QB_TRY(unsigned long long n, count_of(a.state(), a.get<"seq">()));
    return checked(PyLong_FromUnsignedLongLong(n));
}

PyMethodDef functions[] = {
    QB_FUNCTION("count", count_body),
    QB_FUNCTION("first", first_body),
    QB_FUNCTION("second", second_body),
    QB_FUNCTION("last", last_body),
    QB_FUNCTION("nth", nth_body),
    QB_FUNCTION("get", get_body),
    QB_FUNCTION("peek", peek_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

Result<Ref> peek_of(PyObject* seq) {
    QB_TRY(Ref it, get_iter(seq));
    QB_TRY(Ref first, next_item(it.get()));
    if (!first) return Ref();
    QB_TRY(Ref chain, import_attr("itertools", "chain"));
    QB_TRY(Ref head, new_tuple(1));
    PyTuple_SET_ITEM(head.get(), 0, Py_NewRef(first.get()));
    QB_TRY(Ref chained, call(chain.get(), head.get(), it.get()));
    QB_TRY(Ref pair, new_tuple(2));
    PyTuple_SET_ITEM(pair.get(), 0, first.release());
    PyTuple_SET_ITEM(pair.get(), 1, chained.release());
    return pair;
}

namespace {

InternedName len_name("__len__");

// Elements left in an iterator, each fetched and dropped at once.
Result<unsigned long long> count_remaining(PyObject* it) {
    unsigned long long n = 0;
    SignalCheck signals;
    while (Ref item = Ref::steal(iter_next(it))) {
        ++n;
        item.reset();
        if (!signals.tick()) return Error::fetch();
    }
    if (PyErr_Occurred()) return Error::fetch();
    return n;
}

}  // namespace

Result<unsigned long long> count_of(ModuleState& module, PyObject* seq) {
    QB_TRY(PyObject * name, len_name.get(module));
    int has_len = PyObject_HasAttrWithError(seq, name);
    if (has_len < 0) return Error::fetch();
    if (has_len) {
        Py_ssize_t n = PyObject_Size(seq);
        if (n < 0) return Error::fetch();
        return static_cast<unsigned long long>(n);
    }
    QB_TRY(Ref it, get_iter(seq));
    return count_remaining(it.get());
}

}  // namespace quibra
