// Where plain values and failures enter the option world: the factory
// classes Option and Result, and the option-returning element accessors
// first_opt, last_opt, nth_opt, get_opt, get_in_opt and peek_opt.
//
// The accessors have their own plain steps: no indexing or slicing fast
// paths and no defaults, so a list is walked exactly like any iterator.
#include "option/option.hpp"

#include "sequences/access.hpp"
#include "utils/binding.hpp"
#include "utils/registry.hpp"
#include "utils/signals.hpp"

namespace quibra {

namespace {

// ---- Option and Result ---------------------------------------------------------

// None, by identity, is the only value that becomes an empty option.
Result<Ref> option_of(Args<"v">& a) {
    PyObject* v = a.get<"v">();
    if (v == Py_None) return make_nothing(a.state());
    return make_some(a.state(), v);
}

// Ok(f()), or Err(exception) for an Exception; KeyboardInterrupt, SystemExit
// and other BaseExceptions are not outcomes to capture and propagate.
Result<Ref> result_of(Args<"f">& a) {
    PyObject* r = PyObject_CallNoArgs(a.get<"f">());
    if (r) {
        Ref value = Ref::steal(r);
        return make_ok(a.state(), value.get());
    }
    Error e = Error::fetch();
    if (!e.matches(PyExc_Exception)) return e;
    // The fetched instance carries its __traceback__ with it.
    Ref exc = e.exception();
    if (!exc) return Error::fetch();
    return make_err(a.state(), exc.get());
}

PyMethodDef option_methods[] = {
    QB_STATIC("Option", "of", option_of),
    QB_METHODS_END,
};

PyMethodDef result_methods[] = {
    QB_STATIC("Result", "of", result_of),
    QB_METHODS_END,
};

// Neither class has a constructor or a docstring: they only carry `of`.
ClassSpec<NoState> option_spec("quibra._quibra.Option", {}, 0, option_methods);
ClassSpec<NoState> result_spec("quibra._quibra.Result", {}, 0, result_methods);

TypeCell option_cell("Option", option_spec);
TypeCell result_cell("Result", result_spec);

// ---- accessors ------------------------------------------------------------------

// Some(item) for a fetched item, an empty option for the end.
Result<Ref> option_of_item(const ModuleState& module, const Ref& item) {
    return item ? make_some(module, item.get()) : make_nothing(module);
}

Result<Ref> first_opt_body(Args<"seq">& a) { return first_opt_of(a.state(), a.get<"seq">()); }
Result<Ref> last_opt_body(Args<"seq">& a) { return last_opt_of(a.state(), a.get<"seq">()); }

// n is converted before seq is touched.
Result<Ref> nth_opt_body(Args<"n, seq">& a) {
    QB_TRY(unsigned long long n, a.to_u64<"n">());
    return nth_opt_of(a.state(), n, a.get<"seq">());
}

Result<Ref> get_opt_body(Args<"ind, coll">& a) {
    PyObject* r = PyObject_GetItem(a.get<"coll">(), a.get<"ind">());
    if (r) {
        Ref value = Ref::steal(r);
        return make_some(a.state(), value.get());
    }
    Error e = Error::fetch();
    if (e.is_lookup_error()) return make_nothing(a.state());
    return e;
}

// coll[k1][k2]...[kn]; with no keys, coll itself.
Result<Ref> get_in_opt_body(Args<"coll, *keys">& a) {
    Ref cur = Ref::borrow(a.get<"coll">());
    for (PyObject* key : a.rest()) {
        PyObject* next = PyObject_GetItem(cur.get(), key);
        if (!next) {
            Error e = Error::fetch();
            if (e.is_lookup_error()) return make_nothing(a.state());
            return e;
        }
        cur = Ref::steal(next);
    }
    return make_some(a.state(), cur.get());
}

// Some((first, chain((first,), it))); the chain shares the caller's iterator.
Result<Ref> peek_opt_body(Args<"seq">& a) {
    QB_TRY(Ref pair, peek_of(a.get<"seq">()));
    if (!pair) return make_nothing(a.state());
    return make_some(a.state(), pair.get());
}

PyMethodDef functions[] = {
    QB_FUNCTION("first_opt", first_opt_body),
    QB_FUNCTION("last_opt", last_opt_body),
    QB_FUNCTION("nth_opt", nth_opt_body),
    QB_FUNCTION("get_opt", get_opt_body),
    QB_FUNCTION("get_in_opt", get_in_opt_body),
    QB_FUNCTION("peek_opt", peek_opt_body),
    QB_METHODS_END,
};

Registrar registrar(functions, {&option_cell, &result_cell});

}  // namespace

Result<Ref> first_opt_of(const ModuleState& module, PyObject* seq) {
    QB_TRY(Ref it, get_iter(seq));
    QB_TRY(Ref item, next_item(it.get()));
    return option_of_item(module, item);
}

Result<Ref> last_opt_of(const ModuleState& module, PyObject* seq) {
    QB_TRY(Ref it, get_iter(seq));
    Ref last;
    SignalCheck signals;
    for (;;) {
        QB_CHECK(signals.status());
        QB_TRY(Ref item, next_item(it.get()));
        if (!item) return option_of_item(module, last);
        last = std::move(item);  // the previous element goes at once
    }
}

Result<Ref> nth_opt_of(const ModuleState& module, unsigned long long n, PyObject* seq) {
    QB_TRY(Ref it, get_iter(seq));
    SignalCheck signals;
    for (unsigned long long i = 0; i < n; ++i) {
        QB_CHECK(signals.status());
        QB_TRY(Ref skipped, next_item(it.get()));
        if (!skipped) return make_nothing(module);
    }
    QB_TRY(Ref item, next_item(it.get()));
    return option_of_item(module, item);
}

}  // namespace quibra
