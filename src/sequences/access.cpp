// Element access and counting: first, second, nth, last, get, peek, count.
// Each consumes only as much of its argument as it needs.
#include "sequences/access.hpp"

#include "utils/binding.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"

#include <climits>
#include <cstdint>
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
    QB_TRY(PyObject * sequence, sequence_abc.get());
    int is_seq = PyObject_IsInstance(seq, sequence);
    if (is_seq < 0) return Error::fetch();
    if (is_seq) return get_item(seq, n);

    long long count = PyLong_AsLongLong(n);
    if (count == -1 && PyErr_Occurred()) PyErr_Clear(), count = -1;
    if (count < 0) return Error::value_error("Indices for islice() must be None or an integer: 0 <= x <= sys.maxsize.");
    QB_TRY(Ref it, get_iter(seq));
    for (long long i = 0; i < count; ++i) {
        QB_TRY(Ref skipped, fetch_required(it.get()));
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
    if (dflt && (e.matches(PyExc_KeyError) || e.matches(PyExc_IndexError) || e.matches(PyExc_TypeError)))
        return Ref::borrow(dflt);
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
    QB_TRY(Ref it, get_iter(a.get<"seq">()));
    Ref first = Ref::steal(PyIter_Next(it.get()));
    if (!first) {
        if (PyErr_Occurred()) return Error::fetch();
        return Error::stop_iteration();
    }
    QB_TRY(Ref chained, chain_with_first(first.get(), it.get()));
    QB_TRY(Ref out, new_tuple(2));
    PyTuple_SET_ITEM(out.get(), 0, first.release());
    PyTuple_SET_ITEM(out.get(), 1, chained.release());
    return out;
}

Result<Ref> count_body(Args<"seq">& a) {
    QB_TRY(unsigned long long n, count_of(a.get<"seq">()));
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

Result<Ref> tail_of(unsigned long long n, PyObject* seq) {
    long long m = n > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(n);
    // seq[-m:] of an exact list or tuple, without the slice object (an
    // exact tuple gives itself back for m = 0, as its slicing does).
    if (PyList_CheckExact(seq) || PyTuple_CheckExact(seq)) {
        Py_ssize_t len = Py_SIZE(seq);
        Py_ssize_t start = m == 0 || m >= len ? 0 : len - static_cast<Py_ssize_t>(m);
        return checked(PyList_CheckExact(seq) ? PyList_GetSlice(seq, start, len) : PyTuple_GetSlice(seq, start, len));
    }
    QB_TRY(Ref start, checked(PyLong_FromLongLong(-m)));
    QB_TRY(Ref slice, checked(PySlice_New(start.get(), Py_None, nullptr)));
    PyObject* r = PyObject_GetItem(seq, slice.get());
    if (r) return Ref::steal(r);
    Error e = Error::fetch();
    if (!e.matches(PyExc_TypeError) && !e.matches(PyExc_KeyError)) return e;
    // Not sliceable: keep the last n elements while iterating.
    QB_TRY(Ref it, get_iter(seq));
    return last_n_of_iterator(it.get(), static_cast<unsigned long long>(m));
}

Result<Ref> last_n_of_iterator(PyObject* it, unsigned long long n) {
    // n == 0 keeps everything, as seq[-0:] == seq[0:] does on the slicing path.
    std::vector<Ref> ring;
    std::size_t cap = n == 0 || n > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(n);
    std::size_t next = 0;
    for (;;) {
        QB_TRY(Ref item, next_item(it));
        if (!item) break;
        if (ring.size() < cap) {
            ring.push_back(std::move(item));
            continue;
        }
        ring[next].reset();  // the oldest goes before the newest arrives
        ring[next] = std::move(item);
        next = (next + 1) % cap;
    }
    std::size_t size = ring.size();
    QB_TRY(Ref out, new_tuple(static_cast<Py_ssize_t>(size)));
    std::size_t start = size < cap ? 0 : next;
    for (std::size_t i = 0; i < size; ++i)
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), ring[(start + i) % size].release());
    return out;
}

Result<Ref> chain_with_first(PyObject* first, PyObject* it) {
    QB_TRY(Ref chain, import_attr("itertools", "chain"));
    QB_TRY(Ref head, new_tuple(1));
    PyTuple_SET_ITEM(head.get(), 0, Py_NewRef(first));
    return call(chain.get(), head.get(), it);
}

namespace {

InternedName len_name("__len__");

// Elements left in an iterator, each fetched through the iterator's own slot
// (read again per step: a class may replace __next__ while it runs) and
// dropped at once. A StopIteration left set by a Python-level __next__ is
// the end, as for PyIter_NextItem.
Result<unsigned long long> count_remaining(PyObject* it) {
    unsigned long long n = 0;
    for (;;) {
        Ref item = Ref::steal((*Py_TYPE(it)->tp_iternext)(it));
        if (!item) break;
        ++n;
    }
    if (PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return Error::fetch();
        PyErr_Clear();
    }
    return n;
}

}  // namespace

Result<unsigned long long> count_of(PyObject* seq) {
    QB_TRY(PyObject * name, len_name.get());
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
