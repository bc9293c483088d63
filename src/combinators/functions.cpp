// Small adapters over callables: identity, apply, do, complement, juxt,
// excepts and flip (exported wrapped in a curry).
#include "combinators/combinators.hpp"
#include "utils/registry.hpp"

#include <unordered_set>
#include <utility>
#include <vector>

namespace quibra {

namespace {

// ---- Complement ---------------------------------------------------------------------

PyObject* complement_vectorcall(PyObject*, PyObject* const*, std::size_t, PyObject*) noexcept;

struct ComplementState {
    vectorcallfunc vc = &complement_vectorcall;
    Ref func;

    explicit ComplementState(Ref f) noexcept : func(std::move(f)) {}
    int traverse(const Visitor& visit) const { return visit(func); }
};

ClassSpec<ComplementState> complement_spec = callable_spec<ComplementState>("quibra._quibra.Complement");
TypeCell complement_type("Complement", complement_spec);

Result<Ref> complement_call(PyObject*, ComplementState& c, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    QB_TRY(Ref r, checked(PyObject_Vectorcall(c.func.get(), args, nargsf, kwnames)));
    QB_TRY(bool truth, is_true(r.get()));
    return bool_ref(!truth);
}

PyObject* complement_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    return vectorcall_entry<ComplementState, complement_call>(self, args, nargsf, kwnames);
}

// ---- Juxt ------------------------------------------------------------------------------

PyObject* juxt_vectorcall(PyObject*, PyObject* const*, std::size_t, PyObject*) noexcept;

struct JuxtState {
    vectorcallfunc vc = &juxt_vectorcall;
    Ref funcs;  // tuple, possibly empty

    explicit JuxtState(Ref f) noexcept : funcs(std::move(f)) {}
    int traverse(const Visitor& visit) const { return visit(funcs); }
};

ClassSpec<JuxtState> juxt_spec = callable_spec<JuxtState>("quibra._quibra.Juxt");
TypeCell juxt_type("Juxt", juxt_spec);

Result<Ref> juxt_call(PyObject*, JuxtState& j, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    PyObject* funcs = j.funcs.get();
    Py_ssize_t n = PyTuple_GET_SIZE(funcs);
    QB_TRY(Ref out, new_tuple(n));
    // Every function sees the same argument array; a callee that borrows the
    // spare slot in front restores it before returning.
    for (Py_ssize_t i = 0; i < n; ++i) {
        QB_TRY(Ref r, checked(PyObject_Vectorcall(PyTuple_GET_ITEM(funcs, i), args, nargsf, kwnames)));
        PyTuple_SET_ITEM(out.get(), i, r.release());
    }
    return out;
}

PyObject* juxt_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    return vectorcall_entry<JuxtState, juxt_call>(self, args, nargsf, kwnames);
}

// ---- Excepts ---------------------------------------------------------------------------

PyObject* excepts_vectorcall(PyObject*, PyObject* const*, std::size_t, PyObject*) noexcept;

struct ExceptsState {
    vectorcallfunc vc = &excepts_vectorcall;
    Ref exc;      // a class, a tuple of classes, or anything else
    Ref func;
    Ref handler;  // empty: matching exceptions become None

    ExceptsState(Ref e, Ref f, Ref h) noexcept : exc(std::move(e)), func(std::move(f)), handler(std::move(h)) {}
    int traverse(const Visitor& visit) const { return visit(exc, func, handler); }
};

ClassSpec<ExceptsState> excepts_spec = callable_spec<ExceptsState>("quibra._quibra.Excepts");
TypeCell excepts_type("Excepts", excepts_spec);

// `exc` as the interpreter's matching reads it, with nested tuples spread
// into one flat tuple: that matching recurses into tuple members with no
// depth check, so KeyError inside 200,000 one-element tuples would overflow
// the stack at the first exception. Order is kept, and a tuple met twice is
// read once (any one matching member is enough), so the answer is the same.
// The walk borrows: every tuple in it is held, immutably, by `exc`.
Result<Ref> flat_exception_spec(PyObject* exc) {
    if (!PyTuple_Check(exc)) return Ref::borrow(exc);
    bool nested = false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(exc) && !nested; ++i) nested = PyTuple_Check(PyTuple_GET_ITEM(exc, i));
    if (!nested) return Ref::borrow(exc);
    QB_TRY(Ref flat, new_list(0));
    std::vector<std::pair<PyObject*, Py_ssize_t>> open{{exc, 0}};
    std::unordered_set<PyObject*> seen{exc};
    while (!open.empty()) {
        auto [tuple, i] = open.back();
        if (i == PyTuple_GET_SIZE(tuple)) {
            open.pop_back();
            continue;
        }
        ++open.back().second;
        PyObject* member = PyTuple_GET_ITEM(tuple, i);
        if (!PyTuple_Check(member)) {
            QB_CHECK(checked_status(PyList_Append(flat.get(), member)));
        } else if (seen.insert(member).second) {
            open.emplace_back(member, 0);
        }
    }
    return checked(PyList_AsTuple(flat.get()));
}

Result<Ref> excepts_call(PyObject*, ExceptsState& x, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    PyObject* r = PyObject_Vectorcall(x.func.get(), args, nargsf, kwnames);
    if (r) return Ref::steal(r);
    Error e = Error::fetch();
    // An internal fault of a nested module call is never a value.
    if (e.is_panic() || !e.matches(x.exc.get())) return e;
    if (!x.handler) return none_ref();
    Ref instance = e.exception();
    if (!instance) return Error::fetch();
    return call(x.handler.get(), instance.get());
}

PyObject* excepts_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    return vectorcall_entry<ExceptsState, excepts_call>(self, args, nargsf, kwnames);
}

// ---- module functions ---------------------------------------------------------------------

Result<Ref> identity_body(Args<"x">& a) { return Ref::borrow(a.get<"x">()); }

Result<Ref> apply_body(Args<"func, *args, **kwargs">& a) {
    PyObject* kwargs = PyDict_GET_SIZE(a.kwargs.get()) ? a.kwargs.get() : nullptr;
    return checked(PyObject_VectorcallDict(a.get<"func">(), a.rest().data(), a.rest().size(), kwargs));
}

Result<Ref> do_body(Args<"func, x">& a) {
    QB_TRY(Ref ignored, call(a.get<"func">(), a.get<"x">()));
    return Ref::borrow(a.get<"x">());
}

Result<Ref> complement_body(Args<"func">& a) {
    QB_TRY(PyTypeObject * type, complement_type.get(a.state()));
    return make_native<ComplementState>(type, Ref::borrow(a.get<"func">()));
}

Result<Ref> juxt_body(Args<"*funcs">& a) {
    // A single non-callable argument is the collection of functions itself.
    bool collection = a.rest().size() == 1 && !PyCallable_Check(a.rest()[0]);
    QB_TRY(Ref funcs, collection ? checked(PySequence_Tuple(a.rest()[0])) : a.rest_tuple());
    QB_TRY(PyTypeObject * type, juxt_type.get(a.state()));
    return make_native<JuxtState>(type, std::move(funcs));
}

Result<Ref> excepts_body(Args<"exc, func, handler=None">& a) {
    QB_TRY(Ref exc, flat_exception_spec(a.get<"exc">()));
    QB_TRY(PyTypeObject * type, excepts_type.get(a.state()));
    return make_native<ExceptsState>(type, std::move(exc), Ref::borrow(a.get<"func">()), Ref::borrow(a.get<"handler">()));
}

Result<Ref> flip_body(Args<"func, a, b">& a) { return call(a.get<"func">(), a.get<"b">(), a.get<"a">()); }

PyMethodDef functions[] = {
    QB_FUNCTION("identity", identity_body),
    QB_FUNCTION_VARARGS("apply", apply_body),
    QB_FUNCTION("do", do_body),
    QB_FUNCTION("complement", complement_body),
    QB_FUNCTION("juxt", juxt_body),
    QB_FUNCTION("excepts", excepts_body),
    QB_METHODS_END,
};

// Not a namespace function: the module exports it only inside a curry.
PyMethodDef flip_def = QB_FUNCTION("flip", flip_body);

// A builtin function object bound to the module, as the execution step makes them.
Result<Ref> module_function(PyMethodDef* def, PyObject* module) {
    QB_TRY(Ref name, checked(PyModule_GetNameObject(module)));
    return checked(PyCFunction_NewEx(def, module, name.get()));
}

Result<Ref> make_flip(PyObject* module) {
    QB_TRY(Ref fn, module_function(&flip_def, module));
    QB_TRY(Ref no_args, new_tuple(0));
    QB_TRY(Ref no_kwargs, new_dict());
    return make_curry(module_state(module), std::move(fn), std::move(no_args), std::move(no_kwargs));
}

Registrar registrar(functions, {}, {{"flip", make_flip}});

}  // namespace

Result<Ref> make_identity(PyObject* module) { return module_function(&functions[0], module); }

}  // namespace quibra
