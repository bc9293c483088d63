// The value classes Some, NothingType, Ok and Err, and the module's Nothing.
//
// Each class derives straight from object and holds at most one payload,
// fixed at construction. Empty and error sides never call their callbacks
// (not even to check that they are callable), and every operation that
// yields a new option or result allocates a fresh wrapper.
#include "option/option.hpp"

#include "utils/binding.hpp"
#include "utils/registry.hpp"

namespace quibra {

namespace {

// The state of Some, Ok and Err: one strong reference to any object.
struct Payload {
    Ref value;
    explicit Payload(Ref v) noexcept : value(std::move(v)) {}
    int traverse(const Visitor& visit) const { return visit(value); }
};

PyObject* payload(PyObject* self) noexcept { return state_of<Payload>(self).value.get(); }

// The payload classes take part in cyclic garbage collection. An Err from
// Result.of holds a traceback whose frames usually hold that very Err in a
// local, and a Some can sit inside the list it holds: invisible to the
// collector, such cycles would never be freed.
//
// No clear slot is needed: the payload is fixed before the object can be
// reached, so no cycle runs through these objects alone, and the collector
// breaks every other cycle through its other members.

// A new instance of a payload class. It enters the collector only when its
// payload is a container, the only kind of object that can lead back to it:
// a Some of an int or a str is in no cycle, and tracking it would only give
// every collection one more object to look at.
Result<Ref> make_payload(PyTypeObject* type, Ref value) {
    PyObject* o = reinterpret_cast<PyObject*>(PyObject_GC_New(Native<Payload>, type));
    if (!o) return Error::fetch();
    bool container = PyObject_IS_GC(value.get());
    new (&state_of<Payload>(o)) Payload(std::move(value));
    if (container) PyObject_GC_Track(o);
    return Ref::steal(o);
}

// An empty option: nothing to zero and nothing to track.
Result<Ref> make_empty(PyTypeObject* type) {
    PyObject* o = reinterpret_cast<PyObject*>(PyObject_New(Native<NoState>, type));
    if (!o) return Error::fetch();
    new (&state_of<NoState>(o)) NoState();
    return Ref::steal(o);
}

// Calling the class goes straight to the constructor body, with the
// arguments where the caller put them: the interpreter's own route would
// pack them into a tuple and then run object.__init__, which does nothing
// here.
template <FixedString Class, auto B>
PyObject* construct(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) noexcept {
    return fast_entry<Concat<Class, ".__new__">::value, B>(type, args, static_cast<Py_ssize_t>(nargsf), kwnames);
}

extern TypeCell some_cell;
extern TypeCell nothing_cell;
extern TypeCell ok_cell;
extern TypeCell err_cell;

Result<Ref> wrap(const ModuleState& module, const TypeCell& cell, Ref value) {
    QB_TRY(PyTypeObject * type, cell.get(module));
    return make_payload(type, std::move(value));
}

// The module state of a value's own class.
ModuleState& state_of_value(PyObject* self) noexcept { return type_state(Py_TYPE(self)); }

// ---- slots shared by the payload classes ------------------------------------

// == compares payloads of the same class through the payload's own __eq__,
// with no identity shortcut (so Some(nan) != itself). Any other operand is
// simply unequal: False, not NotImplemented. != negates the interpreter's
// full ==; ordering is refused.
using Equal = Result<bool> (*)(PyObject* self, PyObject* other);

Result<Ref> equality(PyObject* self, PyObject* other, int op, Equal equal) {
    if (op == Py_NE) {
        QB_TRY(Ref eq, checked(PyObject_RichCompare(self, other, Py_EQ)));
        QB_TRY(bool t, is_true(eq.get()));
        return bool_ref(!t);
    }
    if (op != Py_EQ) return Ref::borrow(Py_NotImplemented);
    QB_TRY(bool t, equal(self, other));
    return bool_ref(t);
}

// The classes cannot be subclassed, so self's type is the class itself.
Result<bool> payload_equal(PyObject* self, PyObject* other) {
    if (!PyObject_TypeCheck(other, Py_TYPE(self))) return false;
    QB_TRY(Ref eq, checked(PyObject_RichCompare(payload(self), payload(other), Py_EQ)));
    return is_true(eq.get());
}

Result<bool> nothing_equal(PyObject* self, PyObject* other) { return PyObject_TypeCheck(other, Py_TYPE(self)) != 0; }

PyObject* payload_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    return guarded([&] { return equality(self, other, op, payload_equal); });
}

PyObject* nothing_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    return guarded([&] { return equality(self, other, op, nothing_equal); });
}

// "Name(" + repr(payload) + ")"; a failing repr propagates.
template <FixedString Name>
PyObject* payload_repr(PyObject* self) noexcept {
    return guarded([&] { return checked(PyUnicode_FromFormat("%s(%R)", Name.data, payload(self))); });
}

PyObject* nothing_repr(PyObject*) noexcept {
    return guarded([] { return checked(PyUnicode_FromString("Nothing")); });
}

// Success and presence are true whatever the payload; so `if opt:` tests presence.
int always_true(PyObject*) noexcept { return 1; }
int always_false(PyObject*) noexcept { return 0; }

// The payload itself, read-only (no setter: assignment raises AttributeError).
PyObject* payload_get(PyObject* self, void*) noexcept { return Py_NewRef(payload(self)); }

// ---- Some -----------------------------------------------------------------------

// The constructor of Some, Ok and Err; the body receives the class as self.
Result<Ref> value_new(Args<"value">& a) {
    return make_payload(reinterpret_cast<PyTypeObject*>(a.self), Ref::borrow(a.get<"value">()));
}

Result<Ref> error_new(Args<"error">& a) {
    return make_payload(reinterpret_cast<PyTypeObject*>(a.self), Ref::borrow(a.get<"error">()));
}

Result<Ref> some_map(Args<"$self, f">& a) {
    QB_TRY(Ref r, call(a.get<"f">(), payload(a.self)));
    return wrap(a.state(), some_cell, std::move(r));
}

Result<Ref> some_and_then(Args<"$self, f">& a) {
    QB_TRY(Ref r, call(a.get<"f">(), payload(a.self)));
    if (!is_option(r.get())) return Error::type_error("and_then callback must return an Option");
    return r;
}

Result<Ref> some_filter(Args<"$self, pred">& a) {
    QB_TRY(Ref verdict, call(a.get<"pred">(), payload(a.self)));
    QB_TRY(bool keep, is_true(verdict.get()));
    return keep ? make_some(a.state(), payload(a.self)) : make_nothing(a.state());
}

Result<Ref> some_unwrap(PyObject* self) { return Ref::borrow(payload(self)); }
// The payload itself, whatever the argument (unwrap_or, unwrap_or_else).
template <FixedString P>
Result<Ref> own_payload(Args<P>& a) {
    return Ref::borrow(payload(a.self));
}
Result<Ref> some_ok_or(Args<"$self, err">& a) { return make_ok(a.state(), payload(a.self)); }
Result<Ref> yes(PyObject*) { return bool_ref(true); }
Result<Ref> no(PyObject*) { return bool_ref(false); }

PyMethodDef some_methods[] = {
    QB_METHOD("Some", "map", some_map),
    QB_METHOD("Some", "and_then", some_and_then),
    QB_METHOD("Some", "filter", some_filter),
    QB_METHOD0("Some", "unwrap", some_unwrap),
    QB_METHOD("Some", "unwrap_or", own_payload<"$self, default">),
    QB_METHOD("Some", "unwrap_or_else", own_payload<"$self, f">),
    QB_METHOD("Some", "ok_or", some_ok_or),
    QB_METHOD0("Some", "is_some", yes),
    QB_METHOD0("Some", "is_none", no),
    QB_METHODS_END,
};

PyGetSetDef value_getset[] = {
    {"value", payload_get, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef error_getset[] = {
    {"error", payload_get, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

ClassSpec<Payload> some_spec("quibra._quibra.Some", {
    {Py_tp_doc, const_cast<char*>(constructor_doc<"Some", value_new>())},
    {Py_tp_new, reinterpret_cast<void*>(&new_slot<"Some", value_new>)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(&construct<"Some", value_new>)},
    {Py_tp_methods, some_methods},
    {Py_nb_bool, reinterpret_cast<void*>(&always_true)},
    {Py_tp_repr, reinterpret_cast<void*>(&payload_repr<"Some">)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&payload_richcompare)},
    {Py_tp_getset, value_getset},
});

// ---- NothingType ------------------------------------------------------------------

Result<Ref> nothing_new(Args<"">& a) { return make_empty(reinterpret_cast<PyTypeObject*>(a.self)); }
// A new empty option, whatever the argument (map, and_then, filter).
template <FixedString P>
Result<Ref> fresh_nothing(Args<P>& a) {
    return make_nothing(a.state());
}

Result<Ref> nothing_unwrap(PyObject*) { return Error::value_error("called `unwrap` on Nothing"); }
Result<Ref> nothing_unwrap_or(Args<"$self, default">& a) { return Ref::borrow(a.get<"default">()); }
Result<Ref> nothing_unwrap_or_else(Args<"$self, f">& a) { return call(a.get<"f">()); }
Result<Ref> nothing_ok_or(Args<"$self, err">& a) { return make_err(a.state(), a.get<"err">()); }

PyMethodDef nothing_methods[] = {
    QB_METHOD("NothingType", "map", fresh_nothing<"$self, f">),
    QB_METHOD("NothingType", "and_then", fresh_nothing<"$self, f">),
    QB_METHOD("NothingType", "filter", fresh_nothing<"$self, pred">),
    QB_METHOD0("NothingType", "unwrap", nothing_unwrap),
    QB_METHOD("NothingType", "unwrap_or", nothing_unwrap_or),
    QB_METHOD("NothingType", "unwrap_or_else", nothing_unwrap_or_else),
    QB_METHOD("NothingType", "ok_or", nothing_ok_or),
    QB_METHOD0("NothingType", "is_some", no),
    QB_METHOD0("NothingType", "is_none", yes),
    QB_METHODS_END,
};

ClassSpec<NoState> nothing_spec("quibra._quibra.NothingType", {
    {Py_tp_doc, const_cast<char*>(constructor_doc<"NothingType", nothing_new>())},
    {Py_tp_new, reinterpret_cast<void*>(&new_slot<"NothingType", nothing_new>)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(&construct<"NothingType", nothing_new>)},
    {Py_tp_methods, nothing_methods},
    {Py_nb_bool, reinterpret_cast<void*>(&always_false)},
    {Py_tp_repr, reinterpret_cast<void*>(&nothing_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&nothing_richcompare)},
});

// ---- Ok ---------------------------------------------------------------------------

Result<Ref> ok_map(Args<"$self, f">& a) {
    QB_TRY(Ref r, call(a.get<"f">(), payload(a.self)));
    return wrap(a.state(), ok_cell, std::move(r));
}

Result<Ref> ok_and_then(Args<"$self, f">& a) {
    QB_TRY(Ref r, call(a.get<"f">(), payload(a.self)));
    if (!is_result(r.get())) return Error::type_error("and_then callback must return a Result");
    return r;
}

Result<Ref> ok_same(Args<"$self, f">& a) { return make_ok(a.state(), payload(a.self)); }
Result<Ref> ok_unwrap(PyObject* self) { return Ref::borrow(payload(self)); }
Result<Ref> ok_ok(PyObject* self) { return make_some(state_of_value(self), payload(self)); }
Result<Ref> nothing_of(PyObject* self) { return make_nothing(state_of_value(self)); }

PyMethodDef ok_methods[] = {
    QB_METHOD("Ok", "map", ok_map),
    QB_METHOD("Ok", "map_err", ok_same),
    QB_METHOD("Ok", "and_then", ok_and_then),
    QB_METHOD0("Ok", "unwrap", ok_unwrap),
    QB_METHOD("Ok", "unwrap_or", own_payload<"$self, default">),
    QB_METHOD0("Ok", "ok", ok_ok),
    QB_METHOD0("Ok", "err", nothing_of),
    QB_METHOD0("Ok", "is_ok", yes),
    QB_METHOD0("Ok", "is_err", no),
    QB_METHODS_END,
};

ClassSpec<Payload> ok_spec("quibra._quibra.Ok", {
    {Py_tp_doc, const_cast<char*>(constructor_doc<"Ok", value_new>())},
    {Py_tp_new, reinterpret_cast<void*>(&new_slot<"Ok", value_new>)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(&construct<"Ok", value_new>)},
    {Py_tp_methods, ok_methods},
    {Py_nb_bool, reinterpret_cast<void*>(&always_true)},
    {Py_tp_repr, reinterpret_cast<void*>(&payload_repr<"Ok">)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&payload_richcompare)},
    {Py_tp_getset, value_getset},
});

// ---- Err --------------------------------------------------------------------------

Result<Ref> err_same(Args<"$self, f">& a) { return make_err(a.state(), payload(a.self)); }

Result<Ref> err_map_err(Args<"$self, f">& a) {
    QB_TRY(Ref r, call(a.get<"f">(), payload(a.self)));
    return wrap(a.state(), err_cell, std::move(r));
}

// The repr is taken first: if it fails, that exception replaces the ValueError.
Result<Ref> err_unwrap(PyObject* self) {
    QB_TRY(Ref text, checked(PyUnicode_FromFormat("called `unwrap` on Err(%R)", payload(self))));
    PyErr_SetObject(PyExc_ValueError, text.get());
    return Error::fetch();
}

Result<Ref> err_unwrap_or(Args<"$self, default">& a) { return Ref::borrow(a.get<"default">()); }
Result<Ref> err_err(PyObject* self) { return make_some(state_of_value(self), payload(self)); }

PyMethodDef err_methods[] = {
    QB_METHOD("Err", "map", err_same),
    QB_METHOD("Err", "map_err", err_map_err),
    QB_METHOD("Err", "and_then", err_same),
    QB_METHOD0("Err", "unwrap", err_unwrap),
    QB_METHOD("Err", "unwrap_or", err_unwrap_or),
    QB_METHOD0("Err", "ok", nothing_of),
    QB_METHOD0("Err", "err", err_err),
    QB_METHOD0("Err", "is_ok", no),
    QB_METHOD0("Err", "is_err", yes),
    QB_METHODS_END,
};

ClassSpec<Payload> err_spec("quibra._quibra.Err", {
    {Py_tp_doc, const_cast<char*>(constructor_doc<"Err", error_new>())},
    {Py_tp_new, reinterpret_cast<void*>(&new_slot<"Err", error_new>)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(&construct<"Err", error_new>)},
    {Py_tp_methods, err_methods},
    {Py_nb_bool, reinterpret_cast<void*>(&always_false)},
    {Py_tp_repr, reinterpret_cast<void*>(&payload_repr<"Err">)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&payload_richcompare)},
    {Py_tp_getset, error_getset},
});

// A class attribute cannot come from a type spec: `case Some(v):` needs
// __match_args__ set on the class right after it is made.
Status set_match_args(PyTypeObject* type, const char* field) {
    QB_TRY(Ref args, checked(Py_BuildValue("(s)", field)));
    return checked_status(PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "__match_args__", args.get()));
}

TypeCell some_cell("Some", some_spec, [](PyTypeObject* t) { return set_match_args(t, "value"); });
TypeCell nothing_cell("NothingType", nothing_spec);
TypeCell ok_cell("Ok", ok_spec, [](PyTypeObject* t) { return set_match_args(t, "value"); });
TypeCell err_cell("Err", err_spec, [](PyTypeObject* t) { return set_match_args(t, "error"); });

Result<Ref> make_module_nothing(PyObject* module) { return make_nothing(module_state(module)); }

Registrar registrar(nullptr, {&some_cell, &nothing_cell, &ok_cell, &err_cell}, {{"Nothing", make_module_nothing}});

}  // namespace

Result<Ref> make_some(const ModuleState& module, PyObject* value) { return wrap(module, some_cell, Ref::borrow(value)); }
Result<Ref> make_ok(const ModuleState& module, PyObject* value) { return wrap(module, ok_cell, Ref::borrow(value)); }
Result<Ref> make_err(const ModuleState& module, PyObject* error) { return wrap(module, err_cell, Ref::borrow(error)); }

Result<Ref> make_nothing(const ModuleState& module) {
    QB_TRY(PyTypeObject * type, nothing_cell.get(module));
    return make_empty(type);
}

bool is_some(PyObject* o) { return some_cell.instance(o); }
bool is_nothing(PyObject* o) { return nothing_cell.instance(o); }
bool is_ok(PyObject* o) { return ok_cell.instance(o); }
bool is_err(PyObject* o) { return err_cell.instance(o); }

}  // namespace quibra
