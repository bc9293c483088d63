// pluck(ind, seqs, *rest): seq[ind] for each seq, or a tuple for a list of
// indices, with an optional default for failed lookups.
#include "sequences/pluck.hpp"

#include "sequences/iterators.hpp"
#include "utils/registry.hpp"

#include <new>
#include <vector>

namespace quibra {

namespace {

// An exact int index that fits a machine word, for reading exact tuples and
// lists by position (what their own __getitem__ would do, without the
// call); kNoPosition otherwise.
constexpr Py_ssize_t kNoPosition = PY_SSIZE_T_MIN;

Py_ssize_t position_of(PyObject* ind) noexcept {
    if (!PyLong_CheckExact(ind)) return kNoPosition;
    Py_ssize_t i = PyLong_AsSsize_t(ind);
    if (i == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return kNoPosition;
    }
    return i;
}

// x[i] for an exact tuple or list with i in range, else nullptr (the caller
// then goes through PyObject_GetItem, which also raises the IndexError).
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

// The plain form: one fetch and one lookup per element.
struct PluckState {
    Ref ind;
    RawSource source;
    Py_ssize_t position;

    PluckState(Ref i, RawSource src) noexcept
        : ind(std::move(i)), source(std::move(src)), position(position_of(ind.get())) {}

    Result<Ref> step() {
        QB_TRY(Ref x, source.next());
        if (!x) return Ref();
        PyObject* r = item_by_position(x.get(), position);
        if (!r) r = PyObject_GetItem(x.get(), ind.get());
        if (!r) return Error::fetch_ffi();
        return Ref::steal(r);
    }

    unsigned long long hint() const noexcept { return source.remaining(); }
    int traverse(const Visitor& visit) const { return visit(ind, source); }
};

TypeCell pluck_iter_type("PluckIter", [] {
    return iterator_spec<PluckState>(
        "quibra._quibra.PluckIter",
        "Item lookup per element: one fetch and one seq[ind] per step, with\n"
        "exact lists read by position. Lookup errors pass through.",
        "__length_hint__($self)\n--\n\n"
        "One output per remaining source element (PEP 424): exact for list\n"
        "sources, the source's own hint otherwise.");
});

// Failures a default stands in for.
bool is_lookup_error() noexcept {
    return PyErr_ExceptionMatches(PyExc_IndexError) || PyErr_ExceptionMatches(PyExc_KeyError) ||
           PyErr_ExceptionMatches(PyExc_TypeError);
}

// The defaulted and list-of-indices forms.
class PluckStep final : public Step {
public:
    PluckStep(Ref it, Ref ind, Ref dflt) noexcept
        : it_(std::move(it)), ind_(std::move(ind)), dflt_(std::move(dflt)), many_(PyList_Check(ind_.get())) {}

    Result<Ref> next() override {
        PyObject* x = PyIter_Next(it_.get());
        if (!x) {
            if (PyErr_Occurred()) return Error::fetch_ffi();
            return Ref();
        }
        Ref element = Ref::steal(x);
        if (!many_) return lookup(x, ind_.get());
        return lookup_all(x);
    }

    int traverse(const Visitor& visit) const override { return visit(it_, ind_, dflt_); }

private:
    // x[i], or the default in place of a lookup error.
    Result<Ref> lookup(PyObject* x, PyObject* i) {
        PyObject* r = PyObject_GetItem(x, i);
        if (r) return Ref::steal(r);
        if (dflt_ && PyErr_Occurred() && is_lookup_error()) {
            PyErr_Clear();
            return dflt_;
        }
        return Error::fetch_ffi();
    }

    // A tuple of x[i] for the indices in order. The index list is read by
    // position, never past the length it had when the step began, and the
    // walk stops early if a lookup shortened it.
    Result<Ref> lookup_all(PyObject* x) {
        PyObject* indices = ind_.get();
        Py_ssize_t n = PyList_GET_SIZE(indices);
        buf_.clear();
        try {
            buf_.reserve(static_cast<std::size_t>(n));
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return Error::fetch();
        }
        for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(indices); ++i) {
            Ref index = Ref::borrow(PyList_GET_ITEM(indices, i));
            Result<Ref> r = lookup(x, index.get());
            if (!r) {
                buf_.clear();
                return std::move(r).error();
            }
            buf_.push_back(std::move(r).value());  // capacity reserved
        }
        Result<Ref> t = checked(PyTuple_New(static_cast<Py_ssize_t>(buf_.size())));
        if (t) {
            Py_ssize_t k = 0;
            for (Ref& r : buf_) PyTuple_SET_ITEM(t->get(), k++, r.release());
        }
        buf_.clear();
        return t;
    }

    Ref it_;
    Ref ind_;
    Ref dflt_;
    bool many_;
    std::vector<Ref> buf_;  // reused across steps: only the tuple is allocated per element
};

Result<Ref> pluck_body(Args<"ind, seqs, *rest">& a) {
    QB_TRY(PyObject * dflt, a.optional_rest("pluck", 3));
    return build_pluck(a.get<"ind">(), a.get<"seqs">(), dflt);
}

PyMethodDef functions[] = {
    QB_FUNCTION("pluck", pluck_body),
    QB_METHODS_END,
};

Registrar registrar(functions, {&pluck_iter_type});

}  // namespace

Result<Ref> build_pluck(PyObject* ind, PyObject* seqs, PyObject* dflt) {
    if (dflt || PyList_Check(ind)) {
        QB_TRY(Ref it, get_iter(seqs));
        return make_rust_iter(std::make_unique<PluckStep>(std::move(it), Ref::borrow(ind), Ref::borrow(dflt)));
    }
    QB_TRY(RawSource source, RawSource::open(seqs));
    return make_iterator<PluckState>(pluck_iter_type, Ref::borrow(ind), std::move(source));
}

}  // namespace quibra
