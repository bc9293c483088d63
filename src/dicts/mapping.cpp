// New mappings built entry by entry from one input mapping: keymap, valmap,
// itemmap, keyfilter, valfilter, itemfilter. One loop serves all six; they
// differ only in what the user function sees and what is stored.
#include "dicts/conventions.hpp"

#include "utils/binding.hpp"
#include "utils/registry.hpp"

namespace quibra::dicts {

namespace {

enum class Op { KeyMap, ValMap, ItemMap, KeyFilter, ValFilter, ItemFilter };

Result<Ref> pair_of(PyObject* key, PyObject* value) {
    QB_TRY(Ref pair, new_tuple(2));
    PyTuple_SET_ITEM(pair.get(), 0, Py_NewRef(key));
    PyTuple_SET_ITEM(pair.get(), 1, Py_NewRef(value));
    return pair;
}

constexpr const char kTooShort[] = "dictionary update sequence element has length < 2; 2 is required";
constexpr const char kTooLong[] = "dictionary update sequence element has length > 2; 2 is required";

// Stores the two items of `p`, which must yield exactly two.
Status store_unpacked(PyObject* result, PyObject* p) {
    if (PyTuple_CheckExact(p) || PyList_CheckExact(p)) {
        Py_ssize_t n = PySequence_Fast_GET_SIZE(p);
        if (n != 2) return Error::value_error(n < 2 ? kTooShort : kTooLong);
        Ref first = Ref::borrow(PySequence_Fast_GET_ITEM(p, 0));
        Ref second = Ref::borrow(PySequence_Fast_GET_ITEM(p, 1));
        return store(result, first.get(), second.get());
    }
    QB_TRY(Ref it, get_iter(p));
    QB_TRY(Ref first, next_item(it.get()));
    if (!first) return Error::value_error(kTooShort);
    QB_TRY(Ref second, next_item(it.get()));
    if (!second) return Error::value_error(kTooShort);
    QB_TRY(Ref third, next_item(it.get()));
    if (third) return Error::value_error(kTooLong);
    return store(result, first.get(), second.get());
}

template <Op op>
Status apply_to_entry(PyObject* func, PyObject* result, PyObject* key, PyObject* value) {
    if constexpr (op == Op::KeyMap) {
        QB_TRY(Ref new_key, checked(call_one_raw(func, key)));
        return store(result, new_key.get(), value);
    } else if constexpr (op == Op::ValMap) {
        QB_TRY(Ref new_value, checked(call_one_raw(func, value)));
        return store(result, key, new_value.get());
    } else if constexpr (op == Op::ItemMap) {
        QB_TRY(Ref pair, pair_of(key, value));
        QB_TRY(Ref mapped, call(func, pair.get()));
        return store_unpacked(result, mapped.get());
    } else {
        Ref verdict;
        if constexpr (op == Op::KeyFilter) {
            QB_TRY(verdict, call(func, key));
        } else if constexpr (op == Op::ValFilter) {
            QB_TRY(verdict, call(func, value));
        } else {
            QB_TRY(Ref pair, pair_of(key, value));
            QB_TRY(verdict, call(func, pair.get()));
        }
        QB_TRY(bool keep, is_true(verdict.get()));
        if (!keep) return success();
        return store(result, key, value);
    }
}

template <Op op>
Result<Ref> transform(ModuleState& module, PyObject* func, PyObject* d, PyObject* factory) {
    // The container comes first: the factory runs even if `d` is unusable.
    QB_TRY(Ref result, make_container(factory, PyDict_CheckExact(d) ? PyDict_GET_SIZE(d) : 0));
    PyObject* out = result.get();
    QB_CHECK(for_each_item(module, d, [func, out](PyObject* key, PyObject* value) {
        return apply_to_entry<op>(func, out, key, value);
    }));
    return result;
}

template <Op op>
Result<Ref> map_body(Args<"func, d, factory=None">& a) {
    return transform<op>(a.state(), a.get<"func">(), a.get<"d">(), a.get<"factory">());
}

template <Op op>
Result<Ref> filter_body(Args<"predicate, d, factory=None">& a) {
    return transform<op>(a.state(), a.get<"predicate">(), a.get<"d">(), a.get<"factory">());
}

PyMethodDef functions[] = {
    QB_FUNCTION("keymap", map_body<Op::KeyMap>),
    QB_FUNCTION("valmap", map_body<Op::ValMap>),
    QB_FUNCTION("itemmap", map_body<Op::ItemMap>),
    QB_FUNCTION("keyfilter", filter_body<Op::KeyFilter>),
    QB_FUNCTION("valfilter", filter_body<Op::ValFilter>),
    QB_FUNCTION("itemfilter", filter_body<Op::ItemFilter>),
    QB_METHODS_END,
};

Registrar registrar(functions);

}  // namespace

}  // namespace quibra::dicts
