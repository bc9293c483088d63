// Lazy functions that hand the work to the interpreter's own iterators, so
// the result is exactly the islice / chain object those produce: take, drop,
// take_nth, cons, concat, concatv, mapcat. Also tail, the eager counterpart
// of drop that slices when it can (last is tail_of(1, seq)[0]).
#include "sequences/slicing.hpp"

#include "utils/binding.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

#include <climits>
#include <cstdint>
#include <vector>

namespace quibra {

namespace {

// Kept once looked up; a failed lookup leaves the cell empty so the next
// call retries it.
CachedAttr islice_attr("itertools", "islice");
CachedAttr chain_attr("itertools", "chain");
CachedAttr map_attr("builtins", "map");
StateCell from_iterable_cell;

Result<PyObject*> from_iterable(ModuleState& module) {
    return from_iterable_cell.get(module, [&module]() -> Result<Ref> {
        QB_TRY(PyObject * chain, chain_attr.get(module));
        return checked(PyObject_GetAttrString(chain, "from_iterable"));
    });
}

// chain.from_iterable(seqs): the inner sequences are opened only when
// iteration reaches them.
Result<Ref> concat_iter(ModuleState& module, PyObject* seqs) {
    QB_TRY(PyObject * fi, from_iterable(module));
    return call(fi, seqs);
}

Result<Ref> take_body(Args<"n, seq">& a) { return take_iter(a.state(), a.get<"n">(), a.get<"seq">()); }
Result<Ref> drop_body(Args<"n, seq">& a) { return drop_iter(a.state(), a.get<"n">(), a.get<"seq">()); }

Result<Ref> take_nth_body(Args<"n, seq">& a) {
    QB_TRY(PyObject * islice, islice_attr.get(a.state()));
    QB_TRY(Ref zero, checked(PyLong_FromLong(0)));
    return call(islice, a.get<"seq">(), zero.get(), Py_None, a.get<"n">());
}

Result<Ref> cons_body(Args<"el, seq">& a) {
    QB_TRY(PyObject * chain, chain_attr.get(a.state()));
    QB_TRY(Ref head, new_tuple(1));
    PyTuple_SET_ITEM(head.get(), 0, Py_NewRef(a.get<"el">()));
    return call(chain, head.get(), a.get<"seq">());
}

Result<Ref> concat_body(Args<"seqs">& a) { return concat_iter(a.state(), a.get<"seqs">()); }
Result<Ref> concatv_body(Args<"*seqs">& a) {
    QB_TRY(Ref seqs, a.rest_tuple());
    return concat_iter(a.state(), seqs.get());
}
Result<Ref> mapcat_body(Args<"func, seqs">& a) { return flat_map_iter(a.state(), a.get<"func">(), a.get<"seqs">()); }

// The last n elements of an iterator (all of them for n == 0), as a tuple.
// The ring holds the newest elements; once it is full each new one takes
// the place of the oldest, which goes before the newest arrives.
Result<Ref> last_n_of_iterator(PyObject* it, unsigned long long n) {
    // n == 0 keeps everything, as seq[-0:] == seq[0:] does on the slicing path.
    std::vector<Ref> ring;
    std::size_t cap = n == 0 || n > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(n);
    SignalCheck signals;
    while (ring.size() < cap) {
        PyObject* item = iter_next(it);
        if (!item) break;
        ring.push_back(Ref::steal(item));
        if (!signals.tick()) return Error::fetch();
    }
    std::size_t next = 0;
    if (ring.size() == cap) {
        for (;;) {
            PyObject* item = iter_next(it);
            if (!item) break;
            ring[next].reset();
            ring[next] = Ref::steal(item);
            next = next + 1 == cap ? 0 : next + 1;
            if (!signals.tick()) return Error::fetch();
        }
    }
    if (PyErr_Occurred()) return Error::fetch();
    std::size_t size = ring.size();
    QB_TRY(Ref out, new_tuple(static_cast<Py_ssize_t>(size)));
    for (std::size_t i = 0; i < size; ++i)
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), ring[(next + i) % size].release());
    return out;
}

// seq[-n:] when seq slices; otherwise the last n elements of iter(seq) as a
// tuple. n = 0 keeps everything on both paths, as seq[-0:] == seq[0:] does.
Result<Ref> tail_body(Args<"n, seq">& a) {
    QB_TRY(unsigned long long n, a.to_u64<"n">());
    return tail_of(n, a.get<"seq">());
}

PyMethodDef functions[] = {
    QB_FUNCTION("take", take_body),
    QB_FUNCTION("drop", drop_body),
    QB_FUNCTION("take_nth", take_nth_body),
    QB_FUNCTION("tail", tail_body),
    QB_FUNCTION("cons", cons_body),
    QB_FUNCTION("concat", concat_body),
    QB_FUNCTION("concatv", concatv_body),
    QB_FUNCTION("mapcat", mapcat_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

Result<Ref> take_iter(ModuleState& module, PyObject* n, PyObject* seq) {
    QB_TRY(PyObject * islice, islice_attr.get(module));
    return call(islice, seq, n);
}

Result<Ref> drop_iter(ModuleState& module, PyObject* n, PyObject* seq) {
    QB_TRY(PyObject * islice, islice_attr.get(module));
    return call(islice, seq, n, Py_None);
}

Result<Ref> flat_map_iter(ModuleState& module, PyObject* f, PyObject* seq) {
    QB_TRY(PyObject * map, map_attr.get(module));
    QB_TRY(PyObject * fi, from_iterable(module));
    QB_TRY(Ref mapped, call(map, f, seq));
    return call(fi, mapped.get());
}

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

}  // namespace quibra
