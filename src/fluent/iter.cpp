// Iter: a fluent front over one iterable. Every lazy method builds exactly
// what the module function of the same purpose builds (the constructions
// are shared, never written twice) and wraps it in a new Iter; the terminal
// methods return plain values or options. An Iter never changes, so it has
// no guard: the iterators it makes carry their own.
#include "option/option.hpp"
#include "sequences/access.hpp"
#include "sequences/counting.hpp"
#include "sequences/pluck.hpp"
#include "sequences/slicing.hpp"
#include "sequences/steps.hpp"
#include "sequences/unique.hpp"
#include "sequences/windows.hpp"
#include "utils/binding.hpp"
#include "utils/recursion.hpp"
#include "utils/registry.hpp"
#include "utils/sources.hpp"

namespace quibra {

namespace {

struct IterState {
    Ref inner;  // any object; not checked, not iterated, not exposed

    explicit IterState(Ref i) noexcept : inner(std::move(i)) {}
    int traverse(const Visitor& visit) const { return visit(inner); }
};

// Looked up in these modules at every call, as the methods promise.
CachedModule builtins_module("builtins");
CachedModule functools_module("functools");
InternedName map_name("map"), filter_name("filter"), list_name("list"), dict_name("dict"), reduce_name("reduce");

PyObject* inner_of(PyObject* self) noexcept { return state_of<IterState>(self).inner.get(); }

ModuleState& state_of_iter(PyObject* self) noexcept { return type_state(Py_TYPE(self)); }

// A fresh Iter (of self's own class) around a result the method built.
Result<Ref> wrap(PyObject* self, Result<Ref> built) {
    if (!built) return std::move(built).error();
    return make_native<IterState>(Py_TYPE(self), std::move(built).value());
}

// builtins.<name>(inner), the builtin looked up at every call.
Result<Ref> builtin_of_inner(InternedName& name, PyObject* self) {
    QB_TRY(Ref fn, builtins_module.attr(state_of_iter(self), name));
    return call(fn.get(), inner_of(self));
}

// builtins.<name>(f, inner).
Result<Ref> builtin_with(InternedName& name, PyObject* f, PyObject* self) {
    QB_TRY(Ref fn, builtins_module.attr(state_of_iter(self), name));
    return call(fn.get(), f, inner_of(self));
}

// ---- construction and iteration -------------------------------------------------

Result<Ref> iter_new(Args<"inner">& a) {
    return make_native<IterState>(reinterpret_cast<PyTypeObject*>(a.self), Ref::borrow(a.get<"inner">()));
}

// iter(inner): the inner object's own iterator, not an Iter. An Iter around
// an Iter asks that one in turn, natively.
PyObject* iter_iter(PyObject* self) noexcept {
    RecursionGuard depth(" in __iter__");
    if (!depth.entered()) return nullptr;
    return PyObject_GetIter(inner_of(self));
}

// ---- lazy methods ---------------------------------------------------------------

Result<Ref> map_method(Args<"$self, f">& a) { return wrap(a.self, builtin_with(map_name, a.get<"f">(), a.self)); }
Result<Ref> filter_method(Args<"$self, f">& a) { return wrap(a.self, builtin_with(filter_name, a.get<"f">(), a.self)); }

Result<Ref> unique_method(Args<"$self, key=None">& a) { return wrap(a.self, build_unique(a.state(), inner_of(a.self), a.get<"key">())); }

// n is converted to an unsigned count before anything else, so -1 fails in
// conversion rather than inside islice. An exact int is its own value.
template <FixedString P>
Result<Ref> count_arg(Args<P>& a) {
    QB_TRY(unsigned long long n, a.template to_u64<"n">());
    PyObject* given = a.template get<"n">();
    if (PyLong_CheckExact(given)) return Ref::borrow(given);
    return checked(PyLong_FromUnsignedLongLong(n));
}

Result<Ref> take_method(Args<"$self, n">& a) {
    QB_TRY(Ref n, count_arg(a));
    return wrap(a.self, take_iter(a.state(), n.get(), inner_of(a.self)));
}

Result<Ref> drop_method(Args<"$self, n">& a) {
    QB_TRY(Ref n, count_arg(a));
    return wrap(a.self, drop_iter(a.state(), n.get(), inner_of(a.self)));
}

Result<Ref> sliding_window_method(Args<"$self, n">& a) {
    QB_TRY(unsigned long long n, a.to_u64<"n">());
    return wrap(a.self, build_sliding_window(a.state(), n, inner_of(a.self)));
}

Result<Ref> partition_all_method(Args<"$self, n">& a) {
    QB_TRY(unsigned long long n, a.to_u64<"n">());
    return wrap(a.self, build_chunker(a.state(), n, inner_of(a.self)));
}

Result<Ref> flat_map_method(Args<"$self, f">& a) {
    return wrap(a.self, flat_map_iter(a.state(), a.get<"f">(), inner_of(a.self)));
}

Result<Ref> pluck_method(Args<"$self, ind">& a) {
    return wrap(a.self, build_pluck(a.state(), a.get<"ind">(), inner_of(a.self), nullptr));
}

// Unlike interpose(), nothing is read now: the first element (if any) comes
// with the first step, so an empty inner simply yields nothing.
Result<Ref> interpose_method(Args<"$self, el">& a) {
    QB_TRY(RawSource source, RawSource::open(inner_of(a.self)));
    return wrap(a.self, build_interpose(a.state(), a.get<"el">(), std::move(source)));
}

Result<Ref> accumulate_method(Args<"$self, binop">& a) {
    return wrap(a.self, accumulate_iter(a.state(), a.get<"binop">(), inner_of(a.self), nullptr));
}

// ---- terminal methods -----------------------------------------------------------

Result<Ref> collect_method(PyObject* self) { return builtin_of_inner(list_name, self); }
Result<Ref> to_dict_method(PyObject* self) { return builtin_of_inner(dict_name, self); }

Result<Ref> reduce_method(Args<"$self, binop, *rest">& a) {
    QB_TRY(PyObject * initial, a.optional_rest("reduce", 2));
    QB_TRY(Ref reduce, functools_module.attr(a.state(), reduce_name));
    if (initial) return call(reduce.get(), a.get<"binop">(), inner_of(a.self), initial);
    return call(reduce.get(), a.get<"binop">(), inner_of(a.self));
}

Result<Ref> count_method(PyObject* self) {
    QB_TRY(unsigned long long n, count_of(state_of_iter(self), inner_of(self)));
    return checked(PyLong_FromUnsignedLongLong(n));
}

Result<Ref> frequencies_method(PyObject* self) { return frequencies_of(inner_of(self)); }
Result<Ref> group_by_method(Args<"$self, key">& a) { return groupby_of(a.get<"key">(), inner_of(a.self)); }

Result<Ref> first_method(PyObject* self) { return first_opt_of(state_of_iter(self), inner_of(self)); }
Result<Ref> last_method(PyObject* self) { return last_opt_of(state_of_iter(self), inner_of(self)); }

Result<Ref> nth_method(Args<"$self, i">& a) {
    QB_TRY(unsigned long long i, a.to_u64<"i">());
    return nth_opt_of(a.state(), i, inner_of(a.self));
}

PyMethodDef iter_methods[] = {
    QB_METHOD("Iter", "map", map_method),
    QB_METHOD("Iter", "filter", filter_method),
    QB_METHOD("Iter", "unique", unique_method),
    QB_METHOD("Iter", "take", take_method),
    QB_METHOD("Iter", "drop", drop_method),
    QB_METHOD("Iter", "sliding_window", sliding_window_method),
    QB_METHOD("Iter", "partition_all", partition_all_method),
    QB_METHOD("Iter", "flat_map", flat_map_method),
    QB_METHOD("Iter", "pluck", pluck_method),
    QB_METHOD("Iter", "interpose", interpose_method),
    QB_METHOD("Iter", "accumulate", accumulate_method),
    QB_METHOD0("Iter", "collect", collect_method),
    QB_METHOD("Iter", "reduce", reduce_method),
    QB_METHOD0("Iter", "count", count_method),
    QB_METHOD0("Iter", "frequencies", frequencies_method),
    QB_METHOD("Iter", "group_by", group_by_method),
    QB_METHOD0("Iter", "to_dict", to_dict_method),
    QB_METHOD0("Iter", "first", first_method),
    QB_METHOD0("Iter", "last", last_method),
    QB_METHOD("Iter", "nth", nth_method),
    QB_METHODS_END,
};

ClassSpec<IterState> iter_spec("quibra._quibra.Iter", {
    {Py_tp_new, reinterpret_cast<void*>(&new_slot<"Iter", iter_new>)},
    {Py_tp_iter, reinterpret_cast<void*>(&iter_iter)},
    {Py_tp_methods, iter_methods},
    {Py_tp_doc, const_cast<char*>(constructor_doc<"Iter", iter_new>())},
});
TypeCell iter_type("Iter", iter_spec);

Registrar registrar(nullptr, {&iter_type});

}  // namespace

}  // namespace quibra
