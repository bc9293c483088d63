// Chaining callables: compose / compose_left build a reusable Compose;
// pipe, thread_first and thread_last run a chain once.
#include "combinators/combinators.hpp"
#include "utils/registry.hpp"

namespace quibra {

namespace {

// Each chain runs under one recursion check (its calls are made one after
// another at the same native depth: pipe and the threading functions take
// it themselves, a Compose call at its vectorcall entry), which is the stack
// check call_one_raw's direct route to a builtin would otherwise skip.
Result<Ref> call_one(PyObject* f, PyObject* arg) { return checked(call_one_raw(f, arg)); }

PyObject* compose_vectorcall(PyObject*, PyObject* const*, std::size_t, PyObject*) noexcept;

struct ComposeState {
    vectorcallfunc vc = &compose_vectorcall;
    Ref funcs;  // tuple in call order: the first element is called first

    explicit ComposeState(Ref f) noexcept : funcs(std::move(f)) {}
    int traverse(const Visitor& visit) const { return visit(funcs); }
};

ClassSpec<ComposeState> compose_spec = callable_spec<ComposeState>("quibra._quibra.Compose");
TypeCell compose_type("Compose", compose_spec);

Result<Ref> compose_call(PyObject*, ComposeState& c, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    PyObject* funcs = c.funcs.get();
    Py_ssize_t n = PyTuple_GET_SIZE(funcs);  // never 0: compose() gives identity
    // The first function takes the call as it came; the rest one value each.
    // Raw pointers in this loop: it is the whole cost of a call.
    PyObject* first = PyTuple_GET_ITEM(funcs, 0);
    Ref value = Ref::steal((PyVectorcall_NARGS(nargsf) == 1 && !kwnames)
                               ? call_one_raw(first, args[0])
                               : PyObject_Vectorcall(first, args, nargsf, kwnames));
    for (Py_ssize_t i = 1; value && i < n; ++i) value = Ref::steal(call_one_raw(PyTuple_GET_ITEM(funcs, i), value.get()));
    if (!value) return Error::fetch();
    return value;
}

PyObject* compose_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    return vectorcall_entry<ComposeState, compose_call>(self, args, nargsf, kwnames);
}

Result<Ref> make_compose(const ModuleState& module, Ref funcs) {
    QB_TRY(PyTypeObject * type, compose_type.get(module));
    return make_native<ComposeState>(type, std::move(funcs));
}

Result<Ref> compose_body(Args<"*funcs">& a) {
    Py_ssize_t n = a.rest_count();
    if (n == 0) return make_identity(a.self);
    // Reversed once here so that every call walks front to back.
    QB_TRY(Ref order, new_tuple(n));
    for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(order.get(), i, Py_NewRef(a.rest()[static_cast<std::size_t>(n - 1 - i)]));
    return make_compose(a.state(), std::move(order));
}

Result<Ref> compose_left_body(Args<"*funcs">& a) {
    if (a.rest_count() == 0) return make_identity(a.self);
    QB_TRY(Ref funcs, a.rest_tuple());
    return make_compose(a.state(), std::move(funcs));
}

Result<Ref> pipe_walk(PyObject* data, PyObject* const* funcs, Py_ssize_t n) {
    RecursionGuard depth(kWhileCalling);
    QB_CHECK(depth.status());
    Ref value = Ref::borrow(data);
    for (Py_ssize_t i = 0; value && i < n; ++i) value = Ref::steal(call_one_raw(funcs[i], value.get()));
    if (!value) return Error::fetch();
    return value;
}

Result<Ref> pipe_body(Args<"data, *funcs">& a) {
    return pipe_walk(a.get<"data">(), a.rest().data(), a.rest_count());
}

// One step of threading through a (callable, extra...) tuple form: the value
// goes first or last among the arguments.
Result<Ref> thread_tuple_form(PyObject* form, PyObject* value, bool last) {
    PyObject* fn = PyTuple_GetItem(form, 0);  // IndexError for an empty form
    if (!fn) return Error::fetch();
    auto extra = static_cast<std::size_t>(PyTuple_GET_SIZE(form) - 1);
    ArgVector argv(extra + 1);
    std::size_t first_extra = last ? 0 : 1;
    for (std::size_t i = 0; i < extra; ++i)
        argv[first_extra + i] = PyTuple_GET_ITEM(form, static_cast<Py_ssize_t>(i + 1));
    argv[last ? extra : 0] = value;
    return argv.call(fn);
}

Result<Ref> thread(PyObject* val, std::span<PyObject* const> forms, bool last) {
    RecursionGuard depth(kWhileCalling);
    QB_CHECK(depth.status());
    Ref value = Ref::borrow(val);
    for (PyObject* form : forms) {
        if (PyTuple_Check(form)) {
            QB_TRY(value, thread_tuple_form(form, value.get(), last));
        } else {
            QB_TRY(value, call_one(form, value.get()));
        }
    }
    return value;
}

Result<Ref> thread_first_body(Args<"val, *forms">& a) { return thread(a.get<"val">(), a.rest(), false); }
Result<Ref> thread_last_body(Args<"val, *forms">& a) { return thread(a.get<"val">(), a.rest(), true); }

PyMethodDef functions[] = {
    QB_FUNCTION("pipe", pipe_body),
    QB_FUNCTION("compose", compose_body),
    QB_FUNCTION("compose_left", compose_left_body),
    QB_FUNCTION("thread_first", thread_first_body),
    QB_FUNCTION("thread_last", thread_last_body),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra
