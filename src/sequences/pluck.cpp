// pluck(ind, seqs, *rest): seq[ind] for each seq, or a tuple for a list of
// indices, with an optional default for failed lookups.
#include "sequences/pluck.hpp"

#include "sequences/keys.hpp"
#include "utils/hashing.hpp"
#include "utils/binding.hpp"
#include "utils/iterators.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"

#include <vector>

namespace quibra {

namespace {

// The plain form: one fetch and one lookup per element.
struct PluckState {
    Ref ind;
    RawSource source;
    Py_ssize_t position;

    PluckState(Ref i, RawSource src) noexcept
        : ind(std::move(i)), source(std::move(src)), position(position_of(ind.get())) {}

    // Over an exact list, an element that is an exact tuple or list read at
    // a position, or an exact dict looked up with a builtin key, runs no code
    // that could nest; anything else takes the recursion check first.
    static constexpr bool checks_depth = true;

    PyObject* step_raw() noexcept {
        DepthCheck depth;
        if (!source.is_list() && !depth.enter()) return nullptr;
        source.prefetch_ahead();
        Ref x = Ref::steal(source.next_raw());
        if (!x) return nullptr;
        if (PyObject* r = item_by_position(x.get(), position)) return r;
        if (!(PyDict_CheckExact(x.get()) && builtin_key(ind.get())) && !depth.enter()) return nullptr;
        return PyObject_GetItem(x.get(), ind.get());
    }

    unsigned long long hint() const noexcept { return source.remaining(); }
    int traverse(const Visitor& visit) const { return visit(ind, source); }
};

ClassSpec<Guarded<PluckState>> pluck_iter_spec = iterator_spec<PluckState>(
        "quibra._quibra.PluckIter",
        "Item lookup per element: one fetch and one seq[ind] per step, with\n"
        "exact lists read by position. Lookup errors pass through.",
        "__length_hint__($self)\n--\n\n"
        "One output per remaining source element (PEP 424): exact for list\n"
        "sources, the source's own hint otherwise.");
TypeCell pluck_iter_type("PluckIter", pluck_iter_spec);

// The defaulted and list-of-indices forms.
class GeneralPluckState {
public:
    GeneralPluckState(RawSource src, Ref ind, Ref dflt) noexcept
        : source_(std::move(src)), ind_(std::move(ind)), dflt_(std::move(dflt)), many_(PyList_Check(ind_.get())) {}

    // A list of indices without a default: elements that are exact tuples
    // or lists read at exact int positions take a direct route.
    PyObject* step_raw() {
        source_.prefetch_ahead();
        Ref x = Ref::steal(source_.next_raw());
        if (!x) return nullptr;
        if (!many_) return finish(lookup(x.get(), ind_.get()));
        if (!dflt_) {
            if (PyObject* t = by_position(x.get())) return t;
            if (PyErr_Occurred()) return nullptr;
        }
        return finish(lookup_all(x.get()));
    }

    int traverse(const Visitor& visit) const { return visit(source_, ind_, dflt_); }

private:
    // The tuple of x[i] when x is an exact tuple or list and every index a
    // small exact int within its bounds: plain reads, so no code runs and the
    // index list stays as it is. nullptr otherwise (with an exception set
    // only if the tuple could not be made), and the general lookups decide.
    PyObject* by_position(PyObject* x) noexcept {
        PyObject* const* items;
        if (PyTuple_CheckExact(x)) items = &PyTuple_GET_ITEM(x, 0);
        else if (PyList_CheckExact(x)) items = reinterpret_cast<PyListObject*>(x)->ob_item;
        else return nullptr;
        Py_ssize_t len = Py_SIZE(x);
        PyObject* ind = ind_.get();
        Py_ssize_t n = PyList_GET_SIZE(ind);
        Ref t = Ref::steal(PyTuple_New(n));  // a slot left empty below is never seen
        if (!t) return nullptr;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* index = PyList_GET_ITEM(ind, i);
            if (!PyLong_CheckExact(index) || !PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(index)))
                return nullptr;
            Py_ssize_t pos = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(index));
            if (pos < 0) pos += len;
            if (pos < 0 || pos >= len) return nullptr;
            PyTuple_SET_ITEM(t.get(), i, Py_NewRef(items[pos]));
        }
        untrack_if_atomic(t.get());
        return t.release();
    }

    // x[i], or the default in place of a lookup error.
    Result<Ref> lookup(PyObject* x, PyObject* i) {
        PyObject* r = PyObject_GetItem(x, i);
        if (r) return Ref::steal(r);
        if (dflt_ && lookup_error_pending()) {
            PyErr_Clear();
            return dflt_;
        }
        return Error::fetch_ffi();
    }

    // A tuple of x[i] for the indices in order (see tuple_of_lookups).
    Result<Ref> lookup_all(PyObject* x) {
        return tuple_of_lookups(ind_.get(), buf_, [this, x](PyObject* i) { return lookup(x, i); });
    }

    RawSource source_;
    Ref ind_;
    Ref dflt_;
    bool many_;
    std::vector<Ref> buf_;  // reused across steps: only the tuple is allocated per element
};

Result<Ref> pluck_body(Args<"ind, seqs, *rest">& a) {
    QB_TRY(PyObject * dflt, a.optional_rest("pluck", 3));
    return build_pluck(a.state(), a.get<"ind">(), a.get<"seqs">(), dflt);
}

PyMethodDef functions[] = {
    QB_FUNCTION("pluck", pluck_body),
    QB_METHODS_END,
};

Registrar registrar(functions, {&pluck_iter_type});

}  // namespace

Result<Ref> build_pluck(const ModuleState& module, PyObject* ind, PyObject* seqs, PyObject* dflt) {
    QB_TRY(RawSource source, RawSource::open(seqs));
    if (dflt || PyList_Check(ind))
        return make_rust_iter<GeneralPluckState>(module, std::move(source), Ref::borrow(ind), Ref::borrow(dflt));
    return make_iterator<PluckState>(module, pluck_iter_type, Ref::borrow(ind), std::move(source));
}

}  // namespace quibra
