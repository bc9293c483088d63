// memoize: caches results in a dict keyed by the call's arguments. The key's
// shape is chosen once, from the wrapped callable's signature, so a unary
// function is keyed by its argument itself with no tuple per call.
#include "combinators/combinators.hpp"
#include "utils/once.hpp"
#include "utils/registry.hpp"

namespace quibra {

namespace {

PyObject* memoize_vectorcall(PyObject*, PyObject* const*, std::size_t, PyObject*) noexcept;

struct MemoizeState {
    vectorcallfunc vc = &memoize_vectorcall;
    Ref key;    // empty: keys follow the signature rules
    Ref func;
    Ref cache;  // a dict, possibly the caller's own
    bool unary;
    bool keywords;
    // The cache keeps invariants of its own beside the dict's (an ordered
    // dict's order), so it is written through its own item assignment.
    bool own_assignment;
    // A key tuple of the positional rule that nobody else holds, its items
    // None between calls: a hit needs no new tuple.
    Ref spare;

    MemoizeState(Ref k, Ref f, Ref c, bool u, bool kw, bool own) noexcept
        : key(std::move(k)), func(std::move(f)), cache(std::move(c)), unary(u), keywords(kw), own_assignment(own) {}
    int traverse(const Visitor& visit) const { return visit(key, func, cache, spare); }
};

// The dict subclass whose invariants live outside the base dict.
CachedAttr ordered_dict("collections", "OrderedDict");

ClassSpec<MemoizeState> memoize_spec = callable_spec<MemoizeState>("quibra._quibra.Memoize");
TypeCell memoize_type("Memoize", memoize_spec);

struct Shape {
    bool unary = false;
    bool keywords = true;  // what an unreadable signature gets
};

// `a == b` as Python code would test it: the comparison, then the truth of
// its result (no identity shortcut).
Result<bool> equals(PyObject* a, PyObject* b) {
    QB_TRY(Ref r, checked(PyObject_RichCompare(a, b, Py_EQ)));
    return is_true(r.get());
}

// `kind == x or kind == y`, the second comparison made only when needed.
Result<bool> equals_either(PyObject* kind, PyObject* x, PyObject* y) {
    QB_TRY(bool first, equals(kind, x));
    if (first) return true;
    return equals(kind, y);
}

Result<Ref> attr(PyObject* o, const char* name) { return checked(PyObject_GetAttrString(o, name)); }

// Counts required positional parameters and notes *args and anything that
// may come by keyword.
Result<Shape> analyse(PyObject* func) {
    QB_TRY(Ref inspect, checked(PyImport_ImportModule("inspect")));
    QB_TRY(Ref signature, attr(inspect.get(), "signature"));
    QB_TRY(Ref sig, call(signature.get(), func));
    QB_TRY(Ref param, attr(inspect.get(), "Parameter"));
    QB_TRY(Ref empty, attr(param.get(), "empty"));
    QB_TRY(Ref keyword_only, attr(param.get(), "KEYWORD_ONLY"));
    QB_TRY(Ref var_keyword, attr(param.get(), "VAR_KEYWORD"));
    QB_TRY(Ref var_positional, attr(param.get(), "VAR_POSITIONAL"));
    QB_TRY(Ref positional_only, attr(param.get(), "POSITIONAL_ONLY"));
    QB_TRY(Ref positional_or_keyword, attr(param.get(), "POSITIONAL_OR_KEYWORD"));

    QB_TRY(Ref params, attr(sig.get(), "parameters"));
    QB_TRY(Ref values, checked(PyObject_CallMethod(params.get(), "values", nullptr)));
    QB_TRY(Ref it, get_iter(values.get()));
    bool varargs = false, keywords = false;
    long required = 0;
    for (;;) {
        QB_TRY(Ref p, next_item(it.get()));
        if (!p) break;
        QB_TRY(Ref kind, attr(p.get(), "kind"));
        QB_TRY(Ref dflt, attr(p.get(), "default"));
        QB_TRY(bool is_varargs, equals(kind.get(), var_positional.get()));
        varargs = varargs || is_varargs;
        if (dflt.get() != empty.get()) {
            keywords = true;
            continue;
        }
        QB_TRY(bool by_keyword, equals_either(kind.get(), keyword_only.get(), var_keyword.get()));
        if (by_keyword) keywords = true;
        QB_TRY(bool positional, equals_either(kind.get(), positional_only.get(), positional_or_keyword.get()));
        if (positional) ++required;
    }
    return Shape{required == 1 && !varargs && !keywords, keywords};
}

// frozenset(iter(list(kwargs.items()))), with frozenset looked up per call.
Result<Ref> keyword_set(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    QB_TRY(Ref frozenset, import_attr("builtins", "frozenset"));
    QB_TRY(Ref kwargs, new_dict());
    QB_CHECK(store_keywords(kwargs.get(), args, nargs, kwnames));
    QB_TRY(Ref items, checked(PyDict_Items(kwargs.get())));
    QB_TRY(Ref it, get_iter(items.get()));
    return call(frozenset.get(), it.get());
}

Result<Ref> pair(Ref first, Ref second) {
    QB_TRY(Ref t, new_tuple(2));
    PyTuple_SET_ITEM(t.get(), 0, first.release());
    PyTuple_SET_ITEM(t.get(), 1, second.release());
    return t;
}

Result<Ref> cache_key(MemoizeState& m, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Py_ssize_t nkw = keyword_count(kwnames);
    if (m.key) {
        QB_TRY(Ref positional, positional_tuple(args, nargs));
        Ref kwargs = none_ref();
        if (nkw) {
            QB_TRY(kwargs, new_dict());
            QB_CHECK(store_keywords(kwargs.get(), args, nargs, kwnames));
        }
        return call(m.key.get(), positional.get(), kwargs.get());
    }
    if (m.unary && nargs == 1 && nkw == 0) return Ref::borrow(args[0]);
    if (m.keywords) {
        Ref first = none_ref(), second = none_ref();
        if (nargs) {
            QB_TRY(first, positional_tuple(args, nargs));
        }
        if (nkw) {
            QB_TRY(second, keyword_set(args, nargs, kwnames));
        }
        return pair(std::move(first), std::move(second));
    }
    QB_TRY(Ref positional, positional_tuple(args, nargs));
    if (nkw == 0) return positional;
    QB_TRY(Ref kwset, keyword_set(args, nargs, kwnames));
    return pair(std::move(positional), std::move(kwset));
}

// cache[key] = result. The dict API, unless the cache keeps invariants the
// base dict's store would skip.
Status store(const MemoizeState& m, PyObject* key, PyObject* result) {
    PyObject* cache = m.cache.get();
    return checked_status(m.own_assignment ? PyObject_SetItem(cache, key, result) : PyDict_SetItem(cache, key, result));
}

// No lock spans lookup, call and store: a concurrent or re-entrant miss on
// the same key calls func again and the later store wins. Failures are never
// stored.
Result<Ref> memoize_call(PyObject*, MemoizeState& m, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    QB_TRY(Ref key, cache_key(m, args, nargs, kwnames));
    PyObject* hit;
    int found = PyDict_GetItemRef(m.cache.get(), key.get(), &hit);
    if (found < 0) return Error::fetch();
    if (found) return Ref::steal(hit);
    QB_TRY(Ref result, checked(PyObject_Vectorcall(m.func.get(), args, nargsf, kwnames)));
    QB_CHECK(store(m, key.get(), result.get()));
    return result;
}

// Whether the spare tuple is used at all: without the interpreter lock two
// threads could take it at once, so there every call makes its own.
#ifdef Py_GIL_DISABLED
constexpr bool kReuseSpare = false;
#else
constexpr bool kReuseSpare = true;
#endif

// The key tuple of the positional rule, in the spare tuple when nobody else
// holds it (a re-entrant call finds none and makes its own). Empty with the
// exception set on failure: this is the hit path, kept in the C API's
// convention.
Ref positional_key(MemoizeState& m, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (!kReuseSpare || !m.spare || !PyUnstable_Object_IsUniquelyReferenced(m.spare.get()) ||
        PyTuple_GET_SIZE(m.spare.get()) != nargs) {
        Ref t = Ref::steal(PyTuple_New(nargs));
        for (Py_ssize_t i = 0; t && i < nargs; ++i) PyTuple_SET_ITEM(t.get(), i, Py_NewRef(args[i]));
        return t;
    }
    Ref t = std::move(m.spare);
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        Ref none = Ref::steal(PyTuple_GET_ITEM(t.get(), i));
        PyTuple_SET_ITEM(t.get(), i, Py_NewRef(args[i]));
    }
    reinterpret_cast<PyTupleObject*>(t.get())->ob_hash = -1;  // its contents changed
    return t;
}

// Keeps a key tuple that only we hold as the spare, emptied so that it
// keeps no argument alive.
void recycle(MemoizeState& m, Ref key) noexcept {
    if (!kReuseSpare || m.spare || !PyUnstable_Object_IsUniquelyReferenced(key.get())) return;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(key.get()); ++i) {
        Ref arg = Ref::steal(PyTuple_GET_ITEM(key.get(), i));
        PyTuple_SET_ITEM(key.get(), i, Py_NewRef(Py_None));
    }
    m.spare = std::move(key);
}

// A call keyed by its positional arguments as a tuple (no keywords, no key
// function, a callable that takes no keywords): the spare tuple serves
// every hit.
PyObject* positional_call(MemoizeState& m, PyObject* const* args, std::size_t nargsf) noexcept {
    Ref key = positional_key(m, args, PyVectorcall_NARGS(nargsf));
    if (!key) return nullptr;
    PyObject* hit;
    int found = PyDict_GetItemRef(m.cache.get(), key.get(), &hit);
    if (found == 0) {
        hit = guarded([&]() -> Result<Ref> {
            // A miss calls into user code, which may be another wrapper.
            RecursionGuard depth(kWhileCalling);
            QB_CHECK(depth.status());
            QB_TRY(Ref result, checked(PyObject_Vectorcall(m.func.get(), args, nargsf, nullptr)));
            QB_CHECK(store(m, key.get(), result.get()));
            return result;
        });
    }
    recycle(m, std::move(key));
    return hit;
}

PyObject* memoize_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    auto& m = state_of<MemoizeState>(self);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (!m.key && keyword_count(kwnames) == 0) {
        // The hit of a unary function, the common case, skips everything else.
        if (m.unary && nargs == 1) {
            PyObject* hit;
            if (PyDict_GetItemRef(m.cache.get(), args[0], &hit) > 0) return hit;
            if (PyErr_Occurred()) return nullptr;
        } else if (!m.unary && !m.keywords && nargs > 0) {
            return positional_call(m, args, nargsf);
        }
    }
    return vectorcall_entry<MemoizeState, memoize_call>(self, args, nargsf, kwnames);
}

Result<Ref> memoize_body(Args<"func, cache=None, key=None">& a) {
    Ref cache;
    bool own_assignment = false;
    if (PyObject* given = a.get<"cache">()) {
        if (!PyDict_Check(given)) return a.note<"cache">(type_check_error(given, "dict"));
        cache = Ref::borrow(given);
        if (!PyDict_CheckExact(given)) {
            QB_TRY(PyObject * ordered, ordered_dict.get(a.state()));
            int r = PyObject_IsInstance(given, ordered);
            if (r < 0) return Error::fetch();
            own_assignment = r == 1;
        }
    } else {
        QB_TRY(cache, new_dict());
    }
    // An unreadable signature only makes keys less compact; it never stops
    // the wrapper from being made.
    Shape shape;
    if (Result<Shape> s = analyse(a.get<"func">())) shape = *s;
    QB_TRY(PyTypeObject * type, memoize_type.get(a.state()));
    return make_native<MemoizeState>(type, Ref::borrow(a.get<"key">()), Ref::borrow(a.get<"func">()), std::move(cache),
                                     shape.unary, shape.keywords, own_assignment);
}

PyMethodDef functions[] = {
    QB_FUNCTION("memoize", memoize_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra
