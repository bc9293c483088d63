// Lazy functions that hand the work to the interpreter's own iterators, so
// the result is exactly the islice / chain object those produce: take, drop,
// take_nth, cons, concat, concatv, mapcat. Also tail, the eager counterpart
// of drop that slices when it can.
#include "sequences/access.hpp"
#include "sequences/lazy.hpp"

#include "utils/binding.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"

#include <vector>

namespace quibra {

namespace {

// Kept for the life of the process; a failed lookup leaves the cell empty so
// the next call retries it.
CachedAttr islice_attr("itertools", "islice");
CachedAttr chain_attr("itertools", "chain");
CachedAttr map_attr("builtins", "map");
OnceCell from_iterable_cell;

Result<PyObject*> from_iterable() {
    return from_iterable_cell.get([]() -> Result<Ref> {
        QB_TRY(PyObject * chain, chain_attr.get());
        return checked(PyObject_GetAttrString(chain, "from_iterable"));
    });
}

// chain.from_iterable(seqs): the inner sequences are opened only when
// iteration reaches them.
Result<Ref> concat_iter(PyObject* seqs) {
    QB_TRY(PyObject * fi, from_iterable());
    return call(fi, seqs);
}

Result<Ref> take_body(Args<"n, seq">& a) { return take_iter(a.get<"n">(), a.get<"seq">()); }
Result<Ref> drop_body(Args<"n, seq">& a) { return drop_iter(a.get<"n">(), a.get<"seq">()); }

Result<Ref> take_nth_body(Args<"n, seq">& a) {
    QB_TRY(PyObject * islice, islice_attr.get());
    QB_TRY(Ref zero, checked(PyLong_FromLong(0)));
    return call(islice, a.get<"seq">(), zero.get(), Py_None, a.get<"n">());
}

Result<Ref> cons_body(Args<"el, seq">& a) {
    QB_TRY(PyObject * chain, chain_attr.get());
    QB_TRY(Ref head, new_tuple(1));
    PyTuple_SET_ITEM(head.get(), 0, Py_NewRef(a.get<"el">()));
    return call(chain, head.get(), a.get<"seq">());
}

Result<Ref> concat_body(Args<"seqs">& a) { return concat_iter(a.get<"seqs">()); }
Result<Ref> concatv_body(Args<"*seqs">& a) {
    QB_TRY(Ref seqs, a.rest_tuple());
    return concat_iter(seqs.get());
}
Result<Ref> mapcat_body(Args<"func, seqs">& a) { return flat_map_iter(a.get<"func">(), a.get<"seqs">()); }

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

Result<Ref> take_iter(PyObject* n, PyObject* seq) {
    QB_TRY(PyObject * islice, islice_attr.get());
    return call(islice, seq, n);
}

Result<Ref> drop_iter(PyObject* n, PyObject* seq) {
    QB_TRY(PyObject * islice, islice_attr.get());
    return call(islice, seq, n, Py_None);
}

Result<Ref> flat_map_iter(PyObject* f, PyObject* seq) {
    QB_TRY(PyObject * map, map_attr.get());
    QB_TRY(PyObject * fi, from_iterable());
    QB_TRY(Ref mapped, call(map, f, seq));
    return call(fi, mapped.get());
}

}  // namespace quibra
